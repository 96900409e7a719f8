// What the server takes from its command line: the camera number and the
// headless switches.
#pragma once

#include <span>
#include <string>

namespace vorlix::app {

inline constexpr int kMaxCamera = 4;

struct CommandLine {
    int camera = 0;  // atoi of the first plain argument; anything not positive is 0
    bool headless = false;
    bool verbose = false;  // trace lines to standard error
};

// Options begin with "--"; the first other argument is the camera number.
CommandLine ParseCommandLine(std::span<const std::string> args);

}  // namespace vorlix::app
