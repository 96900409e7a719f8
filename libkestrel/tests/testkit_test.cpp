// The shared test kit: deadline waits and the trace recorder.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"

namespace {

using namespace std::chrono_literals;
using kestrel::test::TraceCapture;
using kestrel::test::WaitUntil;

TEST(TestKit, WaitUntilEndsAtItsDeadlineOrWhenTheConditionHolds)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WaitUntil([] { return false; }, 50ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);

    std::atomic<bool> flag{false};
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);  // the event the wait is for
        flag.store(true);
    });
    EXPECT_TRUE(WaitUntil([&] { return flag.load(); }, 10s));
    setter.join();
}

TEST(TestKit, TraceCaptureRecordsWholeLinesFromEveryThreadAndPutsTheHooksBack)
{
    const QXTraceFunction before = QXTraceln;
    {
        TraceCapture capture;
        std::vector<std::thread> threads;
        threads.reserve(4);
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([t] {
                for (int i = 0; i < 100; ++i) {
                    TRACE_WARN("thread %d line %d", t, i);
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        const auto messages = capture.MessagesAt(kestrel::kLevelWarn);
        ASSERT_EQ(messages.size(), 400u);
        EXPECT_EQ(capture.Count("thread 3 line ", kestrel::kLevelWarn), 100);
        EXPECT_TRUE(capture.Contains("thread 2 line 99</COLOR>"));
        EXPECT_FALSE(capture.Contains("thread 2 line 99", kestrel::kLevelError));
        EXPECT_EQ(kestrel::test::MessageOf("2026 0x1  f.cpp(3): hello"), "hello");
        EXPECT_EQ(capture.Take().size(), 400u);
        EXPECT_TRUE(capture.Lines().empty());
    }
    EXPECT_EQ(QXTraceln, before);
}

}  // namespace
