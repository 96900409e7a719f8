#include "serveur/actions/EditorLauncher.h"

#include <cstdlib>
#include <vector>

#include "libkestrel/exec/CommandLine.h"
#include "libkestrel/exec/Exec.h"
#include "libkestrel/trace/TraceLevels.h"

namespace vorlix {

std::string OpenSettingsEditor(const std::string& editor, const std::string& settingsFile)
{
    std::vector<std::string> candidates;
    if (!editor.empty()) {
        candidates.push_back(editor);
    }
    for (const char* variable : {"VISUAL", "EDITOR"}) {
        if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') {
            candidates.emplace_back(value);
        }
    }
    candidates.emplace_back("xdg-open");
    const std::string file = kestrel::exec::QuoteArgument(settingsFile);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const std::string line = candidates[i] + " " + file;
        if (AsyncExec(line.c_str()) == 1) {
            if (i > 0 || editor.empty()) {
                TRACE_WARN("Editor %s not started, using %s", editor.c_str(), candidates[i].c_str());
            }
            return candidates[i];
        }
    }
    TRACE_WARN("No editor could open %s", settingsFile.c_str());
    return {};
}

}  // namespace vorlix
