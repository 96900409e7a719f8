// The pool of Execute programs: no more than its limit alive, a place freed
// as soon as a child ends, every child reaped, also after the pool is gone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "libkestrel/exec/ChildPool.h"
#include "libkestrel/testkit/TestKit.h"

namespace {

using kestrel::exec::ChildPool;
using kestrel::test::WaitUntil;
using namespace std::chrono_literals;

// Children of this process that have ended but were not reaped.
int Zombies()
{
    int zombies = 0;
    const std::string me = std::to_string(::getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) {
            continue;
        }
        // pid (comm) state ppid ...: the name may hold blanks, so start after its ')'.
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(close + 2));
        std::string state, ppid;
        rest >> state >> ppid;
        if (ppid == me && state == "Z") {
            ++zombies;
        }
    }
    return zombies;
}

TEST(ChildPool, NoMoreThanTheLimitAliveAndAPlaceFreedWhenOneEnds)
{
    ChildPool pool;
    EXPECT_EQ(pool.Start("sleep 0.4", 2), ChildPool::Result::kStarted);
    EXPECT_EQ(pool.Start("sleep 0.4", 2), ChildPool::Result::kStarted);
    EXPECT_EQ(pool.Start("sleep 0.4", 2), ChildPool::Result::kBusy);
    EXPECT_EQ(pool.Running(), 2);
    EXPECT_EQ(pool.Start("sleep 0.4", 3), ChildPool::Result::kStarted);  // the limit is the caller's
    EXPECT_EQ(pool.Running(), 3);
    ASSERT_TRUE(pool.WaitIdle(5s));
    EXPECT_EQ(pool.Running(), 0);
    EXPECT_TRUE(WaitUntil([] { return Zombies() == 0; }, 2s));
    EXPECT_EQ(pool.Start("true", 1), ChildPool::Result::kStarted);
    EXPECT_TRUE(pool.WaitIdle(5s));
}

TEST(ChildPool, ProgramThatCannotStartTakesNoPlace)
{
    ChildPool pool;
    EXPECT_EQ(pool.Start("/no/such/program --flag", 1), ChildPool::Result::kFailed);
    EXPECT_EQ(pool.Start("", 1), ChildPool::Result::kFailed);
    EXPECT_EQ(pool.Running(), 0);
    EXPECT_EQ(pool.Start("true", 1), ChildPool::Result::kStarted);
    EXPECT_TRUE(pool.WaitIdle(5s));
}

TEST(ChildPool, ChildrenOutlivingThePoolAreStillReaped)
{
    {
        ChildPool pool;
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(pool.Start("sleep 0.2", 4), ChildPool::Result::kStarted);
        }
    }
    EXPECT_TRUE(WaitUntil([] { return Zombies() == 0; }, 5s, 20ms));
}

}  // namespace
