// The tests' children and ports: exit statuses, files, deadlines.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>

#include <gtest/gtest.h>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/testkit/Children.h"
#include "libkestrel/testkit/TestKit.h"

namespace {

using namespace std::chrono_literals;
using namespace kestrel::test;

TEST(Children, ExitStatusOutputAndErrorsReachTheCaller)
{
    const TempDir dir("children");
    EXPECT_EQ(RunChild({"/bin/true"}, {}, 5s), 0);
    EXPECT_EQ(RunChild({"/bin/false"}, {}, 5s), 1);
    EXPECT_EQ(RunChild({"echo", "hello"}, {.out = dir.File("out")}, 5s, true), 0) << "found on PATH";
    EXPECT_EQ(dir.Read("out"), "hello\n");
    EXPECT_NE(RunChild({"/bin/ls", dir.File("missing")}, {.err = dir.File("err")}, 5s), 0);
    EXPECT_NE(dir.Read("err").find("missing"), std::string::npos);
    EXPECT_EQ(RunChild({"/bin/ls", dir.File("missing")}, {.out = dir.File("both"), .errToOut = true}, 5s), 2);
    EXPECT_NE(dir.Read("both").find("missing"), std::string::npos);
    dir.Write("log", "kept\n");
    RunChild({"/bin/ls", dir.File("missing")}, {.err = dir.File("log"), .appendErr = true}, 5s);
    EXPECT_EQ(dir.Read("log").rfind("kept\n", 0), 0U) << "appended, not replaced";
}

TEST(Children, AProgramThatCannotStartOrOutlivesItsDeadlineGivesMinusOne)
{
    EXPECT_EQ(StartChild({"/nonexistent/program"}, {}), -1);
    EXPECT_EQ(StartChild({}, {}), -1);
    EXPECT_EQ(RunChild({"/nonexistent/program"}, {}, 1s), -1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunChild({"/bin/sleep", "30"}, {}, 200ms), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s) << "killed at the deadline, not waited for";
}

TEST(Children, EndChildStopsAndReapsARunningChild)
{
    const pid_t pid = StartChild({"/bin/sleep", "30"}, {});
    ASSERT_GT(pid, 0);
    EndChild(pid, 5s);
    EXPECT_NE(::kill(pid, 0), 0) << "reaped: the pid is gone";
    EndChild(-1);  // nothing started: nothing to do
}

TEST(Children, AFreeLoopbackPortCanBeListenedOn)
{
    const int port = FreeLoopbackPort();
    ASSERT_GT(port, 0);
    const kestrel::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    EXPECT_EQ(::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd.Get(), 1), 0);
}

}  // namespace
