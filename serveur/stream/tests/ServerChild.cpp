#include "serveur/stream/tests/ServerChild.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "libkestrel/testkit/TestKit.h"

namespace vorlix::testkit {

using kestrel::test::ReadFile;
using kestrel::test::WaitUntil;

namespace {
int CountEntries(const std::string& dir)
{
    int count = 0;
    std::error_code ignored;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir, ignored)) {
        ++count;
    }
    return count;
}
}  // namespace

ServerChild::ServerChild(const std::string& program, const std::string& workDir, const std::vector<std::string>& args,
                         int maxDescriptors)
    : stderrPath_(workDir + "/stderr.txt")
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    cargv.reserve(argv.size() + 1);
    for (std::string& a : argv) {
        cargv.push_back(a.data());
    }
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // The child inherits the limit; this process has its own back at once.
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    if (maxDescriptors > 0) {
        rlimit lowered = saved;
        lowered.rlim_cur = static_cast<rlim_t>(maxDescriptors);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, cargv.data(), environ) != 0) {
        pid_ = -1;
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    posix_spawn_file_actions_destroy(&actions);
}

ServerChild::~ServerChild()
{
    if (pid_ > 0 && !exited_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool ServerChild::Running()
{
    int status = 0;
    if (!exited_ && ::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
    }
    return !exited_;
}

std::string ServerChild::Stderr() const
{
    return ReadFile(stderrPath_);
}

int ServerChild::Stop(std::chrono::milliseconds limit)
{
    if (pid_ <= 0 || exited_) {
        return -1;
    }
    ::kill(pid_, SIGTERM);
    int status = 0;
    if (!WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit, 20ms)) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        exited_ = true;
        return -1;
    }
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

pid_t ServerChild::ThreadNamed(const std::string& name) const
{
    const std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(tasks, ignored)) {
        std::string comm = ReadFile(entry.path().string() + "/comm");
        if (!comm.empty() && comm.back() == '\n') {
            comm.pop_back();
        }
        if (comm == name) {
            return static_cast<pid_t>(std::stol(entry.path().filename().string()));
        }
    }
    return 0;
}

std::chrono::milliseconds ServerChild::ThreadCpu(pid_t tid) const
{
    const std::string stat = ReadFile("/proc/" + std::to_string(pid_) + "/task/" + std::to_string(tid) + "/stat");
    // Fields after the command name (which may hold blanks and parentheses):
    // state is field 3, utime 14 and stime 15.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return std::chrono::milliseconds(0);
    }
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    long long ticks = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number >= 14) {
            ticks += std::stoll(field);
        }
    }
    return std::chrono::milliseconds(ticks * 1000 / ::sysconf(_SC_CLK_TCK));
}

int ServerChild::OpenDescriptors() const
{
    return CountEntries("/proc/" + std::to_string(pid_) + "/fd");
}

}  // namespace vorlix::testkit
