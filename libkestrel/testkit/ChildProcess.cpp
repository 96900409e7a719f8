#include "libkestrel/testkit/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <sstream>

#include "libkestrel/testkit/TestKit.h"

namespace kestrel::test {

namespace {

std::atomic<int> g_children{0};

std::vector<char*> Pointers(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// This process's environment with `changes` made.
std::vector<std::string> Environment(const std::vector<std::string>& changes)
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        env.emplace_back(*e);
    }
    for (const std::string& change : changes) {
        const bool remove = change.starts_with("-");
        const std::string name = remove ? change.substr(1) : change.substr(0, change.find('='));
        std::erase_if(env, [&name](const std::string& e) { return e.starts_with(name + "="); });
        if (!remove) {
            env.push_back(change);
        }
    }
    return env;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::filesystem::path& workDir,
                           std::vector<std::string> args, const ChildOptions& options)
{
    const int number = g_children.fetch_add(1);
    stderrPath_ = workDir / ("stderr_" + std::to_string(number) + ".txt");
    stdoutPath_ = workDir / ("stdout_" + std::to_string(number) + ".txt");
    args.insert(args.begin(), program);
    std::vector<char*> argv = Pointers(args);
    std::vector<std::string> env = Environment(options.environment);
    std::vector<char*> envp = Pointers(env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!options.stdinPath.empty()) {
        posix_spawn_file_actions_addopen(&actions, 0, options.stdinPath.c_str(), O_RDONLY, 0);
    }
    // The child inherits the limit; this process has its own back at once.
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    if (options.maxDescriptors > 0) {
        rlimit lowered = saved;
        lowered.rlim_cur = static_cast<rlim_t>(options.maxDescriptors);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid_ = -1;
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess()
{
    if (pid_ > 0 && !exited_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

void ChildProcess::Signal(int sig) const
{
    if (pid_ > 0) {
        ::kill(pid_, sig);
    }
}

bool ChildProcess::Running()
{
    int status = 0;
    if (pid_ > 0 && !exited_ && ::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
    }
    return pid_ > 0 && !exited_;
}

int ChildProcess::WaitExit(std::chrono::milliseconds limit)
{
    if (pid_ <= 0 || exited_) {
        return -1;
    }
    int status = 0;
    if (!WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit, std::chrono::milliseconds(5))) {
        return -1;
    }
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ChildProcess::Stop(std::chrono::milliseconds limit)
{
    if (pid_ <= 0 || exited_) {
        return -1;
    }
    ::kill(pid_, SIGTERM);
    const int code = WaitExit(limit);
    if (!exited_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        exited_ = true;
    }
    return code;
}

std::string ChildProcess::Stdout() const
{
    return ReadFile(stdoutPath_.string());
}

std::string ChildProcess::Stderr() const
{
    return ReadFile(stderrPath_.string());
}

pid_t ChildProcess::ThreadNamed(const std::string& name) const
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

std::chrono::milliseconds ChildProcess::ThreadCpu(pid_t tid) const
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

int ChildProcess::OpenDescriptors() const
{
    int count = 0;
    std::error_code ignored;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", ignored)) {
        ++count;
    }
    return count;
}

}  // namespace kestrel::test
