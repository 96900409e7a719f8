#include "serveur/app/CommandLine.h"

#include <cstdlib>

namespace vorlix::app {

CommandLine ParseCommandLine(std::span<const std::string> args)
{
    CommandLine line;
    bool numberSeen = false;
    for (const std::string& arg : args) {
        if (arg == "--headless") {
            line.headless = true;
        } else if (arg == "--verbose") {
            line.verbose = true;
        } else if (!numberSeen && !arg.starts_with("--")) {
            numberSeen = true;
            const int n = std::atoi(arg.c_str());
            line.camera = n > 0 ? n : 0;
        }
    }
    return line;
}

}  // namespace vorlix::app
