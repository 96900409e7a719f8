// The live picture's road: the camera offers its newest frame only to a stop
// that asks for one (whether or not anything moves, whatever else the frame
// is used for), and the view compresses at its pace, once per picture, only
// while somebody watches.
#include <gtest/gtest.h>

#include "libkestrel/profile/Profile.h"
#include "serveur/core/WebCam.h"
#include "serveur/web/LiveFrames.h"
#include "serveur/web/tests/WebTestKit.h"

namespace vorlix::web {
namespace {

using namespace test;
namespace profile = kestrel::profile;

// Wants every `every`-th frame and keeps what it gets.
struct LiveRecorder : DetectionConsumer {
    int every = 2;
    int asked = 0;
    std::vector<std::vector<std::uint8_t>> got;
    std::vector<int> sizes;
    bool WantsLiveFrame() override { return ++asked % every == 0; }
    void OnLiveFrame(const FramePicture& picture) override
    {
        got.emplace_back(picture.rgb.begin(), picture.rgb.end());
        sizes.push_back(picture.width * 10000 + picture.height);
    }
};

class LiveHook : public ::testing::Test {
protected:
    void SetUp() override
    {
        road_.Add(recorder_);
        cam_.LoadConfiguration(0, dir_.Path());
        cam_.SetRoad(&road_);
    }
    void TearDown() override { cam_.SetRoad(nullptr); }

    TempDir dir_{"vorlix_live"};
    WebCam cam_{[] { return std::time_t{1000}; }};
    LiveRecorder recorder_;
    DetectionRoad road_;
};

TEST_F(LiveHook, StillFramesReachAWatcherWithDetectionOffAndProcessingOff)
{
    const std::vector<std::uint8_t> still = SquareFrame(8, 6, 2);
    cam_.SetDetection(false);
    for (int i = 0; i < 6; ++i) {
        cam_.ProcessFrame(Frame{still, 8, 6, kFormatRgb24, kTopDown});
    }
    ASSERT_EQ(recorder_.asked, 6);
    ASSERT_EQ(recorder_.got.size(), 3U);
    EXPECT_EQ(recorder_.got[0], still);
    EXPECT_EQ(recorder_.sizes[0], 8 * 10000 + 6);

    // "MaxDiff" 0 switches the engine off; the live picture goes on.
    profile::WriteInt(cam_.SettingsFile(), "Vorlix", "MaxDiff", 0);
    cam_.ReloadConfiguration();
    ASSERT_EQ(cam_.MaxDiff(), 0);
    cam_.SetDetection(true);
    for (int i = 0; i < 4; ++i) {
        cam_.ProcessFrame(Frame{still, 8, 6, kFormatRgb24, kTopDown});
    }
    EXPECT_EQ(recorder_.got.size(), 5U);
}

TEST_F(LiveHook, ABottomUpFrameArrivesTopDown)
{
    recorder_.every = 1;
    // 1 x 2, bottom-up: the first row in memory is the bottom of the picture.
    const std::vector<std::uint8_t> bottomUp = {1, 2, 3, 4, 5, 6};
    cam_.ProcessFrame(Frame{bottomUp, 1, 2, kFormatRgb24, kBottomUp});
    ASSERT_EQ(recorder_.got.size(), 1U);
    EXPECT_EQ(recorder_.got[0], (std::vector<std::uint8_t>{4, 5, 6, 1, 2, 3}));
}

TEST(LiveFramesPace, NothingIsTakenOrCompressedWhileNobodyWatches)
{
    LiveFrames frames;
    frames.SetPace(5, 50);
    for (int i = 0; i < 100; ++i) {
        EXPECT_FALSE(frames.Wanted());
    }
    EXPECT_EQ(frames.Encodes(), 0U);
    EXPECT_EQ(frames.WaitNewer(0, std::chrono::milliseconds(50)), nullptr);
}

TEST(LiveFramesPace, AFirstWatcherIsServedAtOnceThenAtThePace)
{
    LiveFrames frames;
    frames.SetPace(2, 50);
    const LiveFrames::Watch watch(frames);
    EXPECT_TRUE(frames.Wanted());
    // The next one is due half a second later, not on the next frame.
    EXPECT_FALSE(frames.Wanted());
    const std::vector<std::uint8_t> rgb = SquareFrame(16, 8, 0);
    FramePicture picture;
    picture.rgb = rgb;
    picture.width = 16;
    picture.height = 8;
    frames.Offer(picture);
    const auto first = frames.WaitNewer(0, 5s);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->sequence, 1U);
    EXPECT_TRUE(LooksLikeJpeg(std::string(first->bytes.begin(), first->bytes.end())));
    EXPECT_EQ(frames.Encodes(), 1U);
    EXPECT_TRUE(WaitUntil([&] { return frames.Wanted(); }, 2s));
}

TEST(LiveFramesPace, AShortFrameIsRefusedAndStopWakesViewers)
{
    auto frames = std::make_unique<LiveFrames>();
    const std::vector<std::uint8_t> rgb(10, 0);
    FramePicture picture;
    picture.rgb = rgb;
    picture.width = 16;
    picture.height = 8;
    frames->Offer(picture);
    std::atomic<bool> woken{false};
    std::thread viewer([&] {
        EXPECT_EQ(frames->WaitNewer(0, 30s), nullptr);
        woken.store(true);
    });
    EXPECT_FALSE(WaitUntil([&] { return woken.load(); }, 200ms)) << "a short frame made a picture";
    frames->Stop();
    EXPECT_TRUE(WaitUntil([&] { return woken.load(); }, 5s));
    viewer.join();
    EXPECT_EQ(frames->Encodes(), 0U);
}

}  // namespace
}  // namespace vorlix::web
