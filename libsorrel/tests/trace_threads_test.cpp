// Many threads tracing through one mode: no data race (run under
// ThreadSanitizer), every delivered line whole, the in-trace rule dropping
// rather than queueing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/TraceLevels.h"
#include "libsorrel/SorrelTrace.h"
#include "libsorrel/tests/RecordingMode.h"

namespace {

using sorrel::CTraceMode;
using sorrel_test::RecordingMode;

constexpr int kThreads = 8;
constexpr int kLinesPerThread = 10000;
const std::string kPayload = "payload-0123456789-abcdefghijklmnopqrstuvwxyz";

class ThreadsTest : public ::testing::Test {
protected:
    void TearDown() override { sorrel_test::RestoreDefaultHooks(); }
};

TEST_F(ThreadsTest, EightThreadsTraceWholeLinesThroughOneMode)
{
    RecordingMode mode(CTraceMode::kTraceSlot);
    mode.SetClock(nullptr);  // the real clock: read from every thread
    EnableTrace(5);
    EnableTrace(6);

    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &go] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            for (int i = 0; i < kLinesPerThread; ++i) {
                SorTraceln(5, "thread %d line %05d %s", t, i, kPayload.c_str());
                if (i % 1000 == 0) {
                    // Switches and level checks from the tracing threads too.
                    SuspendTrace(6);
                    ResumeTrace(6);
                    static_cast<void>(SorCheckLevel(5));
                }
            }
        });
    }
    go.store(true);
    for (auto& thread : threads) {
        thread.join();
    }

    std::vector<int> next(kThreads, 0);
    std::size_t delivered = 0;
    for (const auto& line : mode.lines) {
        int t = -1;
        int i = -1;
        char rest[128] = {};
        // The whole line is compared below, so a misread number cannot pass.
        ASSERT_EQ(std::sscanf(line.text.c_str(), "thread %d line %d %127s", &t, &i, rest), 3)  // NOLINT(cert-err34-c)
            << line.text;
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(line.text, "thread " + std::to_string(t) + " line " + std::string(5 - std::to_string(i).size(), '0') +
                                 std::to_string(i) + " " + kPayload);
        EXPECT_GE(i, next[t]) << "thread " << t << " delivered out of order";
        next[t] = i + 1;
        ++delivered;
    }
    EXPECT_GT(delivered, 0u);
    EXPECT_LE(delivered, static_cast<std::size_t>(kThreads * kLinesPerThread));
    std::printf("delivered %zu of %d lines\n", delivered, kThreads * kLinesPerThread);
}

TEST_F(ThreadsTest, SecondCallDuringATraceIsDroppedNotQueued)
{
    RecordingMode mode(CTraceMode::kTraceSlot);
    mode.EnableTrace(5);
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    mode.onTrace = [&](const char* line) {
        if (std::string(line) == "first") {
            entered.set_value();
            released.wait();
        }
    };
    std::thread first([] { SorTraceln(5, "first"); });
    entered.get_future().wait();
    // The first call is inside its output, before its line is delivered: a
    // call from this thread returns at once and its text is lost.
    SorTraceln(5, "second");
    release.set_value();
    first.join();
    SorTraceln(5, "third");
    EXPECT_EQ(mode.Texts(), (std::vector<std::string>{"first", "third"}));
}

TEST_F(ThreadsTest, CallsAtLevelsThatAreOffNeverWaitForTheLock)
{
    // While another thread holds the mode's lock (a line being written, a
    // reconnection), the per-frame trace calls whose level is off go on.
    RecordingMode mode(CTraceMode::kTraceSlot);
    mode.InitLevelsStatic();
    mode.EnableTrace(kestrel::kLevelWarn);
    std::promise<void> locked;
    std::promise<void> unlock;
    std::thread holder([&] {
        mode.Lock();
        locked.set_value();
        unlock.get_future().wait();
        mode.Unlock();
    });
    locked.get_future().wait();
    std::atomic<int> done{0};
    std::thread caller([&] {
        for (int i = 0; i < 1000; ++i) {
            SorTraceln(kestrel::kLevelTrace, "frame %d", i);
            TRACE_DEBUG("frame %d", i);
            static_cast<void>(SorCheckLevel(kestrel::kLevelUser2));
            static_cast<void>(IsTraceEnabled(kestrel::kLevelWarn));
        }
        done = 1;
    });
    const bool finished = kestrel::test::WaitUntil([&] { return done.load() == 1; }, std::chrono::seconds(5));
    unlock.set_value();
    caller.join();
    holder.join();
    EXPECT_TRUE(finished) << "a trace call at a level that is off waited for the mode's lock";
    EXPECT_TRUE(mode.lines.empty());
}

}  // namespace
