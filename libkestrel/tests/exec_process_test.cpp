// Starting programs: results, traces, exit status, argument integrity and
// that no started child is ever left as a zombie.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "libkestrel/error/QXError.h"
#include "libkestrel/exec/Exec.h"
#include "libkestrel/trace/QXTrace.h"

namespace fs = std::filesystem;

namespace {

std::mutex g_linesLock;
std::vector<std::string> g_lines;

void CaptureLine(int /*level*/, const char* format, ...)
{
    char buffer[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized)
    va_end(args);
    const std::lock_guard lock(g_linesLock);
    g_lines.emplace_back(buffer);
}

bool Traced(const std::string& part)
{
    const std::lock_guard lock(g_linesLock);
    for (const std::string& line : g_lines) {
        if (line.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Children of this process that have ended but were not reaped.
int ZombieChildren()
{
    int zombies = 0;
    const std::string self = std::to_string(getpid());
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const std::string stat = ReadFile(entry.path() / "stat");
        const auto close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream fields(stat.substr(close + 2));
        std::string state;
        std::string parent;
        fields >> state >> parent;
        if (parent == self && state == "Z") {
            ++zombies;
        }
    }
    return zombies;
}

// Polls `done` every 20 ms for at most `limit`.
template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

class ExecProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        {
            const std::lock_guard lock(g_linesLock);
            g_lines.clear();
        }
        SetTracelnFunction(&CaptureLine);
        char pattern[] = "/tmp/exec_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        SetTracelnFunction(&QXTraceNull);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Runs `command` with its standard output into a file; the text written.
    std::optional<std::string> Output(const std::string& command, const KestrelUserToken* token = nullptr)
    {
        const fs::path file = dir_ / "stdout.txt";
        const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            return std::nullopt;
        }
        const KestrelProcessHandle process = AsyncExecEx(command.c_str(), 0, fd, 0, 0, token);
        close(fd);
        if (process < 0) {
            return std::nullopt;
        }
        int code = -1;
        if (WaitProcess(process, &code) != 1 || code != 0) {
            return std::nullopt;
        }
        return ReadFile(file);
    }

    fs::path dir_;
};

TEST_F(ExecProcess, MissingProgramFailsWithTrace)
{
    EXPECT_EQ(AsyncExec("no_such_program_vorlix_test --flag"), 0);
    EXPECT_EQ(ErrorLast(), static_cast<unsigned int>(ENOENT));
    EXPECT_TRUE(Traced("Starting command ==> no_such_program_vorlix_test --flag"));
    EXPECT_TRUE(Traced("CreateProcess failed Res=0 :"));

    int code = 7;
    EXPECT_EQ(SyncExec("/nonexistent/dir/prog", &code), 0);
    EXPECT_EQ(code, -1);
    EXPECT_EQ(AsyncExecEx("   ", 0, 0, 0, 0, nullptr), -1);
}

TEST_F(ExecProcess, AsyncExecDoesNotWaitForTheProgram)
{
    const fs::path marker = dir_ / "late";
    const std::string command = "sh -c \"sleep 1; touch " + marker.string() + "\"";
    ASSERT_EQ(AsyncExec(command.c_str()), 1);
    // back before the program got to its second step
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_TRUE(WaitFor([&] { return fs::exists(marker); }));

    const KestrelProcessHandle sleeper = AsyncExecEx("sleep 30", 0, 0, 0, 0, nullptr);
    ASSERT_GT(sleeper, 0);
    int status = 0;
    EXPECT_EQ(waitpid(static_cast<pid_t>(sleeper), &status, WNOHANG), 0);  // still running
    EXPECT_EQ(KillProcess(sleeper), 1);
    int code = 0;
    EXPECT_EQ(WaitProcess(sleeper, &code), 1);
    EXPECT_EQ(code, 128 + 9);
}

TEST_F(ExecProcess, SyncExecGivesTheRealExitStatus)
{
    int code = -1;
    EXPECT_EQ(SyncExec("sh -c \"exit 3\"", &code), 1);
    EXPECT_EQ(code, 3);
    EXPECT_EQ(SyncExec("true", &code), 1);
    EXPECT_EQ(code, 0);
    const fs::path marker = dir_ / "done";
    const std::string command = "sh -c \"sleep 0.2; touch " + marker.string() + "\"";
    EXPECT_EQ(SyncExec(command.c_str(), &code), 1);
    EXPECT_TRUE(fs::exists(marker));  // returned only after the end
}

TEST_F(ExecProcess, ShellTextInALabelIsPlainArgumentText)
{
    const fs::path victim = dir_ / "x";
    fs::create_directory(victim);
    const std::string label = "Z_1_IN; rm -rf " + victim.string();
    const std::string command = "printf \"%s|\" -z \"" + label + "\" `id` $(id)";
    const auto output = Output(command);
    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(*output, "-z|" + label + "|`id`|$(id)|");
    EXPECT_TRUE(fs::exists(victim));
}

TEST_F(ExecProcess, OnlyStandardStreamsReachTheChild)
{
    const int opened = open("/dev/null", O_RDONLY);
    ASSERT_GE(opened, 0);
    const int leaked = fcntl(opened, F_DUPFD, 50);  // without close-on-exec
    close(opened);
    ASSERT_GE(leaked, 50);
    const auto output = Output("sh -c \"ls /proc/self/fd\"");
    close(leaked);
    ASSERT_TRUE(output.has_value());
    // 0, 1, 2 and the descriptor ls opens for reading the directory
    std::istringstream names(*output);
    std::string name;
    int count = 0;
    while (names >> name) {
        EXPECT_NE(name, std::to_string(leaked));
        ++count;
    }
    EXPECT_LE(count, 4);
}

TEST_F(ExecProcess, NoZombieAfterManyAsyncExec)
{
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(AsyncExec("true"), 1);
    }
    for (int i = 0; i < 5; ++i) {
        CloseProcessHandle(AsyncExecEx("sh -c \"exit 1\"", 0, 0, 0, 0, nullptr));
    }
    EXPECT_TRUE(WaitFor([] { return ZombieChildren() == 0; })) << ZombieChildren() << " zombies";
}

TEST_F(ExecProcess, SystemUsesTheConfiguredShell)
{
    const char* savedShell = std::getenv("SHELL");
    const std::string shellValue = savedShell != nullptr ? savedShell : "";
    unsetenv("APSHELL");
    unsetenv("SHELL");
    const fs::path marker = dir_ / "from shell";
    const std::string command = "echo \"it's\" > '" + marker.string() + "'";
    EXPECT_EQ(SyncSystem(command.c_str()), 1);
    EXPECT_EQ(ReadFile(marker), "it's\n");
    EXPECT_TRUE(Traced("No default shell found. Please set SHELL or APSHELL variable to set your default shell"));
    EXPECT_TRUE(Traced("Using /bin/sh -c to process commands"));
    EXPECT_TRUE(Traced("Starting command ==> /bin/sh -c "));

    // APSHELL is taken unchanged, SHELL gets " -c"
    setenv("APSHELL", "sh -c", 1);
    EXPECT_EQ(kestrel::exec::DefaultShell(), "sh -c");
    unsetenv("APSHELL");
    setenv("SHELL", "/bin/bash", 1);
    EXPECT_EQ(kestrel::exec::DefaultShell(), "/bin/bash -c");
    const fs::path second = dir_ / "async";
    EXPECT_EQ(AsyncSystem(("touch " + second.string()).c_str()), 1);
    EXPECT_TRUE(WaitFor([&] { return fs::exists(second); }));
    if (savedShell != nullptr) {
        setenv("SHELL", shellValue.c_str(), 1);
    } else {
        unsetenv("SHELL");
    }
}

TEST_F(ExecProcess, UserTokenRunsAsThatUserOrFails)
{
    const KestrelUserToken self{static_cast<unsigned int>(geteuid()), static_cast<unsigned int>(getegid())};
    const auto same = Output("id -u", &self);
    ASSERT_TRUE(same.has_value());
    EXPECT_EQ(*same, std::to_string(geteuid()) + "\n");

    if (geteuid() == 0) {
        const KestrelUserToken nobody{65534, 65534};
        const auto other = Output("id -u", &nobody);
        ASSERT_TRUE(other.has_value());
        EXPECT_EQ(*other, "65534\n");
        // a missing program under another user still fails at the start
        EXPECT_EQ(AsyncExecEx("no_such_program_vorlix_test", 0, 0, 0, 0, &nobody), -1);
        EXPECT_NE(ErrorLast(), 0U);
    }
    // without the right to change user: -1, EPERM and the trace
    const KestrelUserToken root{0, 0};
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(2);
        }
        const KestrelProcessHandle process = AsyncExecEx("true", 0, 0, 0, 0, &root);
        _exit(process == -1 && ErrorLast() == static_cast<unsigned int>(EPERM) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
