// qxtraced and a tracing program as real processes: 10,000 steps traced at
// two levels through a listening remote mode, the trace server killed and
// started again in the middle, a level switched on from its keyboard.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/testkit/TestKit.h"
#include "libwicket/CListener.h"

namespace {

using namespace std::chrono_literals;
using kestrel::test::TempDir;
using kestrel::test::WaitUntil;

// A child process with its standard input on a pipe and its two outputs in
// files of `dir`.
class Child {
public:
    // `workDir` empty: this process's; `extraEnvironment`: "NAME=value" added.
    Child(const TempDir& dir, const std::string& name, std::vector<std::string> argv, const std::string& workDir = {},
          const std::vector<std::string>& extraEnvironment = {})
        : out_(dir.File(name + ".out")), err_(dir.File(name + ".err"))
    {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        kestrel::UniqueFd in(fds[0]);
        input_.Reset(fds[1]);
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (auto& a : argv) {
            args.push_back(a.data());
        }
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in.Get(), 0);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (!workDir.empty()) {
            posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
        }
        std::vector<std::string> environment(extraEnvironment);
        for (char** e = environ; *e != nullptr; ++e) {
            environment.emplace_back(*e);
        }
        std::vector<char*> env;
        env.reserve(environment.size() + 1);
        for (auto& e : environment) {
            env.push_back(e.data());
        }
        env.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), env.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child()
    {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    [[nodiscard]] bool Started() const { return pid_ > 0; }
    [[nodiscard]] std::string Out() const { return kestrel::test::ReadFile(out_); }
    [[nodiscard]] std::string Err() const { return kestrel::test::ReadFile(err_); }
    bool WaitOut(const std::string& part, std::chrono::milliseconds limit = 10s) const
    {
        return WaitUntil([&] { return Out().find(part) != std::string::npos; }, limit);
    }
    bool WaitErr(const std::string& part, std::chrono::milliseconds limit = 10s) const
    {
        return WaitUntil([&] { return Err().find(part) != std::string::npos; }, limit);
    }
    void Type(const std::string& line) const
    {
        const std::string text = line + "\n";
        EXPECT_EQ(::write(input_.Get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // Signals and waits; the exit code, or -1 for a death by signal or a timeout.
    int End(int signal, std::chrono::milliseconds limit = 5s)
    {
        if (signal != 0) {
            ::kill(pid_, signal);
        }
        int status = 0;
        const bool ended = WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
        exited_ = ended;
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    std::string out_;
    std::string err_;
    kestrel::UniqueFd input_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

// The numbers of the lines of `text` matching "<prefix><number>".
std::vector<int> Numbers(const std::string& text, const std::string& prefix)
{
    std::vector<int> numbers;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t at = line.find(prefix);
        if (at != std::string::npos) {
            numbers.push_back(std::stoi(line.substr(at + prefix.size(), 5)));
        }
    }
    return numbers;
}

bool Consecutive(const std::vector<int>& numbers)
{
    for (std::size_t i = 1; i < numbers.size(); ++i) {
        if (numbers[i] != numbers[i - 1] + 1) {
            return false;
        }
    }
    return !numbers.empty();
}

bool Increasing(const std::vector<int>& numbers)
{
    return std::adjacent_find(numbers.begin(), numbers.end(), std::greater_equal<>()) == numbers.end();
}

// The camera server's own leaks are its tests' business (GStreamer keeps a
// block at exit under the sanitizers): here only its tracing counts.
const std::string kServerLeaksOff = "ASAN_OPTIONS=detect_leaks=0";

int PortOf(const std::string& notices)
{
    const std::string listening = "listening on 127.0.0.1:";
    const std::size_t at = notices.find(listening);
    return at == std::string::npos ? 0 : std::atoi(notices.c_str() + at + listening.size());  // NOLINT(cert-err34-c)
}

TEST(QxtracedEndToEnd, KilledAndRestartedMidStreamTheLinesArriveInOrder)
{
    constexpr int kSteps = 10000;
    const TempDir dir("qxtraced_e2e");
    const std::string logs = dir.File("logs");
    auto first = std::make_unique<Child>(
        dir, "first", std::vector<std::string>{QXTRACED_PROGRAM, "--port", "0", "--dir", logs, "--color", "never"});
    ASSERT_TRUE(first->WaitErr("listening on"));
    const int port = PortOf(first->Err());
    ASSERT_GT(port, 0);

    Child client(dir, "client", {QXTRACED_CLIENT, std::to_string(port), std::to_string(kSteps), "traces/e2e", "150"});
    ASSERT_TRUE(client.WaitOut("connected 1"));
    ASSERT_TRUE(first->WaitOut("e2e: [TRACE] t 01500"));
    EXPECT_EQ(first->End(SIGKILL), -1);
    const std::string before = first->Out();
    first.reset();

    Child second(dir, "second", {QXTRACED_PROGRAM, "--port", std::to_string(port), "--dir", logs, "--color", "never"});
    ASSERT_TRUE(second.WaitErr("e2e connected from 127.0.0.1"));
    second.Type("enable 242");
    ASSERT_TRUE(client.WaitOut("done", 30s));
    EXPECT_NE(client.Out().find("level 242 on"), std::string::npos) << client.Out();
    EXPECT_EQ(client.End(0), 0);
    ASSERT_TRUE(second.WaitOut("e2e: [INFO ] i 09999"));
    EXPECT_EQ(second.End(SIGTERM), 0);
    const std::string after = second.Out();

    // Before the kill: every line from the first on, in order, at both levels.
    const std::vector<int> traceBefore = Numbers(before, "e2e: [TRACE] t ");
    const std::vector<int> userBefore = Numbers(before, "e2e: u ");
    ASSERT_FALSE(traceBefore.empty());
    EXPECT_EQ(traceBefore.front(), 0);
    EXPECT_GE(traceBefore.back(), 1500);
    EXPECT_TRUE(Consecutive(traceBefore));
    EXPECT_TRUE(Consecutive(userBefore));
    EXPECT_EQ(Numbers(before, "i ").size(), 0u) << "level 242 was off";

    // After the reconnection: every line to the end, in order; lines traced
    // while no trace server ran are lost, none is repeated.
    const std::vector<int> traceAfter = Numbers(after, "e2e: [TRACE] t ");
    const std::vector<int> userAfter = Numbers(after, "e2e: u ");
    ASSERT_FALSE(traceAfter.empty());
    EXPECT_GT(traceAfter.front(), traceBefore.back());
    EXPECT_EQ(traceAfter.back(), kSteps - 1);
    EXPECT_TRUE(Consecutive(traceAfter));
    EXPECT_TRUE(Consecutive(userAfter));
    // The level switched on from the keyboard: its lines from the moment the
    // command arrived (at the latest the client's halfway wait for it) to
    // the end, with their colour markup left out.
    const std::vector<int> info = Numbers(after, "e2e: [INFO ] i ");
    ASSERT_FALSE(info.empty());
    EXPECT_GE(info.front(), traceAfter.front());
    EXPECT_LE(info.front(), kSteps / 2);
    EXPECT_EQ(info.back(), kSteps - 1);
    EXPECT_TRUE(Consecutive(info));
    EXPECT_EQ(after.find("<COLOR"), std::string::npos);

    // The log file holds the log lines (level 100) of both runs, in order,
    // and no trace-only line.
    std::string logged;
    for (int slice = 0; slice < 10; ++slice) {
        logged += kestrel::test::ReadFile(logs + "/traces/e2e." + std::to_string(slice));
    }
    const std::vector<int> userLogged = Numbers(logged, "u ");
    EXPECT_TRUE(Increasing(userLogged));
    for (const int n : userBefore) {
        EXPECT_TRUE(std::binary_search(userLogged.begin(), userLogged.end(), n)) << n;
    }
    for (const int n : userAfter) {
        EXPECT_TRUE(std::binary_search(userLogged.begin(), userLogged.end(), n)) << n;
    }
    EXPECT_EQ(logged.find("[TRACE]"), std::string::npos);
}

TEST(QxtracedEndToEnd, TheCameraServerTracesToItAndAsksForItsLogFile)
{
    const TempDir dir("qxtraced_vorlix");
    const std::string logs = dir.File("logs");
    const std::string camera = dir.File("camera");
    ASSERT_EQ(::mkdir(camera.c_str(), 0700), 0);
    dir.Write("camera/Vorlix_1.ini", "[Vorlix]\nTrace level=5\n");
    Child traced(dir, "traced", {QXTRACED_PROGRAM, "--port", "0", "--dir", logs, "--color", "never"});
    ASSERT_TRUE(traced.WaitErr("listening on"));
    const std::string port = std::to_string(PortOf(traced.Err()));

    Child server(dir, "vorlix", {VORLIX_PROGRAM, "--headless", "1"}, camera,
                 {"QXTRACED_PORT=" + port, kServerLeaksOff});
    EXPECT_TRUE(traced.WaitErr("Vorlix_1 connected from 127.0.0.1"));
    EXPECT_TRUE(traced.WaitOut("Vorlix_1: [TRACE] "));
    EXPECT_TRUE(traced.WaitOut("): Fault level activated"));
    // The user levels are logged in the file the server asked for.
    EXPECT_TRUE(WaitUntil([&] {
        return kestrel::test::ReadFile(logs + "/traces_1/Vorlix.0").find("): init trace user 4") != std::string::npos;
    }));
    // A level switched off from the keyboard stops its lines.
    traced.Type("disable 241");
    EXPECT_TRUE(traced.WaitErr("DISABLETRACE 241 sent to 1 client"));
    EXPECT_EQ(server.End(SIGTERM, 10s), 0);
    EXPECT_TRUE(traced.WaitErr("Vorlix_1 (127.0.0.1:"));
    EXPECT_EQ(traced.End(SIGTERM), 0);
}

TEST(QxtracedEndToEnd, WithoutItTheServerStartsAtOnce)
{
    const TempDir dir("vorlix_no_traced");
    wicket::CListener closed;
    ASSERT_TRUE(closed.Listen(0, "127.0.0.1"));
    const std::string port = std::to_string(closed.Port());
    closed.Close();
    const auto start = std::chrono::steady_clock::now();
    Child server(dir, "vorlix", {VORLIX_PROGRAM, "--headless"}, dir.Path(), {"QXTRACED_PORT=" + port, kServerLeaksOff});
    // Its first status line comes with the first schedule check, a second in.
    EXPECT_TRUE(server.WaitErr("vorlix[0]: ", 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
    EXPECT_EQ(server.End(SIGTERM, 10s), 0);
}

TEST(QxtracedEndToEnd, TraceFileKeepsWarningsInTheTracesDirectory)
{
    // A stream port that is taken: the server warns at start, at trace
    // level 0.
    wicket::CListener taken;
    ASSERT_TRUE(taken.Listen(0, "0.0.0.0"));
    const TempDir dir("vorlix_trace_file");
    dir.Write("Vorlix.ini",
              "[Vorlix]\nTrace level=0\nClient access=1\nPort Web client=" + std::to_string(taken.Port()) + "\n");
    Child server(dir, "vorlix", {VORLIX_PROGRAM, "--headless", "--trace", "file"}, dir.Path(), {kServerLeaksOff});
    EXPECT_TRUE(WaitUntil(
        [&] { return kestrel::test::ReadFile(dir.File("traces/Vorlix.0")).find("[WARN ] ") != std::string::npos; }));
    EXPECT_EQ(server.End(SIGTERM, 10s), 0);
    const std::string written = kestrel::test::ReadFile(dir.File("traces/Vorlix.0"));
    EXPECT_NE(written.find("error during server installation"), std::string::npos) << written;
    EXPECT_EQ(written.find("COLOR"), std::string::npos) << written;
    EXPECT_EQ(written.find("[TRACE]"), std::string::npos) << "level 0 shows failures only";

    Child wrong(dir, "wrong", {VORLIX_PROGRAM, "--headless", "--trace", "syslog"}, dir.Path());
    EXPECT_EQ(wrong.End(0), 2);
    EXPECT_NE(wrong.Err().find("--trace takes stderr or file"), std::string::npos);
}

TEST(QxtracedEndToEnd, HelpAndBadOptions)
{
    const TempDir dir("qxtraced_cli");
    Child help(dir, "help", {QXTRACED_PROGRAM, "--help"});
    EXPECT_EQ(help.End(0), 0);
    EXPECT_NE(help.Out().find("usage: qxtraced [options]"), std::string::npos);
    Child bad(dir, "bad", {QXTRACED_PROGRAM, "--port", "99999"});
    EXPECT_EQ(bad.End(0), 2);
    EXPECT_NE(bad.Err().find("is no port"), std::string::npos);
}

}  // namespace
