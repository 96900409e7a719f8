// The detection engine: both zone measures in every pixel format,
// thresholds, buffer (re)allocation and the decisions of ProcessFrame.
#include <gtest/gtest.h>

#include <algorithm>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/core/WebCam.h"
#include "serveur/core/tests/TestSupport.h"

namespace vorlix {
namespace {

namespace prof = kestrel::profile;
using test::FlatFrame;
using test::PaintBlock;
using test::RecordingRoad;
using test::TempDir;
using test::TraceCapture;

bool Contains(const std::vector<std::string>& lines, const std::string& text)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

// ---- A camera on a scratch settings file -------------------------------------------

struct Rig {
    explicit Rig(const std::vector<ZoneCorners>& zones = {}, int maxDiff = 500)
    {
        const std::string ini = dir.File("Vorlix.ini");
        prof::WriteString(ini, "Vorlix", "LANG", "en");
        prof::WriteInt(ini, "Vorlix", "MaxDiff", maxDiff);
        prof::WriteInt(ini, "Vorlix", "NbSelection", zones.empty() ? 1 : static_cast<int>(zones.size()));
        if (zones.empty()) {
            prof::WriteInt(ini, "Vorlix", "xy_0", 1);
        }
        for (std::size_t i = 0; i < zones.size(); ++i) {
            const std::string n = std::to_string(i);
            prof::WriteInt(ini, "Vorlix", "x0_" + n, zones[i].x0);
            prof::WriteInt(ini, "Vorlix", "y0_" + n, zones[i].y0);
            prof::WriteInt(ini, "Vorlix", "x1_" + n, zones[i].x1);
            prof::WriteInt(ini, "Vorlix", "y1_" + n, zones[i].y1);
            prof::WriteInt(ini, "Vorlix", "xy_" + n, zones[i].whole ? 1 : 0);
        }
        cam.LoadConfiguration(0, dir.Path());
        hooks.Attach(cam);
        cam.SetCaptureRunning(true);
        cam.SetDetection(true);
    }
    void Feed(const std::vector<std::uint8_t>& data, int w, int h, int format = kFormatRgb24)
    {
        cam.ProcessFrame(Frame{data, w, h, format, kTopDown});
    }

    TempDir dir;
    std::time_t now = 1000;
    WebCam cam{[this] { return now; }};
    RecordingRoad hooks;
};

// ---- The two measures -----------------------------------------------------------------

struct FormatCase {
    int format;
    int bpp;
    int standard;  // 40 changed pixels, every byte changed
    int fast;      // the same with step 1
};

TEST(ZoneMeasures, FortyChangedPixelsOfATenByTenZoneInEveryFormat)
{
    const int w = 40, h = 40;
    for (const FormatCase fc : {FormatCase{kFormatRgb24, 3, 120, 120}, FormatCase{kFormatRgb16, 2, 120, 80},
                                FormatCase{kFormatRgb32, 4, 160, 160}, FormatCase{kFourccI420, 1, 120, 120},
                                FormatCase{kFourccYuy2, 2, 120, 80}}) {
        SCOPED_TRACE(fc.format);
        Rig rig({{10, 20, 20, 30, false}}, 100);
        // I420 frames carry the two chroma planes after the luma plane the measures read.
        const std::size_t bytes = fc.format == kFourccI420 ? static_cast<std::size_t>(w * h * 3 / 2)
                                                           : static_cast<std::size_t>(w * h * fc.bpp);
        std::vector<std::uint8_t> still(bytes, 100);
        rig.Feed(still, w, h, fc.format);  // the first frame becomes the reference and the previous image
        ASSERT_EQ(rig.cam.ZoneStep(0), 1);

        std::vector<std::uint8_t> moved = still;
        PaintBlock(moved, w, fc.bpp, 10, 21, 20, 25, 151);  // 4 rows of 10 pixels, each byte +51
        PaintBlock(moved, w, fc.bpp, 30, 0, 40, 10, 0);     // outside the zone
        const std::size_t outside = (std::size_t{5} * w + 35) * fc.bpp;
        rig.cam.ChangeMask()[outside] = 0x55;
        rig.cam.SetCurrentFrame(moved);
        EXPECT_EQ(rig.cam.alg_diff_standard(0), fc.standard);
        EXPECT_EQ(rig.cam.alg_diff_fast(0), fc.fast);
        // Every changed sample weighs the same: x 10..19, y 21..24.
        EXPECT_EQ(rig.cam.ZoneCentreX(0), 14);
        EXPECT_EQ(rig.cam.ZoneCentreY(0), 22);
        EXPECT_EQ(rig.cam.State(0).lastStandard.load(), fc.standard);

        const auto mask = rig.cam.ChangeMask();
        const std::size_t changed = (std::size_t{21} * w + 10) * fc.bpp;
        const std::size_t same = (std::size_t{20} * w + 10) * fc.bpp;
        EXPECT_EQ(mask[changed], static_cast<std::uint8_t>(~151));
        EXPECT_EQ(mask[same], 0);
        EXPECT_EQ(mask[outside], 0x55);  // outside the zone: untouched

        // With mask writing off the measure is the same and the mask stays.
        std::vector<std::uint8_t> before(mask.begin(), mask.end());
        rig.cam.SetCurrentFrame(still);
        rig.cam.SetMaskWriting(false);
        EXPECT_EQ(rig.cam.alg_diff_standard(0), 0);
        rig.cam.SetMaskWriting(true);
        EXPECT_TRUE(std::equal(before.begin(), before.end(), mask.begin()));
        rig.cam.SetCurrentFrame({});
    }
}

TEST(ZoneMeasures, StrideScalesTheFastMeasure)
{
    Rig rig({{0, 0, 160, 120, false}});
    const std::vector<std::uint8_t> still = FlatFrame(320, 240, 80);
    rig.Feed(still, 320, 240);
    ASSERT_EQ(rig.cam.ZoneStep(0), 12);
    std::vector<std::uint8_t> moved = still;
    PaintBlock(moved, 320, 3, 0, 0, 30, 10, 200);  // columns 0, 12, 24 of the stride in 10 rows
    rig.cam.SetCurrentFrame(moved);
    EXPECT_EQ(rig.cam.alg_diff_fast(0), 3 * 10 * 3 * 12);
    EXPECT_EQ(rig.cam.alg_diff_standard(0), 30 * 10 * 3);
    rig.cam.SetCurrentFrame({});
}

TEST(ZoneMeasures, DifferenceEqualToNoiseDoesNotCount)
{
    Rig rig({{0, 0, 20, 20, false}});
    const std::vector<std::uint8_t> still = FlatFrame(20, 20, 100);
    rig.Feed(still, 20, 20);
    for (const auto& [value, counted] : {std::pair{150, 0}, std::pair{50, 0}, std::pair{151, 1}, std::pair{49, 1}}) {
        std::vector<std::uint8_t> frame = still;
        frame[0] = static_cast<std::uint8_t>(value);
        rig.cam.SetCurrentFrame(frame);
        EXPECT_EQ(rig.cam.alg_diff_standard(0), counted) << value;
    }
    rig.cam.SetCurrentFrame({});
}

TEST(ZoneMeasures, UnknownFormatMeasuresNothingAndSaysSo)
{
    Rig rig;
    TraceCapture traces;
    std::vector<std::uint8_t> frame = FlatFrame(16, 16, 10);
    rig.Feed(frame, 16, 16, 0x1234);
    frame.assign(frame.size(), 250);
    rig.Feed(frame, 16, 16, 0x1234);
    EXPECT_TRUE(rig.hooks.detections.empty());
    const auto lines = traces.MessagesAt(kestrel::kLevelUnclassified);
    EXPECT_TRUE(Contains(lines, "image type unknown, alg_diff_fast (1234)\n"));
}

TEST(ZoneMeasures, ShortFrameIsNeverReadPastItsEnd)
{
    Rig rig;
    std::vector<std::uint8_t> frame = FlatFrame(64, 48, 10);
    rig.Feed(frame, 64, 48);
    frame.assign(100, 250);  // far shorter than 64 x 48 x 3
    rig.Feed(frame, 64, 48);
    rig.Feed(frame, 64, 48);
    EXPECT_TRUE(rig.hooks.detections.empty());
}

// ---- Thresholds ---------------------------------------------------------------------------

TEST(Thresholds, QuarterOfThePictureWithMaxDiff500)
{
    Rig rig({{0, 0, 160, 120, false}});
    TraceCapture traces;
    ASSERT_TRUE(rig.cam.ResizeBuffers(320, 240));
    rig.cam.ComputeZoneThresholds();
    EXPECT_EQ(rig.cam.State(0).shareOfPicture.load(), 2501);
    EXPECT_EQ(rig.cam.State(0).shareOfZones.load(), 10001);
    EXPECT_EQ(rig.cam.ZoneThreshold(0), 126);
    EXPECT_EQ(rig.cam.ZoneStep(0), 12);
    EXPECT_EQ(rig.hooks.rangeHigh, 126);
    const auto lines = traces.MessagesAt(kestrel::kLevelTrace);
    EXPECT_TRUE(Contains(lines, "Tout = 500 chgt"));
    EXPECT_TRUE(Contains(lines, "Zone 1 =10001 %oo/zones , 2501 %oo/tout, 126 chgt, 12 iteration"));
    EXPECT_TRUE(Contains(lines, "Zone 1 = 0,0     160,120"));
}

TEST(Thresholds, StepIsClampedAndSharesFollowTheZones)
{
    Rig rig({{0, 0, 320, 240, false}, {0, 0, 32, 24, false}}, 500);
    ASSERT_TRUE(rig.cam.ResizeBuffers(320, 240));
    rig.cam.ComputeZoneThresholds();
    EXPECT_EQ(rig.cam.ZoneThreshold(0), 501);  // 10001 * 500 / 10000 + 1
    EXPECT_EQ(rig.cam.ZoneStep(0), 40);        // 50, at most 40
    EXPECT_EQ(rig.cam.State(0).shareOfZones.load(), 9901);
    EXPECT_EQ(rig.cam.State(1).shareOfPicture.load(), 101);
    EXPECT_EQ(rig.cam.ZoneThreshold(1), 6);
    EXPECT_EQ(rig.cam.ZoneStep(1), 1);  // 0, at least 1
}

TEST(Thresholds, ZoneBeyondThePictureOrNoAreaLeavesNoZones)
{
    Rig rig({{0, 0, 100, 100, false}, {0, 0, 400, 10, false}});
    ASSERT_TRUE(rig.cam.ResizeBuffers(320, 240));
    rig.cam.SetZone(1, {0, 0, 321, 10, false});  // one pixel too wide
    rig.cam.ComputeZoneThresholds();
    EXPECT_EQ(rig.cam.ZoneCount(), 0);

    rig.cam.SetZone(0, {5, 5, 5, 50, false});
    rig.cam.SetZoneCount(1);
    rig.cam.ComputeZoneThresholds();
    EXPECT_EQ(rig.cam.ZoneCount(), 0);
}

TEST(Thresholds, InvertedZoneNeverMatches)
{
    // Corners swapped on one axis only: a negative area.
    Rig rig({{100, 0, 10, 50, false}, {0, 0, 50, 50, false}});
    const std::vector<std::uint8_t> still = FlatFrame(160, 120, 10);
    rig.Feed(still, 160, 120);
    EXPECT_GT(rig.cam.ZoneThreshold(0), 0);
    rig.Feed(still, 160, 120);
    EXPECT_TRUE(rig.hooks.detections.empty());
    std::vector<std::uint8_t> moved = still;
    PaintBlock(moved, 160, 3, 0, 0, 160, 120, 200);
    rig.Feed(moved, 160, 120);
    ASSERT_EQ(rig.hooks.detections.size(), 1u);
    EXPECT_EQ(rig.hooks.detections[0].zone, 1);
    EXPECT_EQ(rig.hooks.detections[0].kind, EventKind::IN);
}

TEST(Thresholds, SizeLearntFromTheFirstFrameKeepsTheWholePictureZone)
{
    // A source that tells its size with its first frame: thresholds asked
    // for before it must leave the zones alone, and the first frames detect.
    Rig rig;
    rig.cam.ComputeZoneThresholds();
    EXPECT_EQ(rig.cam.ZoneCount(), 1);
    EXPECT_EQ(rig.cam.ZoneThreshold(0), 0);
    rig.cam.SetCaptureRunning(false);  // the first frame may come before its starter says capture runs
    const std::vector<std::uint8_t> still = FlatFrame(160, 120, 40);
    rig.Feed(still, 160, 120);
    EXPECT_EQ(rig.cam.ZoneCount(), 1);
    EXPECT_EQ(rig.cam.Zone(0), (ZoneCorners{0, 0, 160, 120, true}));
    EXPECT_GT(rig.cam.ZoneThreshold(0), 1);
    rig.Feed(still, 160, 120);
    std::vector<std::uint8_t> moved = still;
    PaintBlock(moved, 160, 3, 40, 30, 100, 80, 250);
    rig.Feed(moved, 160, 120);
    ASSERT_EQ(rig.hooks.detections.size(), 1u);
    EXPECT_EQ(rig.hooks.detections[0].kind, EventKind::IN);
    EXPECT_EQ(rig.hooks.detections[0].zone, 0);
}

TEST(Thresholds, NothingWhileCaptureIsStopped)
{
    Rig rig({{0, 0, 160, 120, false}});
    ASSERT_TRUE(rig.cam.ResizeBuffers(320, 240));
    rig.cam.SetCaptureRunning(false);
    rig.cam.ComputeZoneThresholds();
    EXPECT_EQ(rig.cam.ZoneThreshold(0), 0);
    EXPECT_EQ(rig.hooks.rangeHigh, -1);
}

// ---- Buffers ---------------------------------------------------------------------------------

TEST(Buffers, SizeChangeReallocatesRescalesAndRewritesZones)
{
    TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    prof::WriteInt(ini, "Vorlix", "NbSelection", 3);
    const int zones[3][5] = {{40, 30, 160, 120, 0}, {0, 0, 0, 0, 1}, {300, 10, 330, 20, 0}};
    for (int i = 0; i < 3; ++i) {
        const std::string n = std::to_string(i);
        prof::WriteInt(ini, "Vorlix", "x0_" + n, zones[i][0]);
        prof::WriteInt(ini, "Vorlix", "y0_" + n, zones[i][1]);
        prof::WriteInt(ini, "Vorlix", "x1_" + n, zones[i][2]);
        prof::WriteInt(ini, "Vorlix", "y1_" + n, zones[i][3]);
        prof::WriteInt(ini, "Vorlix", "xy_" + n, zones[i][4]);
    }
    prof::WriteInt(ini, "Vorlix", "width", 320);
    prof::WriteInt(ini, "Vorlix", "height", 240);
    WebCam cam;
    RecordingRoad hooks;
    cam.LoadConfiguration(0, dir.Path());
    hooks.Attach(cam);
    cam.SetCaptureRunning(true);
    cam.SetDetection(true);

    const std::vector<std::uint8_t> frame = FlatFrame(160, 120, 9);
    cam.ProcessFrame(Frame{frame, 160, 120, kFormatRgb24, kTopDown});
    EXPECT_EQ(cam.Width(), 160);
    EXPECT_EQ(cam.ReferenceImage().size(), 160u * 120u * 4u);
    EXPECT_EQ(cam.ChangeMask().size(), 160u * 120u * 4u);
    EXPECT_EQ(cam.Zone(0), (ZoneCorners{20, 15, 80, 60, false}));
    EXPECT_EQ(cam.Zone(1), (ZoneCorners{0, 0, 160, 120, true}));
    EXPECT_EQ(cam.Zone(2), (ZoneCorners{150, 5, 160, 10, false}));  // x1 165 clamped to the picture
    EXPECT_EQ(cam.Zone(3), (ZoneCorners{0, 0, 160, 120, false}));   // the scratch slot
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "width", 0), 160);
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "height", 0), 120);
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "x0_0", 0), 20);
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "y1_0", 0), 60);
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "x1_2", 0), 160);
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "x1_1", -1), 160);
    EXPECT_EQ(hooks.refreshes, 1);  // the allocation asked for a client refresh
    EXPECT_GT(cam.ZoneThreshold(0), 0);

    // Back to the old size: the zones scale up from the new saved size.
    const std::vector<std::uint8_t> big = FlatFrame(320, 240, 9);
    cam.ProcessFrame(Frame{big, 320, 240, kFormatRgb24, kTopDown});
    EXPECT_EQ(cam.Zone(0), (ZoneCorners{40, 30, 160, 120, false}));
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "x1_0", 0), 160);
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "width", 0), 320);
    EXPECT_EQ(hooks.refreshes, 2);

    // A zone that starts beyond the new picture is emptied.
    cam.SetZone(0, {200, 10, 300, 20, false});
    const std::vector<std::uint8_t> small = FlatFrame(64, 48, 9);
    cam.ProcessFrame(Frame{small, 64, 48, kFormatRgb24, kTopDown});
    EXPECT_EQ(cam.Zone(0), (ZoneCorners{40, 2, 60, 4, false}));
    cam.SetZone(2, {70, 0, 80, 10, false});
    ASSERT_TRUE(cam.ResizeBuffers(64, 48));
    EXPECT_EQ(cam.Zone(2), ZoneCorners{});
}

TEST(Buffers, FirstAllocationWithoutSavedSizeWritesTheZones)
{
    Rig rig;
    const std::string ini = rig.dir.File("Vorlix.ini");
    ASSERT_FALSE(prof::Read(ini, "Vorlix", "width").has_value());
    ASSERT_TRUE(rig.cam.ResizeBuffers(32, 24));
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "width", 0), 32);
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "x1_0", 0), 32);
    EXPECT_EQ(rig.cam.LastDetectionTime(), 0);
    EXPECT_TRUE(rig.cam.ClientRefreshRequested());
    EXPECT_EQ(rig.cam.FrameSize(), 32 * 24 * 3);
}

TEST(Buffers, ImagesThatCannotBeHadStopProcessingWithAnError)
{
    Rig rig;
    TraceCapture traces;
    rig.cam.SetImageMemoryLimit(std::size_t{4} * 64 * 48 * 4);
    const std::vector<std::uint8_t> fits = FlatFrame(64, 48, 1);
    rig.Feed(fits, 64, 48);
    EXPECT_FALSE(rig.cam.ProcessingStopped());
    EXPECT_EQ(rig.hooks.refreshes, 1);

    const std::vector<std::uint8_t> big = FlatFrame(128, 96, 1);
    rig.Feed(big, 128, 96);
    EXPECT_TRUE(rig.cam.ProcessingStopped());
    EXPECT_TRUE(rig.cam.ReferenceImage().empty());
    rig.Feed(big, 128, 96);  // not retried frame after frame
    rig.Feed(big, 128, 96);
    EXPECT_EQ(rig.hooks.refreshes, 1);
    EXPECT_EQ(rig.hooks.paints, 0);
    const auto errors = traces.MessagesAt(kestrel::kLevelError);
    ASSERT_EQ(std::count_if(errors.begin(), errors.end(),
                            [](const std::string& l) { return l.find("ResizeBuffers") != std::string::npos; }),
              1);
    EXPECT_TRUE(Contains(errors, "ResizeBuffers: no images for 128 x 96, frames are no longer processed"));

    // A size that fits brings processing back.
    rig.Feed(fits, 64, 48);
    EXPECT_FALSE(rig.cam.ProcessingStopped());
    EXPECT_EQ(rig.hooks.refreshes, 2);
    // So does a new allocation once memory allows it.
    rig.Feed(big, 128, 96);
    EXPECT_TRUE(rig.cam.ProcessingStopped());
    rig.cam.SetImageMemoryLimit(0);
    EXPECT_TRUE(rig.cam.ResizeBuffers(128, 96));
    rig.Feed(big, 128, 96);
    EXPECT_FALSE(rig.cam.ProcessingStopped());
    EXPECT_EQ(rig.hooks.refreshes, 3);
}

TEST(Buffers, FormatChangeCopiesWholeFrames)
{
    Rig rig;
    const std::vector<std::uint8_t> rgb = FlatFrame(8, 8, 1);
    rig.Feed(rgb, 8, 8);
    EXPECT_EQ(rig.cam.FrameSize(), 8 * 8 * 3);
    std::vector<std::uint8_t> rgba = FlatFrame(8, 8, 7, 4);
    rig.cam.RequestReferenceImage();
    rig.cam.RequestClientRefresh();
    rig.Feed(rgba, 8, 8, kFormatRgb32);
    EXPECT_EQ(rig.cam.FrameSize(), 8 * 8 * 4);
    EXPECT_EQ(rig.cam.ReferenceImage()[8 * 8 * 4 - 1], 7);
}

// ---- Decisions of ProcessFrame --------------------------------------------------------------------

TEST(ProcessFrameFlow, MaxDiffZeroStopsProcessingAndDisplay)
{
    Rig rig({}, 0);
    TraceCapture traces;
    std::vector<std::uint8_t> frame = FlatFrame(32, 24, 3);
    rig.Feed(frame, 32, 24);
    frame.assign(frame.size(), 250);
    rig.Feed(frame, 32, 24);
    EXPECT_EQ(rig.hooks.refreshes, 0);
    EXPECT_EQ(rig.hooks.paints, 0);
    EXPECT_EQ(rig.hooks.quiet, 0);
    EXPECT_TRUE(rig.hooks.detections.empty());
    EXPECT_TRUE(traces.MessagesAt(kestrel::kLevelUser2).empty());
    // A save request is still served.
    rig.cam.RequestSaveImage();
    rig.Feed(frame, 32, 24);
    EXPECT_EQ(rig.hooks.saves, 1);
    EXPECT_FALSE(rig.cam.SaveImageRequested());
    EXPECT_EQ(rig.cam.AnnotatedImage()[0], 250);
}

TEST(ProcessFrameFlow, DetectionOffStillRefreshesAndPaints)
{
    Rig rig;
    rig.cam.SetDetection(false);
    std::vector<std::uint8_t> frame = FlatFrame(32, 24, 3);
    rig.Feed(frame, 32, 24);
    frame.assign(frame.size(), 250);
    rig.Feed(frame, 32, 24);
    EXPECT_EQ(rig.hooks.refreshes, 1);
    EXPECT_EQ(rig.hooks.paints, 1);
    EXPECT_TRUE(rig.hooks.detections.empty());
    rig.cam.SetDisplayOn(false);
    rig.Feed(frame, 32, 24);
    EXPECT_EQ(rig.hooks.paints, 1);
}

TEST(ProcessFrameFlow, TwoMatchingZonesGiveAllZones)
{
    Rig rig({{0, 0, 80, 120, false}, {80, 0, 160, 120, false}});
    TraceCapture traces;
    const std::vector<std::uint8_t> still = FlatFrame(160, 120, 40);
    rig.Feed(still, 160, 120);
    rig.cam.shots.store(6);
    std::vector<std::uint8_t> moved = still;
    PaintBlock(moved, 160, 3, 0, 0, 160, 60, 200);
    rig.Feed(moved, 160, 120);
    ASSERT_EQ(rig.hooks.detections.size(), 1u);
    const Detection& d = rig.hooks.detections[0];
    EXPECT_EQ(d.kind, EventKind::ALLZ);
    EXPECT_EQ(d.zoneMask, 0u);
    EXPECT_EQ(d.sum, 2 * 80 * 60 * 3);
    EXPECT_EQ(d.label, "ALLZ (28800) ");
    EXPECT_EQ(rig.cam.LastDetectionTime(), rig.now + 2 - 30);
    EXPECT_TRUE(Contains(traces.MessagesAt(kestrel::kLevelInfo), "ALLZ (28800)  (7)"));
    EXPECT_EQ(rig.hooks.lastColour, kActivityBlue);
    EXPECT_EQ(rig.hooks.lastPosition, 5000);
    EXPECT_EQ(rig.cam.PreviousImage()[0], 200);  // the detection frame is the new previous image
}

TEST(ProcessFrameFlow, TwoOfThreeZonesGiveSomeZonesWithTheirNumbers)
{
    Rig rig({{0, 0, 50, 120, false}, {50, 0, 100, 120, false}, {100, 0, 150, 120, false}});
    TraceCapture traces;
    const std::vector<std::uint8_t> still = FlatFrame(150, 120, 40);
    rig.Feed(still, 150, 120);
    std::vector<std::uint8_t> moved = still;
    PaintBlock(moved, 150, 3, 0, 0, 50, 40, 200);
    PaintBlock(moved, 150, 3, 100, 80, 150, 120, 200);
    rig.Feed(moved, 150, 120);
    ASSERT_EQ(rig.hooks.detections.size(), 1u);
    const Detection& d = rig.hooks.detections[0];
    EXPECT_EQ(d.kind, EventKind::SOMEZ);
    EXPECT_EQ(d.zoneMask, 0b101u);
    EXPECT_EQ(d.label, "SOMEZ_1_3 (12000) ");
    EXPECT_EQ(rig.hooks.tracked, (std::vector<int>{0, 2}));
    EXPECT_TRUE(Contains(traces.MessagesAt(kestrel::kLevelInfo), "SOMEZ_1_3 (12000)  (1)"));
    EXPECT_EQ(rig.cam.LastDetectionTime(), rig.now);
}

TEST(ProcessFrameFlow, OneZoneGoesThroughClassification)
{
    Rig rig({{0, 0, 50, 50, false}, {50, 50, 100, 100, false}});
    const std::vector<std::uint8_t> still = FlatFrame(100, 100, 40);
    rig.Feed(still, 100, 100);
    std::vector<std::uint8_t> moved = still;
    PaintBlock(moved, 100, 3, 60, 60, 90, 90, 200);
    rig.cam.UpdateSettings([](CameraSettings& s) { s.followDetection = 1; });
    rig.Feed(moved, 100, 100);
    ASSERT_EQ(rig.hooks.detections.size(), 1u);
    EXPECT_EQ(rig.hooks.detections[0].zone, 1);
    EXPECT_EQ(rig.hooks.detections[0].kind, EventKind::IN);
    EXPECT_EQ(rig.hooks.detections[0].label, "IN2");
    EXPECT_EQ(rig.hooks.detections[0].zoneMask, 0u);
    EXPECT_EQ(rig.hooks.overlays, 1);
    EXPECT_EQ(rig.cam.ZoneCentreX(1), 74);  // (60 + 89) / 2
}

TEST(ProcessFrameFlow, RequestsFromTheMainWindow)
{
    Rig rig;
    TraceCapture traces;
    const std::vector<std::uint8_t> still = FlatFrame(32, 24, 3);
    rig.Feed(still, 32, 24);
    rig.Feed(still, 32, 24);  // calm, 1000 - 0 > 30: renewed
    rig.now += 5;
    std::vector<std::uint8_t> other = FlatFrame(32, 24, 9);
    rig.cam.RequestClientRefresh();
    rig.Feed(other, 32, 24);  // a refresh with a known detection time keeps the reference
    EXPECT_EQ(rig.cam.ReferenceImage()[0], 3);
    EXPECT_EQ(rig.cam.AnnotatedImage()[0], 9);
    rig.cam.RequestReferenceImage();
    rig.cam.RequestClientRefresh();
    rig.Feed(other, 32, 24);
    EXPECT_EQ(rig.cam.ReferenceImage()[0], 9);
    EXPECT_EQ(rig.hooks.refreshes, 3);
    EXPECT_EQ(traces.MessagesAt(kestrel::kLevelUser2),
              (std::vector<std::string>{"refresh current image for a possible client", "creation reference image",
                                        "creation reference image", "refresh current image for a possible client",
                                        "refresh current image for a possible client", "creation reference image"}));
    EXPECT_EQ(rig.hooks.stops, 3);  // each new reference image ends a running recording
}

}  // namespace
}  // namespace vorlix
