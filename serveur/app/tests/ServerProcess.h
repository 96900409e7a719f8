// Runs the built server program as a child in a working directory, with its
// standard error captured to a file, for the end-to-end tests.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "libkestrel/testkit/TestKit.h"

namespace vorlix::app::testing {

class ServerProcess {
public:
    // `stdinPath` empty: standard input is inherited. `environment`:
    // "NAME=value" set for the child, "-NAME" taken away from it.
    ServerProcess(const std::string& program, const std::filesystem::path& workDir, std::vector<std::string> args,
                  const std::string& stdinPath = {}, const std::vector<std::string>& environment = {})
        : stderrPath_(workDir / ("stderr_" + std::to_string(counter_) + ".txt")),
          stdoutPath_(workDir / ("stdout_" + std::to_string(counter_) + ".txt"))
    {
        ++counter_;
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        cargv.reserve(argv.size() + 1);
        for (auto& a : argv) {
            cargv.push_back(a.data());
        }
        cargv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
        posix_spawn_file_actions_addopen(&actions, 2, stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 1, stdoutPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (!stdinPath.empty()) {
            posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
        }
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            env.emplace_back(*e);
        }
        for (const std::string& change : environment) {
            const bool remove = change.starts_with("-");
            const std::string name = remove ? change.substr(1) : change.substr(0, change.find('='));
            std::erase_if(env, [&name](const std::string& e) { return e.starts_with(name + "="); });
            if (!remove) {
                env.push_back(change);
            }
        }
        std::vector<char*> cenv;
        cenv.reserve(env.size() + 1);
        for (auto& e : env) {
            cenv.push_back(e.data());
        }
        cenv.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, cargv.data(), cenv.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ServerProcess()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    void Signal(int sig) const { kill(pid_, sig); }

    // Waits for the exit; returns the exit code, or -1 on timeout or a signal death.
    int WaitExit(std::chrono::milliseconds limit)
    {
        int status = 0;
        const bool ended = kestrel::test::WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit,
                                                    std::chrono::milliseconds(5));
        if (!ended) {
            return -1;
        }
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    bool Running()
    {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
        }
        return !exited_;
    }
    std::string Stdout() const { return Read(stdoutPath_); }
    std::string Stderr() const { return Read(stderrPath_); }

private:
    static std::string Read(const std::filesystem::path& path)
    {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    static inline int counter_ = 0;
    std::filesystem::path stderrPath_;
    std::filesystem::path stdoutPath_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

}  // namespace vorlix::app::testing
