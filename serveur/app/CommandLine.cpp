#include "serveur/app/CommandLine.h"

#include <cstdlib>

namespace vorlix::app {

CommandLine ParseCommandLine(std::span<const std::string> args)
{
    CommandLine line;
    bool numberSeen = false;
    const auto trace = [&line](const std::string& value) {
        if (value == "stderr") {
            line.trace = TraceOutput::kStderr;
        } else if (value == "file") {
            line.trace = TraceOutput::kFile;
        } else {
            line.error = "--trace takes stderr or file, not \"" + value + "\"";
        }
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--headless") {
            line.headless = true;
        } else if (arg == "--verbose") {
            line.trace = TraceOutput::kStderr;
        } else if (arg == "--trace") {
            if (i + 1 < args.size()) {
                trace(args[++i]);
            } else {
                line.error = "--trace takes stderr or file";
            }
        } else if (arg.starts_with("--trace=")) {
            trace(arg.substr(8));
        } else if (!numberSeen && !arg.starts_with("--")) {
            numberSeen = true;
            // atoi on purpose: "4x" is camera 4, letters are camera 0.
            const int n = std::atoi(arg.c_str());  // NOLINT(cert-err34-c)
            line.camera = n > 0 ? n : 0;
        }
    }
    return line;
}

}  // namespace vorlix::app
