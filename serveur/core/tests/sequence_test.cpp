// A block moving across a still, textured background, then a change of light,
// fed frame by frame through ProcessFrame: which zones match, when the
// reference image is renewed and what the detection traces say.
#include <gtest/gtest.h>

#include <set>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/core/WebCam.h"
#include "serveur/core/tests/TestSupport.h"

namespace vorlix {
namespace {

namespace prof = kestrel::profile;
using test::PaintBlock;
using test::RecordingRoad;
using test::TempDir;
using test::TraceCapture;

constexpr int kW = 160, kH = 120;

std::vector<std::uint8_t> Background(int light = 0)
{
    std::vector<std::uint8_t> f(static_cast<std::size_t>(kW * kH * 3));
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            for (int c = 0; c < 3; ++c) {
                f[(static_cast<std::size_t>(y) * kW + x) * 3 + c] =
                    static_cast<std::uint8_t>(20 + (x * 7 + y * 3 + c * 11) % 100 + light);
            }
        }
    }
    return f;
}

std::vector<std::uint8_t> WithBlock(int x0)
{
    std::vector<std::uint8_t> f = Background();
    PaintBlock(f, kW, 3, x0, 50, x0 + 20, 70, 230);
    return f;
}

struct Step {
    std::time_t now;
    std::vector<std::uint8_t> frame;
    std::vector<std::string> traces;  // level 102, in order
    bool referenceRenewed;
};

class MovingBlock : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string ini = dir_.File("Vorlix.ini");
        prof::WriteString(ini, "Vorlix", "LANG", "en");
        prof::WriteInt(ini, "Vorlix", "NbSelection", 3);
        const int x[4] = {0, 53, 106, 160};
        for (int i = 0; i < 3; ++i) {
            const std::string n = std::to_string(i);
            prof::WriteInt(ini, "Vorlix", "x0_" + n, x[i]);
            prof::WriteInt(ini, "Vorlix", "y0_" + n, 0);
            prof::WriteInt(ini, "Vorlix", "x1_" + n, x[i + 1]);
            prof::WriteInt(ini, "Vorlix", "y1_" + n, kH);
        }
        cam_.LoadConfiguration(0, dir_.Path());
        hooks_.Attach(cam_);
        cam_.SetCaptureRunning(true);
        cam_.SetDetection(true);
    }

    TempDir dir_;
    std::time_t now_ = 0;
    WebCam cam_{[this] { return now_; }};
    RecordingRoad hooks_;
};

TEST_F(MovingBlock, FrameByFrame)
{
    const auto bg = Background();
    const auto bright = Background(60);
    const std::string refresh = "refresh current image for a possible client";
    const std::string creation = "creation reference image";
    const std::vector<Step> steps = {
        // The first frame: buffers, a client refresh and the first reference image.
        {1000, bg, {refresh, creation}, true},
        // Calm, and the last detection time is still 0: renewed again.
        {1000, bg, {creation}, true},
        // The block enters zone 1 (column 16 of its stride of 16 is inside).
        {1001,
         WithBlock(10),
         {"La zone 1 match(previous image) (960 > 166)", "la zone 1 match (reference image)(1200 > 166)"},
         false},
        // Across zones 1 and 2: the fast pass sees the old and the new block in zone 1.
        {1002,
         WithBlock(45),
         {"La zone 1 match(previous image) (1920 > 166)", "la zone 1 match (reference image)(480 > 166)",
          "la zone 2 match (reference image)(720 > 166)"},
         false},
        // Inside zone 2 only; zone 1 still fires first in the fast pass (the block left it).
        {1003,
         WithBlock(80),
         {"La zone 1 match(previous image) (960 > 166)", "la zone 2 match (reference image)(1200 > 166)"},
         false},
        // The block stops: nothing changed against the previous image, one second after a detection.
        {1004, WithBlock(80), {}, false},
        // It leaves: the fast pass fires in zone 2, the reference finds the still scene.
        {1005, bg, {"La zone 2 match(previous image) (960 > 166)", "now=reference image"}, false},
        {1035, bg, {}, false},
        // More than "Reference Image" seconds after the last detection.
        {1036, bg, {creation}, true},
        // The light changes everywhere: all zones.
        {1040,
         bright,
         {"La zone 1 match(previous image) (23040 > 166)", "la zone 1 match (reference image)(19080 > 166)",
          "la zone 2 match (reference image)(19080 > 166)", "la zone 3 match (reference image)(19440 > 169)"},
         false},
        // After ALLZ the reference is renewed on the first calm frame three or more seconds later.
        {1041, bright, {}, false},
        {1042, bright, {}, false},
        {1043, bright, {creation}, true},
        {1044, bright, {}, false},
    };

    TraceCapture traces;
    std::vector<std::uint8_t> reference;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const Step& s = steps[i];
        now_ = s.now;
        cam_.ProcessFrame(Frame{s.frame, kW, kH, kFormatRgb24, kTopDown});
        if (i == 0) {
            ASSERT_EQ(cam_.ZoneThreshold(0), 166);
            ASSERT_EQ(cam_.ZoneThreshold(1), 166);
            ASSERT_EQ(cam_.ZoneThreshold(2), 169);
            ASSERT_EQ(cam_.ZoneStep(0), 16);
        }
        EXPECT_EQ(test::TakeMessagesAt(traces, kestrel::kLevelUser2), s.traces);
        const auto ref = cam_.ReferenceImage();
        if (s.referenceRenewed) {
            EXPECT_TRUE(std::equal(s.frame.begin(), s.frame.end(), ref.begin()));
        } else {
            EXPECT_TRUE(std::equal(reference.begin(), reference.end(), ref.begin()));
        }
        reference.assign(ref.begin(), ref.begin() + static_cast<std::ptrdiff_t>(s.frame.size()));
    }

    ASSERT_EQ(hooks_.detections.size(), 4u);
    EXPECT_EQ(hooks_.detections[0].kind, EventKind::IN);
    EXPECT_EQ(hooks_.detections[0].zone, 0);
    EXPECT_EQ(hooks_.detections[1].kind, EventKind::SOMEZ);
    EXPECT_EQ(hooks_.detections[1].label, "SOMEZ_1_2 (1200) ");
    EXPECT_EQ(hooks_.detections[1].zoneMask, 0b011u);
    EXPECT_EQ(hooks_.detections[2].kind, EventKind::IN);
    EXPECT_EQ(hooks_.detections[2].zone, 1);
    EXPECT_EQ(hooks_.detections[2].label, "IN2");
    EXPECT_EQ(hooks_.detections[3].kind, EventKind::ALLZ);
    EXPECT_EQ(hooks_.detections[3].label, "ALLZ (57600) ");
    EXPECT_EQ(hooks_.tracked, (std::vector<int>{0, 1}));
    // Every frame after the first was either quiet or a detection, and each was painted.
    EXPECT_EQ(hooks_.quiet + 4, static_cast<int>(steps.size()) - 1);
    EXPECT_EQ(hooks_.paints, static_cast<int>(steps.size()) - 1);
    EXPECT_EQ(hooks_.stops, 4);  // one per reference image
}

}  // namespace
}  // namespace vorlix

namespace vorlix {
namespace {

// A grey scene as 24-bit RGB and as I420 (the luma the grey, neutral chroma).
struct GreyScene {
    std::vector<std::uint8_t> rgb, i420;
};

GreyScene Grey(int blockX, int light)
{
    GreyScene s;
    s.rgb.resize(static_cast<std::size_t>(kW) * kH * 3);
    s.i420.assign(static_cast<std::size_t>(kW) * kH + 2 * static_cast<std::size_t>(kW / 2) * (kH / 2), 128);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const bool block = blockX >= 0 && x >= blockX && x < blockX + 20 && y >= 50 && y < 70;
            const auto v = static_cast<std::uint8_t>(block ? 230 : 20 + (x * 7 + y * 3) % 100 + light);
            const auto at = static_cast<std::size_t>(y) * kW + x;
            s.rgb[at * 3] = s.rgb[at * 3 + 1] = s.rgb[at * 3 + 2] = v;
            s.i420[at] = v;
        }
    }
    return s;
}

TEST_F(MovingBlock, I420FramesGiveTheSameEventsAsRgbFrames)
{
    // A second camera with the same zones takes the I420 form of each frame.
    WebCam yuv{[this] { return now_; }};
    RecordingRoad yuvHooks;
    yuv.LoadConfiguration(0, dir_.Path());
    yuvHooks.Attach(yuv);
    yuv.SetCaptureRunning(true);
    yuv.SetDetection(true);
    now_ = 1000;

    const std::vector<std::pair<int, int>> script = {{-1, 0},  {-1, 0},   {10, 0},   {45, 0}, {80, 0},
                                                     {80, 0},  {-1, 0},   {-1, 0},   {-1, 0}, {-1, 60},
                                                     {-1, 60}, {120, 60}, {130, 60}, {-1, 60}};
    for (std::size_t i = 0; i < script.size(); ++i) {
        now_ += i == 8 ? 40 : 1;  // a long calm before the light changes renews the reference
        const GreyScene s = Grey(script[i].first, script[i].second);
        cam_.ProcessFrame(Frame{s.rgb, kW, kH, kFormatRgb24, kTopDown});
        yuv.ProcessFrame(Frame{s.i420, kW, kH, kFourccI420, kTopDown});
        for (int z = 0; z < 3; ++z) {
            EXPECT_EQ(cam_.ZoneMeasure(z), yuv.ZoneMeasure(z)) << "frame " << i << " zone " << z;
        }
    }
    ASSERT_GE(hooks_.detections.size(), 4U) << "the script moves the block through every zone";
    ASSERT_EQ(hooks_.detections.size(), yuvHooks.detections.size());
    std::set<EventKind> kinds;
    for (std::size_t k = 0; k < hooks_.detections.size(); ++k) {
        const Detection& a = hooks_.detections[k];
        const Detection& b = yuvHooks.detections[k];
        SCOPED_TRACE("detection " + std::to_string(k));
        kinds.insert(a.kind);
        EXPECT_EQ(a.kind, b.kind);
        EXPECT_EQ(a.zone, b.zone);
        EXPECT_EQ(a.matched, b.matched);
        EXPECT_EQ(a.zoneMask, b.zoneMask);
        EXPECT_EQ(a.sum, b.sum);
        EXPECT_EQ(a.pictureNumber, b.pictureNumber);
        EXPECT_EQ(a.enlarged.centreX, b.enlarged.centreX);
        EXPECT_EQ(a.enlarged.centreY, b.enlarged.centreY);
        for (int z = 0; z < a.zoneCount; ++z) {
            EXPECT_EQ(a.Zone(z).measure, b.Zone(z).measure) << z;
            EXPECT_EQ(a.Zone(z).centreX, b.Zone(z).centreX) << z;
            EXPECT_EQ(a.Zone(z).centreY, b.Zone(z).centreY) << z;
        }
        EXPECT_EQ(b.format, kFourccI420);
    }
    EXPECT_GE(kinds.size(), 2U) << "one zone and several zones both occur";
}

}  // namespace
}  // namespace vorlix
