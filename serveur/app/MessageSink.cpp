#include "serveur/app/MessageSink.h"

#include <cstdio>

#include "libkestrel/trace/TraceLevels.h"

namespace vorlix::app {

void HeadlessMessageSink::Show(const std::string& text, const std::string& caption)
{
    // A message box's line breaks would split one message over several log lines.
    std::string line;
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            if (!line.empty() && line.back() != ' ') {
                line += ' ';
            }
        } else if (c != ' ' || line.empty() || line.back() != ' ') {
            line += c;
        }
    }
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), line.c_str());
    std::fflush(stderr);
    TRACE_WARN("%s: %s", caption.c_str(), line.c_str());
}

}  // namespace vorlix::app
