#include "serveur/app/CommandLine.h"

#include <cstdlib>

#ifndef VORLIX_VERSION
#define VORLIX_VERSION "unknown"
#endif

namespace vorlix::app {

namespace {

// "-2" is a camera number (taken as 0), not an option.
bool IsOption(const std::string& arg)
{
    return !arg.empty() && arg[0] == '-' && !(arg.size() > 1 && arg[1] >= '0' && arg[1] <= '9');
}

}  // namespace

CommandLine ParseCommandLine(std::span<const std::string> args)
{
    CommandLine line;
    bool numberSeen = false;
    const auto fail = [&line](std::string text) {
        if (line.error.empty()) {
            line.error = std::move(text);
        }
    };
    const auto trace = [&line, &fail](const std::string& value) {
        if (value == "stderr") {
            line.trace = TraceOutput::kStderr;
        } else if (value == "file") {
            line.trace = TraceOutput::kFile;
        } else {
            fail("--trace takes stderr or file, not \"" + value + "\"");
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
                fail("--trace takes stderr or file");
            }
        } else if (arg.starts_with("--trace=")) {
            trace(arg.substr(8));
        } else if (arg == "--help" || arg == "-h") {
            line.command = Command::kHelp;
        } else if (arg == "--version") {
            if (line.command != Command::kHelp) {
                line.command = Command::kVersion;
            }
        } else if (arg == "--set-password") {
            if (line.command == Command::kRun) {
                line.command = Command::kSetPassword;
            }
        } else if (IsOption(arg)) {
            fail("unknown option \"" + arg + "\"");
        } else if (numberSeen) {
            fail("one camera number only, not also \"" + arg + "\"");
        } else {
            numberSeen = true;
            // atoi on purpose: "4x" is camera 4, letters are camera 0.
            const int n = std::atoi(arg.c_str());  // NOLINT(cert-err34-c)
            line.camera = n > 0 ? n : 0;
        }
    }
    return line;
}

std::string UsageText(const std::string& program)
{
    return "Usage: " + program +
           " [OPTION]... [CAMERA]\n"
           "The camera server of camera CAMERA (0 to 4, default 0), in the current directory:\n"
           "settings in Vorlix.ini (camera n: Vorlix_n.ini), pictures in files/ (files_n/).\n"
           "\n"
           "  --headless            run without a window (this build always does)\n"
           "  --trace stderr|file   trace lines to standard error, or to files under traces/\n"
           "                        (default: the trace server qxtraced on this machine)\n"
           "  --verbose             the same as --trace stderr\n"
           "  --set-password        set the stream password of CAMERA and end: asked twice\n"
           "                        on a terminal, else one line of standard input; an empty\n"
           "                        password removes it\n"
           "  -h, --help            show this help and end\n"
           "  --version             show the version and end\n"
           "\n"
           "SIGHUP reloads the settings; SIGTERM or SIGINT ends the server.\n";
}

std::string VersionText()
{
    return std::string("vorlix ") + VORLIX_VERSION + "\n";
}

}  // namespace vorlix::app
