// The server program run as a child process by the tests, under a chosen
// descriptor limit, with what the tests measure of it: its threads' CPU time
// and its open descriptors.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace vorlix::testkit {

using namespace std::chrono_literals;

// The server program as a child in `workDir`, its standard error in a file,
// with at most `maxDescriptors` open descriptors when > 0. Killed at the end.
class ServerChild {
public:
    ServerChild(const std::string& program, const std::string& workDir, const std::vector<std::string>& args,
                int maxDescriptors = 0);
    ~ServerChild();
    ServerChild(const ServerChild&) = delete;
    ServerChild& operator=(const ServerChild&) = delete;

    [[nodiscard]] bool Started() const { return pid_ > 0; }
    [[nodiscard]] pid_t Pid() const { return pid_; }
    [[nodiscard]] bool Running();
    [[nodiscard]] std::string Stderr() const;
    // Ends it with SIGTERM and waits; the exit status, -1 when it had to be killed.
    int Stop(std::chrono::milliseconds limit = 5s);
    // The thread named `name` (its /proc comm), 0 when there is none.
    [[nodiscard]] pid_t ThreadNamed(const std::string& name) const;
    // CPU time (user + system) a thread of the child has used.
    [[nodiscard]] std::chrono::milliseconds ThreadCpu(pid_t tid) const;
    [[nodiscard]] int OpenDescriptors() const;

private:
    std::string stderrPath_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

}  // namespace vorlix::testkit
