// What the server takes from its command line: the camera number and the
// headless switches.
#pragma once

#include <span>
#include <string>

namespace vorlix::app {

inline constexpr int kMaxCamera = 4;

// Where the trace lines go: the trace server (qxtraced), or, with
// "--trace stderr" ("--verbose") and "--trace file", a local output.
enum class TraceOutput { kServer, kStderr, kFile };

struct CommandLine {
    int camera = 0;  // atoi of the first plain argument; anything not positive is 0
    bool headless = false;
    TraceOutput trace = TraceOutput::kServer;
    std::string error;  // an option given wrongly, for the usage message
};

// Options begin with "--" ("--trace" takes the next argument, or
// "--trace=VALUE"); the first other argument is the camera number.
CommandLine ParseCommandLine(std::span<const std::string> args);

}  // namespace vorlix::app
