// The mail thread's life and rules: start only when enabled, counting of
// events, one mail per "Time before another mail", no recipient, a stop that
// ends a mail in progress within a second, and a new thread after a stop.
#include <gtest/gtest.h>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/mail/tests/MailTestKit.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;
using kestrel::test::TraceCapture;
using kestrel::test::WaitUntil;
using test::MailBench;
using test::ScriptedPeer;
using test::SmtpPeer;

TEST(MailWorker, StartsOnlyWhenMailIsEnabled)
{
    MailBench bench;
    bench.Configure(25, {{"management", "0"}});
    auto worker = bench.Worker();
    EXPECT_FALSE(worker->StartMailThread(4));
    EXPECT_FALSE(worker->Running());

    bench.Configure(25, {{"management", "1"}, {"Subject", "first"}});
    TraceCapture trace;
    EXPECT_TRUE(worker->StartMailThread(4));
    EXPECT_TRUE(worker->Running());
    EXPECT_EQ(worker->FirstPictureNumber(), 4);
    EXPECT_TRUE(trace.WaitFor("Thread client mail start", 5s, kestrel::kLevelTrace));

    // A start while running only reloads the settings.
    bench.Configure(25, {{"Subject", "second"}});
    worker->NotifyMailEvent(5);
    EXPECT_TRUE(worker->StartMailThread(9));
    EXPECT_EQ(worker->Settings().subject, "second");
    EXPECT_EQ(worker->FirstPictureNumber(), 5);

    worker->StopMailThread();
    EXPECT_FALSE(worker->Running());
    EXPECT_EQ(trace.Count("Thread client mail stop ", kestrel::kLevelTrace), 1);
}

TEST(MailWorker, NotifyKeepsTheFirstPictureOfTheBurst)
{
    MailBench bench;
    bench.Configure(25, {{"Sensibility", "100"}});  // never active: the counter only grows
    auto worker = bench.Worker(MailTimings{5000ms, 0ms, 60000ms});
    ASSERT_TRUE(worker->StartMailThread(10));
    ASSERT_TRUE(WaitUntil([&] { return worker->EventCount() == 0; }));
    worker->NotifyMailEvent(11);
    worker->NotifyMailEvent(12);
    worker->NotifyMailEvent(13);
    EXPECT_EQ(worker->EventCount(), 3);
    EXPECT_EQ(worker->FirstPictureNumber(), 11);
    worker->NotifyMailEvent(3);  // never below 0
    EXPECT_EQ(worker->FirstPictureNumber(), 0);
}

TEST(MailWorker, NoRecipientMeansNoConnectionButTheSummaryLine)
{
    ScriptedPeer peer([](ScriptedPeer::Connection& c) { c.Send("220 unexpected\r\n"); });
    MailBench bench;
    bench.Configure(peer.Port(), {{"To", ""}, {"CC", ""}});
    auto worker = bench.Worker();
    ASSERT_TRUE(worker->StartMailThread(0));
    worker->NotifyMailEvent(1);
    ASSERT_TRUE(bench.events.WaitForCount(1));
    EXPECT_EQ(bench.events.Lines()[0], "      SendMail (127.0.0.1,to:,sujet:Detection mouvement Vorlix)");
    EXPECT_EQ(peer.Accepted(), 0);
}

TEST(MailWorker, ActivityWithinTheQuietTimeSendsNoSecondMail)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.Ready());
    MailBench bench;
    bench.Configure(peer.Port());  // "Time before another mail" 300
    auto worker = bench.Worker();
    ASSERT_TRUE(worker->StartMailThread(0));
    worker->NotifyMailEvent(1);
    ASSERT_TRUE(peer.WaitForMessages(1));
    ASSERT_TRUE(bench.events.WaitForCount(1));

    worker->NotifyMailEvent(2);
    worker->NotifyMailEvent(3);
    // The active period is seen (the counter goes back to 0) without a mail.
    ASSERT_TRUE(WaitUntil([&] { return worker->EventCount() == 0; }));
    worker->StopMailThread();
    EXPECT_EQ(peer.Messages().size(), 1U);
    EXPECT_EQ(bench.events.Lines().size(), 1U);
}

TEST(MailWorker, StopEndsAMailInProgressWithinASecond)
{
    std::atomic<bool> closed{false};
    ScriptedPeer silent([&](ScriptedPeer::Connection& c) { closed = c.WaitClosed(20s); });
    MailBench bench;
    bench.Configure(silent.Port());
    auto worker = bench.Worker(MailTimings{10000ms, 0ms, 100ms});  // the full reply time
    TraceCapture trace;
    ASSERT_TRUE(worker->StartMailThread(0));
    worker->NotifyMailEvent(1);
    ASSERT_TRUE(WaitUntil([&] { return silent.Accepted() == 1; }, 10s));

    const auto start = std::chrono::steady_clock::now();
    worker->StopMailThread();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(worker->Running());
    EXPECT_TRUE(WaitUntil([&] { return closed.load(); }));
    // A stop is no failure of the mail.
    EXPECT_TRUE(bench.EventLines("KO").empty());
    EXPECT_TRUE(trace.Contains("Thread client mail stop "));
}

TEST(MailWorker, EnablingAgainAfterAStopStartsANewThread)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.Ready());
    MailBench bench;
    bench.Configure(peer.Port());
    auto worker = bench.Worker();
    ASSERT_TRUE(worker->StartMailThread(0));
    worker->StopMailThread();
    ASSERT_FALSE(worker->Running());

    ASSERT_TRUE(worker->StartMailThread(7));
    EXPECT_TRUE(worker->Running());
    EXPECT_EQ(worker->FirstPictureNumber(), 7);
    worker->NotifyMailEvent(8);
    ASSERT_TRUE(peer.WaitForMessages(1));
}

TEST(MailWorker, EventsFromTheCameraThreadDuringAStop)
{
    MailBench bench;
    bench.Configure(9);
    auto worker = bench.Worker();
    ASSERT_TRUE(worker->StartMailThread(0));
    std::atomic<bool> done{false};
    std::thread camera([&] {
        for (int shots = 1; !done.load() && shots < 100000; ++shots) {
            worker->NotifyMailEvent(shots);
        }
    });
    worker->StopMailThread();
    done = true;
    camera.join();
    EXPECT_FALSE(worker->Running());
}

}  // namespace
}  // namespace vorlix
