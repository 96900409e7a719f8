// A program run as a child by the end-to-end tests: in a working directory,
// its outputs in files there, with what the tests look at while it runs (its
// threads' CPU time, its open descriptors). Every wait has a deadline; a
// child still running at the end is killed and reaped.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrel::test {

struct ChildOptions {
    std::string stdinPath{};                 // empty: standard input is inherited
    std::vector<std::string> environment{};  // "NAME=value" set for the child, "-NAME" taken away
    int maxDescriptors = 0;                  // > 0: the child's limit of open descriptors
};

class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::filesystem::path& workDir, std::vector<std::string> args,
                 const ChildOptions& options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ChildProcess(ChildProcess&&) = delete;
    ChildProcess& operator=(ChildProcess&&) = delete;

    [[nodiscard]] bool Started() const { return pid_ > 0; }
    [[nodiscard]] pid_t Pid() const { return pid_; }
    void Signal(int sig) const;
    [[nodiscard]] bool Running();
    // Waits for the exit; the exit code, or -1 on timeout (still running) or a death by signal.
    int WaitExit(std::chrono::milliseconds limit);
    // SIGTERM and a wait, then SIGKILL; the exit code, -1 when it had to be killed.
    int Stop(std::chrono::milliseconds limit = std::chrono::seconds(5));
    [[nodiscard]] std::string Stdout() const;
    [[nodiscard]] std::string Stderr() const;
    // The thread named `name` (its /proc comm), 0 when there is none.
    [[nodiscard]] pid_t ThreadNamed(const std::string& name) const;
    // CPU time (user + system) a thread of the child has used.
    [[nodiscard]] std::chrono::milliseconds ThreadCpu(pid_t tid) const;
    [[nodiscard]] int OpenDescriptors() const;

private:
    std::filesystem::path stderrPath_;
    std::filesystem::path stdoutPath_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

}  // namespace kestrel::test
