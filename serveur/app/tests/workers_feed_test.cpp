// The one events feed of the camera and the workers' waits as the program
// takes them from its environment.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/app/EventsFeed.h"
#include "serveur/app/WorkerTimings.h"

namespace {

using namespace std::chrono_literals;
using vorlix::app::EventsFeed;

class Lines final : public vorlix::EventsWindow {
public:
    void AddEntry(const std::string& line) override
    {
        const std::lock_guard guard(lock_);
        lines_.push_back(line);
    }
    std::vector<std::string> Taken() const
    {
        const std::lock_guard guard(lock_);
        return lines_;
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
};

TEST(EventsFeedTest, EveryLineIsTracedAndReachesTheAttachedListOnly)
{
    kestrel::test::TraceCapture trace;
    EventsFeed feed;
    feed.AddEntry("      Ftp=vorlix_1.jpg");
    Lines list;
    feed.Attach(&list);
    feed.AddEntry("Sun Dec 06 08:26:20 2026 Events(2)=\"In zone 1\"");
    feed.Attach(nullptr);
    feed.AddEntry("      Stop Recorder=vorlix_2.wav");

    EXPECT_EQ(list.Taken(), (std::vector<std::string>{"Sun Dec 06 08:26:20 2026 Events(2)=\"In zone 1\""}));
    EXPECT_EQ(trace.MessagesAt(kestrel::kLevelUser),
              (std::vector<std::string>{"Events:       Ftp=vorlix_1.jpg",
                                        "Events: Sun Dec 06 08:26:20 2026 Events(2)=\"In zone 1\"",
                                        "Events:       Stop Recorder=vorlix_2.wav"}));
}

// A list that counts the lines it is handed after it was told it is closed.
class ClosingList final : public vorlix::EventsWindow {
public:
    void AddEntry(const std::string& /*line*/) override
    {
        lines_.fetch_add(1);
        if (closed_.load()) {
            late_.fetch_add(1);
        }
    }
    std::atomic<int> lines_{0};
    std::atomic<bool> closed_{false};
    std::atomic<int> late_{0};
};

TEST(EventsFeedTest, NoLineReachesAListOnceItIsDetachedWhileThreadsWrite)
{
    EventsFeed feed;
    ClosingList list;
    feed.Attach(&list);
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    writers.reserve(3);
    for (int t = 0; t < 3; ++t) {
        writers.emplace_back([&feed, &stop] {
            for (int i = 0; i < 200000 && !stop.load(); ++i) {
                feed.AddEntry("      Ftp=vorlix_1.jpg");
            }
        });
    }
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return list.lines_.load() >= 100; }, 5s));
    feed.Attach(nullptr);
    list.closed_.store(true);  // the window may be freed from here on
    for (int i = 0; i < 50; ++i) {
        feed.AddEntry("after");
    }
    stop.store(true);
    for (std::thread& w : writers) {
        w.join();
    }
    EXPECT_EQ(list.late_.load(), 0);
}

class MailCheckVariable : public ::testing::Test {
protected:
    void TearDown() override { ::unsetenv(vorlix::app::kMailCheckVariable); }
    static vorlix::MailTimings With(const char* value)
    {
        ::setenv(vorlix::app::kMailCheckVariable, value, 1);
        return vorlix::app::MailTimingsOfEnvironment();
    }
};

TEST_F(MailCheckVariable, UnsetOrUnusableKeepsTheThirtySecondCheckAndTheTenSecondPause)
{
    const vorlix::MailTimings plain = vorlix::app::MailTimingsOfEnvironment();
    EXPECT_EQ(plain.checkPeriod, 30000ms);
    EXPECT_EQ(plain.passDelay, 10000ms);
    for (const char* bad : {"", "abc", "300ms", "-5", "0", "99999999999999999999999"}) {
        const vorlix::MailTimings t = With(bad);
        EXPECT_EQ(t.checkPeriod, 30000ms) << bad;
        EXPECT_EQ(t.passDelay, 10000ms) << bad;
    }
}

TEST_F(MailCheckVariable, ShortensTheCheckWithinItsBoundsAndThePauseWithIt)
{
    vorlix::MailTimings t = With("300");
    EXPECT_EQ(t.checkPeriod, 300ms);
    EXPECT_EQ(t.passDelay, 100ms);
    EXPECT_EQ(t.replyWait, 10000ms) << "a server's reply is waited for as long as ever";
    t = With("5");
    EXPECT_EQ(t.checkPeriod, 100ms) << "never busier than ten checks a second";
    t = With("600000");
    EXPECT_EQ(t.checkPeriod, 30000ms) << "never slower than the usual check";
    EXPECT_EQ(t.passDelay, 10000ms);
}

}  // namespace
