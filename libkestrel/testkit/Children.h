// Other programs and ports for the tests: a free loopback port, and children
// started without a shell whose every wait has a deadline.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kestrel::test {

using namespace std::chrono_literals;

// A TCP port on 127.0.0.1 that nothing listens on just now; 0 when none
// could be had.
int FreeLoopbackPort();

// Where a child's standard streams go; an empty path is /dev/null. The
// output and error files are created anew unless `appendErr` is set; with
// `errToOut` the errors go to the output file.
struct ChildFiles {
    std::string out{};
    std::string err{};
    bool appendErr = false;
    bool errToOut = false;
};

// Starts argv[0] (a full path, or a name looked up in PATH when
// `searchPath`); the pid, or -1 when it could not be started.
pid_t StartChild(const std::vector<std::string>& argv, const ChildFiles& files, bool searchPath = false);

// The exit status of `pid` once it ends within `limit`; -1 when it was killed
// by a signal or had to be killed after `limit`.
int ReapChild(pid_t pid, std::chrono::milliseconds limit);

// SIGTERM, up to `grace` for the end, then SIGKILL; the child is reaped.
void EndChild(pid_t pid, std::chrono::milliseconds grace = 5s);

// Starts the program and reaps it (see StartChild and ReapChild).
int RunChild(const std::vector<std::string>& argv, const ChildFiles& files, std::chrono::milliseconds limit,
             bool searchPath = false);

}  // namespace kestrel::test
