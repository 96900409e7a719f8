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
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "libkestrel/error/QXError.h"
#include "libkestrel/exec/Exec.h"
#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/testkit/TestKit.h"

namespace fs = std::filesystem;

namespace {

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
        const std::string stat = kestrel::test::ReadFile((entry.path() / "stat").string());
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
    return kestrel::test::WaitUntil(done, limit, std::chrono::milliseconds(20));
}

class ExecProcess : public ::testing::Test {
protected:
    void SetUp() override { dir_ = temp_.Path(); }
    [[nodiscard]] bool Traced(const std::string& part) const { return trace_.Contains(part); }

    // Runs `command` with its standard output into a file; the text written.
    std::optional<std::string> Output(const std::string& command, const KestrelUserToken* token = nullptr)
    {
        const fs::path file = dir_ / "stdout.txt";
        kestrel::UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!fd) {
            return std::nullopt;
        }
        const KestrelProcessHandle process = AsyncExecEx(command.c_str(), 0, fd.Get(), 0, 0, token);
        fd.Reset();
        if (process < 0) {
            return std::nullopt;
        }
        int code = -1;
        if (WaitProcess(process, &code) != 1 || code != 0) {
            return std::nullopt;
        }
        return kestrel::test::ReadFile(file.string());
    }

    kestrel::test::TraceCapture trace_;
    kestrel::test::TempDir temp_{"exec_test"};
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
    kestrel::UniqueFd leaked;
    {
        const kestrel::UniqueFd opened(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(opened);
        leaked.Reset(::fcntl(opened.Get(), F_DUPFD, 50));  // without close-on-exec
    }
    ASSERT_GE(leaked.Get(), 50);
    const auto output = Output("sh -c \"ls /proc/self/fd\"");
    const std::string leakedName = std::to_string(leaked.Get());
    leaked.Reset();
    ASSERT_TRUE(output.has_value());
    // 0, 1, 2 and the descriptor ls opens for reading the directory
    std::istringstream names(*output);
    std::string name;
    int count = 0;
    while (names >> name) {
        EXPECT_NE(name, leakedName);
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
    EXPECT_EQ(kestrel::test::ReadFile(marker.string()), "it's\n");
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
