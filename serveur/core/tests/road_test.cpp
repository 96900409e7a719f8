// The values the engine hands down the road: bytes of every capture format,
// the conversion to RGB, the zone arithmetic, and what one detection, one
// refresh and one save carry to the classifier and the consumers, in order.
#include <gtest/gtest.h>

#include <array>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "libkestrel/profile/Profile.h"
#include "serveur/core/FrameToRgb.h"
#include "serveur/core/PictureNames.h"
#include "serveur/core/PixelFormat.h"
#include "serveur/core/WebCam.h"
#include "serveur/core/ZoneMath.h"
#include "serveur/core/ZoneMeasures.h"
#include "serveur/core/tests/TestSupport.h"

namespace vorlix {
namespace {

namespace prof = kestrel::profile;
using test::FlatFrame;
using test::PaintBlock;
using test::TempDir;

// ---- Bytes of the capture formats -------------------------------------------------

TEST(PixelFormats, EveryFormatHasItsBytesPerPixelRowAndFrame)
{
    struct Case {
        int format;
        int bpp;
        std::size_t frame;  // 6 x 4 pixels
    };
    for (const Case c : {Case{kFormatRgb16, 2, 48}, Case{kFormatRgb24, 3, 72}, Case{kFormatRgb32, 4, 96},
                         Case{kFourccYuy2, 2, 48}, Case{kFourccI420, 1, 24 + 2 * 3 * 2}}) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(BytesPerPixel(c.format), c.bpp);
        EXPECT_EQ(RowBytes(c.format, 6), static_cast<std::size_t>(6 * c.bpp));
        EXPECT_EQ(FrameBytes(c.format, 6, 4), c.frame);
    }
    // I420 of odd size: the chroma planes round up, so a 5 x 3 frame is 15 + 2 x 3 x 2 bytes.
    EXPECT_EQ(FrameBytes(kFourccI420, 5, 3), 15U + 12U);
    EXPECT_EQ(FrameBytes(kFourccI420, 640, 480), 640U * 480U * 3U / 2U);
    // Unknown codes and empty sizes take nothing.
    EXPECT_EQ(BytesPerPixel(0x1234), 0);
    EXPECT_EQ(FrameBytes(0x1234, 6, 4), 0U);
    EXPECT_EQ(FrameBytes(kFormatRgb24, 0, 4), 0U);
    EXPECT_EQ(FrameBytes(kFourccI420, 6, -1), 0U);
}

// ---- Conversion to RGB --------------------------------------------------------------

TEST(FrameToRgb, EveryEngineFormatConvertsToTopDownRgb)
{
    std::vector<std::uint8_t> out;
    // 2 x 2, bottom-up 24-bit: row 0 in memory is the bottom row.
    const std::vector<std::uint8_t> rgb24 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    ASSERT_TRUE(ConvertFrameToRgb(rgb24, 2, 2, kFormatRgb24, kBottomUp, out));
    EXPECT_EQ(out, (std::vector<std::uint8_t>{7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6}));
    EXPECT_TRUE(IsPlainRgb(kFormatRgb24, kTopDown));
    EXPECT_FALSE(IsPlainRgb(kFormatRgb24, kBottomUp));

    const std::vector<std::uint8_t> rgb32 = {30, 20, 10, 0};  // B G R X
    ASSERT_TRUE(ConvertFrameToRgb(rgb32, 1, 1, kFormatRgb32, kTopDown, out));
    EXPECT_EQ(out, (std::vector<std::uint8_t>{10, 20, 30}));

    const std::vector<std::uint8_t> rgb565 = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00};  // red, green, blue
    ASSERT_TRUE(ConvertFrameToRgb(rgb565, 3, 1, kFormatRgb16, kTopDown, out));
    EXPECT_EQ(out, (std::vector<std::uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 255}));

    // I420 2 x 2: grey Y 126 with neutral chroma gives mid grey.
    const std::vector<std::uint8_t> i420 = {126, 126, 235, 16, 128, 128};
    ASSERT_TRUE(ConvertFrameToRgb(i420, 2, 2, kFourccI420, kBottomUp, out));
    ASSERT_EQ(out.size(), 12U);
    EXPECT_EQ(out[0], 128);
    EXPECT_EQ(out[6], 255);  // Y 235 is white, row order kept for YUV
    EXPECT_EQ(out[9], 0);    // Y 16 is black
}

TEST(FrameToRgb, ShortFramesOddYuyvAndUnknownFormatsAreRefused)
{
    std::vector<std::uint8_t> out;
    EXPECT_FALSE(ConvertFrameToRgb(std::vector<std::uint8_t>(11), 2, 2, kFormatRgb24, kTopDown, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(ConvertFrameToRgb(std::vector<std::uint8_t>(5), 2, 2, kFourccI420, kTopDown, out));
    EXPECT_FALSE(ConvertFrameToRgb(std::vector<std::uint8_t>(64), 3, 2, kFourccYuy2, kTopDown, out));
    EXPECT_FALSE(ConvertFrameToRgb(std::vector<std::uint8_t>(64), 2, 2, 12345, kTopDown, out));
    EXPECT_FALSE(ConvertFrameToRgb(std::vector<std::uint8_t>(64), 0, 2, kFormatRgb24, kTopDown, out));
}

TEST(FrameToRgb, OddI420FramesNeedTheirRoundedChromaPlanes)
{
    std::vector<std::uint8_t> out;
    // 3 x 3: 9 luma bytes and two 2 x 2 chroma planes.
    std::vector<std::uint8_t> i420(9 + 8, 128);
    ASSERT_TRUE(ConvertFrameToRgb(i420, 3, 3, kFourccI420, kTopDown, out));
    EXPECT_EQ(out.size(), 27U);
    i420.pop_back();
    EXPECT_FALSE(ConvertFrameToRgb(i420, 3, 3, kFourccI420, kTopDown, out));
}

TEST(FrameToRgb, YuvFramesGiveTheBt601FormulaForEveryPixel)
{
    // Random samples (the full 0..255 range, beyond video range) on odd and
    // even sizes: each pixel is the formula of its own luma and chroma.
    const auto formula = [](int y, int u, int v) {
        const int c = 298 * (y - 16), d = u - 128, e = v - 128;
        const auto clamp = [](int x) { return static_cast<std::uint8_t>(std::clamp(x >> 8, 0, 255)); };
        return std::array<std::uint8_t, 3>{clamp(c + 409 * e + 128), clamp(c - 100 * d - 208 * e + 128),
                                           clamp(c + 516 * d + 128)};
    };
    std::mt19937 random(7);
    for (const auto& [w, h] : {std::pair{5, 3}, std::pair{8, 6}, std::pair{1, 1}, std::pair{33, 17}}) {
        const std::size_t cw = (w + 1) / 2, ch = (h + 1) / 2;
        std::vector<std::uint8_t> i420(static_cast<std::size_t>(w * h) + 2 * cw * ch);
        for (auto& b : i420) {
            b = static_cast<std::uint8_t>(random());
        }
        std::vector<std::uint8_t> out;
        ASSERT_TRUE(ConvertFrameToRgb(i420, w, h, kFourccI420, kTopDown, out));
        const std::uint8_t* u = i420.data() + static_cast<std::ptrdiff_t>(w) * h;
        const std::uint8_t* v = u + cw * ch;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const std::size_t c = (y / 2) * cw + x / 2;
                const auto want = formula(i420[static_cast<std::size_t>(y) * w + x], u[c], v[c]);
                const std::size_t at = static_cast<std::size_t>(y * w + x) * 3;
                ASSERT_EQ((std::array<std::uint8_t, 3>{out[at], out[at + 1], out[at + 2]}), want)
                    << w << "x" << h << " at " << x << "," << y;
            }
        }
        if (w % 2 == 0) {
            std::vector<std::uint8_t> yuy2(static_cast<std::size_t>(w * h * 2));
            for (auto& b : yuy2) {
                b = static_cast<std::uint8_t>(random());
            }
            ASSERT_TRUE(ConvertFrameToRgb(yuy2, w, h, kFourccYuy2, kTopDown, out));
            for (std::size_t p = 0; p < static_cast<std::size_t>(w) * h; ++p) {
                const std::uint8_t* pair = yuy2.data() + (p & ~std::size_t{1}) * 2;
                const auto want = formula(pair[(p & 1U) * 2], pair[1], pair[3]);
                ASSERT_EQ((std::array<std::uint8_t, 3>{out[p * 3], out[p * 3 + 1], out[p * 3 + 2]}), want) << p;
            }
        }
    }
}

// ---- Zone arithmetic ---------------------------------------------------------------------

TEST(ZoneMath, EnlargedZoneGrowsByHalfItsSizeWithinThePicture)
{
    EXPECT_EQ(EnlargedZone({100, 100, 140, 120}, 320, 240), (ZoneCorners{80, 90, 160, 130}));
    EXPECT_EQ(EnlargedZone({0, 0, 100, 100}, 320, 240), (ZoneCorners{0, 0, 150, 150}));
    EXPECT_EQ(EnlargedZone({200, 150, 320, 240}, 320, 240), (ZoneCorners{140, 105, 320, 240}));
}

TEST(ZoneMath, RescaledZonesFollowTheNewSizeAndTheScratchSlotIsTheWholePicture)
{
    ZoneSnapshot table;
    table.count = 3;
    table.slots[0] = {40, 30, 160, 120, false};
    table.slots[1] = {0, 0, 0, 0, true};
    table.slots[2] = {300, 10, 330, 20, false};
    EXPECT_TRUE(RescaleZones(table, 320, 240, 160, 120));
    EXPECT_EQ(table.slots[0], (ZoneCorners{20, 15, 80, 60, false}));
    EXPECT_EQ(table.slots[1], (ZoneCorners{0, 0, 160, 120, true}));
    EXPECT_EQ(table.slots[2], (ZoneCorners{150, 5, 160, 10, false}));
    EXPECT_EQ(table.slots[3], (ZoneCorners{0, 0, 160, 120, false}));
    // The same size again changes nothing; a zone past the picture is emptied.
    EXPECT_FALSE(RescaleZones(table, 160, 120, 160, 120));
    table.slots[0] = {170, 0, 180, 10, false};
    EXPECT_TRUE(RescaleZones(table, 160, 120, 160, 120));
    EXPECT_EQ(table.slots[0], ZoneCorners{});
}

TEST(ZoneMath, ThresholdsOfAQuarterAndTheZonesThatCannotCount)
{
    ZoneSnapshot table;
    table.count = 1;
    table.slots[0] = {0, 0, 160, 120, false};
    ZoneThresholds t = ComputeThresholds(table, 320, 240, 500);
    ASSERT_EQ(t.count, 1);
    EXPECT_EQ(t.zones[0].shareOfPicture, 2501);
    EXPECT_EQ(t.zones[0].shareOfZones, 10001);
    EXPECT_EQ(t.zones[0].threshold, 126);
    EXPECT_EQ(t.zones[0].step, 12);
    EXPECT_EQ(t.largest, 126);
    // An inverted zone covers nothing and never matches.
    table.count = 2;
    table.slots[1] = {100, 0, 10, 50, false};
    t = ComputeThresholds(table, 320, 240, 500);
    EXPECT_EQ(t.zones[1].threshold, 1);
    EXPECT_GT(t.zones[1].threshold, 0);
    // One zone past the picture leaves none; so do zones without area.
    table.slots[1] = {0, 0, 321, 10, false};
    EXPECT_EQ(ComputeThresholds(table, 320, 240, 500).count, 0);
    table.count = 1;
    table.slots[0] = {5, 5, 5, 50, false};
    EXPECT_EQ(ComputeThresholds(table, 320, 240, 500).count, 0);
}

TEST(ZoneMeasuresAround, TheBandAroundAMeasuredZoneGivesTheWholeMeasureOfTheLargerOne)
{
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> byte(0, 255);
    const int w = 97, h = 61;
    for (const int format : {kFormatRgb24, kFormatRgb16, kFormatRgb32, kFourccYuy2, kFourccI420}) {
        SCOPED_TRACE(format);
        std::vector<std::uint8_t> reference(FrameBytes(format, w, h)), current(reference.size());
        for (std::size_t i = 0; i < reference.size(); ++i) {
            reference[i] = static_cast<std::uint8_t>(byte(rng));
            current[i] = static_cast<std::uint8_t>(i % 3 == 0 ? byte(rng) : reference[i]);
        }
        const MeasuredPicture picture{current, w, h, format, 50};
        for (const ZoneCorners& zone :
             {ZoneCorners{30, 20, 50, 40, false}, ZoneCorners{0, 0, 97, 61, false}, ZoneCorners{80, 50, 97, 61, false},
              ZoneCorners{3, 0, 4, 1, false}, ZoneCorners{10, 10, 10, 30, false}}) {
            const ZoneCorners outer = EnlargedZone(zone, w, h);
            const auto inner = MeasureStandard(picture, reference, {}, zone);
            const auto whole = MeasureStandard(picture, reference, {}, outer);
            const auto around = MeasureAround(picture, reference, zone, *inner, outer);
            ASSERT_TRUE(inner && whole && around);
            EXPECT_EQ(around->measure, whole->measure);
            EXPECT_EQ(around->count, whole->count);
            EXPECT_EQ(around->sumX, whole->sumX);
            EXPECT_EQ(around->sumY, whole->sumY);
            EXPECT_EQ(around->centreX, whole->centreX);
            EXPECT_EQ(around->centreY, whole->centreY);
        }
        // A zone that is not inside the larger one is measured whole.
        const ZoneCorners apart{0, 0, 10, 10, false};
        const auto inner = MeasureStandard(picture, reference, {}, apart);
        const ZoneCorners other{50, 30, 90, 60, false};
        EXPECT_EQ(MeasureAround(picture, reference, apart, *inner, other)->count,
                  MeasureStandard(picture, reference, {}, other)->count);
        // Images too short for the picture are not measured.
        EXPECT_FALSE(MeasureAround(MeasuredPicture{std::span(current).first(10), w, h, format, 50}, reference,
                                   ZoneCorners{30, 20, 50, 40, false}, *inner, ZoneCorners{20, 10, 60, 50, false}));
    }
}

// ---- The values of the road -----------------------------------------------------------------

// Every stop writes down what it is handed; the classifier also checks what
// it may and may not see yet.
struct Stop : DetectionConsumer {
    Stop(std::vector<std::string>& calls, std::string name, const WebCam& cam)
        : calls_(calls), name_(std::move(name)), cam_(cam)
    {
    }
    void OnSaveImage(const PictureRequest& r) override { calls_.push_back(name_ + " save " + r.path); }
    void OnClientRefresh(const PictureRequest& r) override { calls_.push_back(name_ + " refresh " + r.path); }
    void OnDetection(const Detection& d) override
    {
        calls_.push_back(name_ + " detection " + d.picturePath);
        detections.push_back(d);
        shotsDuringRoad = cam_.shots.load();
        if (!d.picture.rgb.empty()) {
            firstPixel = d.picture.rgb[0];
        }
    }
    void OnQuietFrame() override { calls_.push_back(name_ + " quiet"); }
    void OnNewReference() override { calls_.push_back(name_ + " reference"); }
    std::vector<std::string>& calls_;
    std::string name_;
    const WebCam& cam_;
    std::vector<Detection> detections;
    int shotsDuringRoad = -1;
    int firstPixel = -1;
};

struct Naming : DetectionClassifier {
    explicit Naming(std::vector<std::string>& calls) : calls_(calls) {}
    void Classify(Detection& d) override
    {
        calls_.push_back("classify " + d.label);
        pictureWhileNaming = !d.picture.rgb.empty();
        d.label = "named";
    }
    std::vector<std::string>& calls_;
    bool pictureWhileNaming = false;
};

class Road : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string ini = dir_.File("Vorlix.ini");
        prof::WriteString(ini, "Vorlix", "LANG", "en");
        prof::WriteInt(ini, "Vorlix", "NbSelection", 2);
        const int zones[2][4] = {{0, 0, 40, 30}, {40, 30, 80, 60}};
        for (int i = 0; i < 2; ++i) {
            const std::string n = std::to_string(i);
            prof::WriteInt(ini, "Vorlix", "x0_" + n, zones[i][0]);
            prof::WriteInt(ini, "Vorlix", "y0_" + n, zones[i][1]);
            prof::WriteInt(ini, "Vorlix", "x1_" + n, zones[i][2]);
            prof::WriteInt(ini, "Vorlix", "y1_" + n, zones[i][3]);
        }
        prof::WriteInt(ini, "Vorlix", "Max jpg", 3);
        cam_.LoadConfiguration(0, dir_.Path());
        road_.SetClassifier(&naming_);
        road_.Add(first_);
        road_.Add(second_);
        cam_.SetRoad(&road_);
        cam_.SetCaptureRunning(true);
        cam_.SetDetection(true);
    }
    void TearDown() override { cam_.SetRoad(nullptr); }
    void Feed(const std::vector<std::uint8_t>& frame, int format = kFormatRgb24)
    {
        cam_.ProcessFrame(Frame{frame, kW, kH, format, kTopDown});
        ++now_;
    }

    static constexpr int kW = 80, kH = 60;
    TempDir dir_;
    std::time_t now_ = 5000;
    WebCam cam_{[this] { return now_; }};
    std::vector<std::string> calls_;
    Naming naming_{calls_};
    Stop first_{calls_, "first", cam_};
    Stop second_{calls_, "second", cam_};
    DetectionRoad road_;
};

TEST_F(Road, ASingleZoneDetectionCarriesItsMeasuresTheEnlargedZoneAndItsPicture)
{
    const std::vector<std::uint8_t> still = FlatFrame(kW, kH, 40);
    Feed(still);
    Feed(still);
    cam_.shots.store(6);
    calls_.clear();
    std::vector<std::uint8_t> moved = still;
    PaintBlock(moved, kW, 3, 50, 40, 60, 50, 200);  // inside zone 2 only
    // A change mask mark outside the enlarged zone shows that its measure
    // leaves the mask alone.
    const std::size_t outside = (std::size_t{5} * kW + 60) * 3;
    cam_.ChangeMask()[outside] = 0x55;
    Feed(moved);

    const std::string files = dir_.Path() + "/files";
    EXPECT_EQ(calls_, (std::vector<std::string>{"classify IN2 (300) ", "first detection " + files + "/vorlix_1.jpg",
                                                "second detection " + files + "/vorlix_1.jpg"}));
    ASSERT_EQ(first_.detections.size(), 1U);
    const Detection& d = first_.detections[0];
    EXPECT_EQ(d.label, "named");  // the classifier's name reaches every consumer
    EXPECT_EQ(d.matched, 1);
    EXPECT_EQ(d.zone, 1);
    EXPECT_EQ(d.zoneCount, 2);
    EXPECT_EQ(d.Zone(1).zone, (ZoneCorners{40, 30, 80, 60, false}));
    EXPECT_EQ(d.Zone(1).measure, 10 * 10 * 3);
    EXPECT_EQ(d.Zone(1).threshold, cam_.ZoneThreshold(1));
    EXPECT_EQ(d.Zone(1).centreX, 54);
    EXPECT_EQ(d.Zone(1).centreY, 44);
    EXPECT_EQ(d.Zone(0).measure, 0);
    EXPECT_EQ(d.enlarged.zone, (ZoneCorners{20, 15, 80, 60, false}));
    EXPECT_EQ(d.enlarged.measure, 10 * 10 * 3);
    EXPECT_EQ(d.enlarged.centreX, 54);
    EXPECT_EQ(cam_.ChangeMask()[outside], 0x55);
    EXPECT_EQ(d.sum, 300);
    EXPECT_EQ(d.width, kW);
    EXPECT_EQ(d.format, kFormatRgb24);
    EXPECT_EQ(d.time, 5002);
    // Numbered from the shot counter, which counts once the road is done.
    EXPECT_EQ(d.shotsBefore, 6);
    EXPECT_EQ(d.shot, 7);
    EXPECT_EQ(d.pictureNumber, 1);
    EXPECT_EQ(d.soundPath, files + "/vorlix_1.wav");
    EXPECT_EQ(first_.shotsDuringRoad, 6);
    EXPECT_EQ(cam_.shots.load(), 7);
    // The picture is the frame itself: top-down 24-bit needs no conversion,
    // and none is made before the classifier is done.
    EXPECT_FALSE(naming_.pictureWhileNaming);
    EXPECT_EQ(first_.firstPixel, 40);
    // One snapshot of the settings travels with it.
    ASSERT_NE(d.camera.settings, nullptr);
    EXPECT_EQ(d.camera.settings->maxJpg, 3);
    EXPECT_EQ(d.camera.pictureDir, files);
    EXPECT_EQ(d.camera.settingsFile, dir_.File("Vorlix.ini"));
    cam_.UpdateSettings([](CameraSettings& s) { s.maxJpg = 9; });
    EXPECT_EQ(d.camera.settings->maxJpg, 3);
}

TEST_F(Road, AYuy2FrameIsConvertedOnceForThePictureEveryConsumerShares)
{
    std::vector<std::uint8_t> still(static_cast<std::size_t>(kW * kH * 2));
    for (std::size_t i = 0; i < still.size(); i += 4) {
        still[i] = 81;  // Y 81, U 90, V 240: red
        still[i + 1] = 90;
        still[i + 2] = 81;
        still[i + 3] = 240;
    }
    Feed(still, kFourccYuy2);
    Feed(still, kFourccYuy2);
    std::vector<std::uint8_t> moved = still;
    PaintBlock(moved, kW, 2, 0, 0, 40, 30, 200);  // zone 1
    Feed(moved, kFourccYuy2);
    ASSERT_EQ(first_.detections.size(), 1U);
    ASSERT_EQ(second_.detections.size(), 1U);
    const FramePicture& a = first_.detections[0].picture;
    const FramePicture& b = second_.detections[0].picture;
    EXPECT_EQ(a.rgb.size(), static_cast<std::size_t>(kW * kH * 3));
    EXPECT_EQ(a.rgb.data(), b.rgb.data());  // one conversion, shared
    std::vector<std::uint8_t> expected;
    ASSERT_TRUE(ConvertFrameToRgb(moved, kW, kH, kFourccYuy2, kTopDown, expected));
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), a.rgb.begin()));
    EXPECT_FALSE(naming_.pictureWhileNaming);
}

TEST_F(Road, RefreshSaveQuietFramesAndReferenceImagesReachEveryConsumerInOrder)
{
    const std::vector<std::uint8_t> still = FlatFrame(kW, kH, 40);
    Feed(still);  // the first frame: a new reference, then the refresh picture
    const std::string files = dir_.Path() + "/files";
    EXPECT_EQ(calls_,
              (std::vector<std::string>{"first reference", "second reference", "first refresh " + files + "/last.jpg",
                                        "second refresh " + files + "/last.jpg"}));
    calls_.clear();
    Feed(still);  // calm, and long after the last detection: a new reference image
    EXPECT_EQ(calls_, (std::vector<std::string>{"first reference", "second reference", "first quiet", "second quiet"}));
    calls_.clear();
    cam_.saveCounter.store(4);
    cam_.RequestSaveImage();
    Feed(still);
    EXPECT_EQ(calls_, (std::vector<std::string>{"first save " + files + "/vorlix_save_1.jpg",
                                                "second save " + files + "/vorlix_save_1.jpg"}));
    EXPECT_EQ(cam_.saveCounter.load(), 5);
}

TEST_F(Road, SeveralZonesAreNamedByTheEngineAndTheirMaskTellsWhich)
{
    const std::vector<std::uint8_t> still = FlatFrame(kW, kH, 40);
    Feed(still);
    Feed(still);
    std::vector<std::uint8_t> moved = still;
    PaintBlock(moved, kW, 3, 0, 0, 20, 10, 200);
    PaintBlock(moved, kW, 3, 60, 50, 80, 60, 200);
    calls_.clear();
    Feed(moved);
    ASSERT_EQ(first_.detections.size(), 1U);
    const Detection& d = first_.detections[0];
    EXPECT_EQ(calls_.front(), "classify ALLZ (1200) ");
    EXPECT_EQ(d.kind, EventKind::ALLZ);
    EXPECT_EQ(d.matched, 2);
    EXPECT_EQ(d.enlarged.measure, 0);  // measured for a single zone only
    EXPECT_TRUE(d.Zone(0).Matched());
    EXPECT_TRUE(d.Zone(1).Matched());
}

}  // namespace
}  // namespace vorlix
