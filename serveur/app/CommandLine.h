// What the server takes from its command line: the camera number, the
// headless switches and the one-shot commands (help, version, password).
#pragma once

#include <span>
#include <string>

namespace vorlix::app {

inline constexpr int kMaxCamera = 4;

// Where the trace lines go: the trace server (qxtraced), or, with
// "--trace stderr" ("--verbose") and "--trace file", a local output.
enum class TraceOutput { kServer, kStderr, kFile };

// What the program does: run the camera, or print or set something and end.
enum class Command { kRun, kHelp, kVersion, kSetPassword };

struct CommandLine {
    int camera = 0;  // atoi of the first plain argument; anything not positive is 0
    bool headless = false;
    TraceOutput trace = TraceOutput::kServer;
    Command command = Command::kRun;
    std::string error;  // an option given wrongly, for the usage message
};

// Options begin with "-" ("--trace" takes the next argument, or
// "--trace=VALUE"); the first other argument is the camera number ("-2" is a
// number, camera 0). An unknown option or a second camera number is an error.
CommandLine ParseCommandLine(std::span<const std::string> args);

// The text of --help.
std::string UsageText(const std::string& program);
// The text of --version.
std::string VersionText();

}  // namespace vorlix::app
