// vorlix_vfw's grab and preview timers, driven with made-up times.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/QXTrace.h"
#include "serveur/capture/tests/ScriptedV4l2Device.h"
#include "serveur/capture/v4l2/GrabScheduler.h"

using namespace std::chrono_literals;

namespace vorlix::capture {
namespace {

using namespace fakes;
using Clock = FrameGate::Clock;
using Mode = GrabScheduler::Mode;

class Scheduler : public ::testing::Test {
protected:
    kestrel::test::TraceCapture traces_;
    void SetUp() override
    {
        settings_.frequency = 90ms;
        settings_.refreshSeconds = 60;
    }

    GrabScheduler Make()
    {
        return GrabScheduler(
            settings_, [this] { ++refreshes_; }, [this] { return wall_; });
    }
    // Runs the timers at t0 + at; a frame offered right after tells whether a grab is pending.
    bool ExpireAndOffer(GrabScheduler& s, std::chrono::milliseconds at)
    {
        s.Tick(t0_ + at);
        return s.Admit(t0_ + at + 1ms);
    }

    GrabSettings settings_;
    Clock::time_point t0_ = Clock::now();
    std::time_t wall_ = 1000;
    int refreshes_ = 0;
};

TEST_F(Scheduler, StartArmsHalfASecondThenOneSecondThenTheQuickTimer)
{
    GrabScheduler s = Make();
    s.Start(t0_);
    EXPECT_EQ(traces_.Count("): launch video timer(id=1)"), 1);
    EXPECT_EQ(s.Tick(t0_), 500ms);
    EXPECT_FALSE(s.Admit(t0_ + 10ms)) << "nobody asked for a frame yet";
    EXPECT_EQ(s.Tick(t0_ + 499ms), 1ms);
    EXPECT_TRUE(ExpireAndOffer(s, 500ms)) << "the first timer grabs";
    EXPECT_EQ(s.CurrentMode(), Mode::Handover);
    EXPECT_EQ(s.Tick(t0_ + 600ms), 900ms);
    EXPECT_TRUE(ExpireAndOffer(s, 1500ms));
    EXPECT_EQ(s.CurrentMode(), Mode::Grab);
    EXPECT_EQ(s.Tick(t0_ + 1500ms), 90ms);
}

TEST_F(Scheduler, GrabModeTakesOneFramePerExpiryAndDropsTheRest)
{
    GrabScheduler s = Make();
    s.Start(t0_);
    ExpireAndOffer(s, 500ms);
    ExpireAndOffer(s, 1500ms);
    int delivered = 0;
    // The device runs at 200 fps for one second: 1000 / 90 grabs.
    for (auto t = 1500ms; t < 2500ms; t += 5ms) {
        s.Tick(t0_ + t);
        delivered += s.Admit(t0_ + t) ? 1 : 0;
    }
    EXPECT_EQ(delivered, 11);
    EXPECT_EQ(s.CurrentMode(), Mode::Grab);
    EXPECT_EQ(traces_.Count("window is open"), 0);
}

TEST_F(Scheduler, ShownWindowSwitchesToPreviewAndTheWatchdogSwitchesBack)
{
    GrabScheduler s = Make();
    s.Start(t0_);
    ExpireAndOffer(s, 500ms);
    ExpireAndOffer(s, 1500ms);
    s.SetWindowShown(true);
    // A preview frame nobody grabbed.
    EXPECT_TRUE(s.Admit(t0_ + 1520ms));
    s.Tick(t0_ + 1590ms);
    EXPECT_EQ(s.CurrentMode(), Mode::Preview);
    EXPECT_EQ(traces_.Count("[TRACE] "), 1);
    EXPECT_EQ(traces_.Count("): launch the timer lent (id=3, 5 sec) window is open"), 1);
    EXPECT_EQ(s.Tick(t0_ + 1590ms), 5000ms);

    // The preview delivers at the rate "Frequency", no faster.
    int delivered = 0;
    for (auto t = 1600ms; t < 2500ms; t += 10ms) {
        delivered += s.Admit(t0_ + t) ? 1 : 0;
    }
    EXPECT_EQ(delivered, 10);

    // Frames came during the first watchdog period: stay.
    s.Tick(t0_ + 6590ms);
    EXPECT_EQ(s.CurrentMode(), Mode::Preview);
    // Window hidden: the preview stops, the next watchdog sees nothing.
    s.SetWindowShown(false);
    EXPECT_FALSE(s.Admit(t0_ + 7000ms));
    EXPECT_TRUE(ExpireAndOffer(s, 11590ms)) << "back to grabbing at once";
    EXPECT_EQ(s.CurrentMode(), Mode::Grab);
    EXPECT_EQ(traces_.Count("): launch quick timer(id=2, 90 ms), window is close"), 1);
    EXPECT_EQ(s.Tick(t0_ + 11600ms), 80ms);
}

TEST_F(Scheduler, ClientRefreshAtAnExpiryOnceRefreshPictureSecondsHavePassed)
{
    settings_.refreshSeconds = 2;
    GrabScheduler s = Make();
    s.Start(t0_);
    ExpireAndOffer(s, 500ms);
    EXPECT_EQ(refreshes_, 0);
    wall_ += 2;  // not yet passed: now - then must exceed the limit
    ExpireAndOffer(s, 1500ms);
    EXPECT_EQ(refreshes_, 0);
    wall_ += 1;
    ExpireAndOffer(s, 1590ms);
    EXPECT_EQ(refreshes_, 1);
    ExpireAndOffer(s, 1680ms);
    EXPECT_EQ(refreshes_, 1) << "counted from the last refresh";
    // The slow timer asks too.
    s.SetWindowShown(true);
    s.Admit(t0_ + 1700ms);
    s.Tick(t0_ + 1770ms);
    ASSERT_EQ(s.CurrentMode(), Mode::Preview);
    wall_ += 3;
    s.Tick(t0_ + 2000ms);
    EXPECT_EQ(refreshes_, 1) << "no expiry, no refresh";
    s.Tick(t0_ + 6770ms);
    EXPECT_EQ(refreshes_, 2);
}

TEST_F(Scheduler, NonPositiveFrequencyDoesNotSpin)
{
    settings_.frequency = 0ms;
    GrabScheduler s = Make();
    s.Start(t0_);
    ExpireAndOffer(s, 500ms);
    ExpireAndOffer(s, 1500ms);
    EXPECT_EQ(s.Tick(t0_ + 1500ms), 1ms);
    EXPECT_TRUE(ExpireAndOffer(s, 1501ms));
}

}  // namespace
}  // namespace vorlix::capture
