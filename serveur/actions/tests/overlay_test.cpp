// The marks drawn on a frame, pixel by pixel: zone frames with their
// numbers in every engine format, the changed samples, the centre markers,
// and the saved detection picture carrying them with "follow detection".
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "serveur/actions/Font6x6.h"
#include "serveur/actions/Overlay.h"
#include "serveur/actions/VorlixActions.h"
#include "serveur/actions/tests/JpegRead.h"
#include "serveur/core/PixelFormat.h"
#include "serveur/core/WebCam.h"

namespace vorlix {
namespace {

constexpr int kW = 40;
constexpr int kH = 30;
constexpr std::uint8_t kGrey = 100;
constexpr std::uint8_t kInverted = 255 - kGrey;

struct Picture {
    int width = kW;
    int height = kH;
    int format = kFormatRgb24;
    int topDown = kTopDown;
    std::vector<std::uint8_t> bytes;

    explicit Picture(int fmt = kFormatRgb24, int top = kTopDown) : format(fmt), topDown(top)
    {
        bytes.assign(FrameBytes(format, width, height), kGrey);
    }
    OverlayTarget Target() { return {bytes, width, height, format, topDown}; }
    std::uint8_t At(int x, int y, int c = 0) const
    {
        return bytes[(static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)) *
                         static_cast<std::size_t>(BytesPerPixel(format)) +
                     static_cast<std::size_t>(c)];
    }
};

bool GlyphLit(char c, int column, int row)
{
    const std::uint8_t* g = Glyph6x6(c);
    return g != nullptr && ((g[row] >> (kGlyphSize - 1 - column)) & 1U) != 0;
}

TEST(ZoneFrame, BordersInvertedOnceInteriorAndOutsideKept)
{
    Picture p;
    DrawZoneFrame(p.Target(), 5, 4, 20, 15);
    for (int x = 5; x <= 20; ++x) {
        EXPECT_EQ(p.At(x, 4), kInverted) << x;
        EXPECT_EQ(p.At(x, 15, 2), kInverted) << x;
    }
    for (int y = 4; y <= 15; ++y) {
        EXPECT_EQ(p.At(5, y, 1), kInverted) << y;
        EXPECT_EQ(p.At(20, y), kInverted) << y;
    }
    EXPECT_EQ(p.At(4, 4), kGrey);
    EXPECT_EQ(p.At(21, 15), kGrey);
    EXPECT_EQ(p.At(12, 10), kGrey);  // inside
    EXPECT_EQ(p.At(5, 3), kGrey);
}

TEST(ZoneFrame, TheWholePictureIsNeitherFramedNorNumbered)
{
    Picture p;
    const std::vector<std::uint8_t> before = p.bytes;
    DrawZoneFrame(p.Target(), 0, 0, kW, kH, 0);  // x1, y1 exclusive: clamped to the last pixel
    EXPECT_EQ(p.bytes, before);
    ZoneSnapshot whole;
    whole.count = 1;
    whole.slots[0] = ZoneCorners{0, 0, kW, kH, true};
    DrawZoneFrames(p.Target(), whole);
    EXPECT_EQ(p.bytes, before);
}

TEST(ZoneFrame, CornersOutsideThePictureAreClamped)
{
    Picture p;
    DrawZoneFrame(p.Target(), -10, 10, 100, 20);
    EXPECT_EQ(p.At(0, 15), kInverted);
    EXPECT_EQ(p.At(kW - 1, 15), kInverted);
    EXPECT_EQ(p.At(10, 10), kInverted);
    EXPECT_EQ(p.At(10, 20), kInverted);
}

TEST(ZoneFrame, TheNumberIsWhiteAtRowY0Plus3ColumnX1Minus8)
{
    Picture p;
    DrawZoneFrame(p.Target(), 2, 2, 30, 25, 2);  // slot 2: zone number 3
    int lit = 0;
    for (int row = 0; row < kGlyphSize; ++row) {
        for (int column = 0; column < kGlyphSize; ++column) {
            const std::uint8_t v = p.At(30 - 8 + column, 2 + 3 + row);
            if (GlyphLit('3', column, row)) {
                ++lit;
                EXPECT_EQ(v, 255) << column << "," << row;
            } else {
                EXPECT_EQ(v, kGrey) << column << "," << row;
            }
        }
    }
    EXPECT_GT(lit, 5);
}

TEST(ZoneFrame, BottomUpFramesGetTheNumberUpright)
{
    Picture p(kFormatRgb24, kBottomUp);
    DrawZoneFrame(p.Target(), 2, 2, 30, 25, 0);
    for (int row = 0; row < kGlyphSize; ++row) {
        for (int column = 0; column < kGlyphSize; ++column) {
            // Row 0 of the glyph is the top of the screen: the last of the buffer's rows.
            EXPECT_EQ(p.At(22 + column, 5 + kGlyphSize - 1 - row) == 255, GlyphLit('1', column, row));
        }
    }
}

TEST(ZoneFrame, EachFormatInvertsItsVisibleBytesOnly)
{
    Picture rgb32(kFormatRgb32);
    DrawZoneFrame(rgb32.Target(), 1, 1, 10, 10);
    EXPECT_EQ(rgb32.At(1, 1, 0), kInverted);
    EXPECT_EQ(rgb32.At(1, 1, 2), kInverted);
    EXPECT_EQ(rgb32.At(1, 1, 3), kGrey);

    Picture rgb16(kFormatRgb16);
    DrawZoneFrame(rgb16.Target(), 1, 1, 10, 10);
    EXPECT_EQ(rgb16.At(1, 1, 0), kInverted);
    EXPECT_EQ(rgb16.At(1, 1, 1), kInverted);

    Picture yuy2(kFourccYuy2);
    DrawZoneFrame(yuy2.Target(), 1, 1, 10, 10, 0);
    EXPECT_EQ(yuy2.At(1, 1, 0), kInverted);
    EXPECT_EQ(yuy2.At(1, 1, 1), kGrey);  // chroma kept
    for (std::size_t i = 1; i < yuy2.bytes.size(); i += 2) {
        ASSERT_EQ(yuy2.bytes[i], kGrey) << "chroma byte " << i;
    }

    Picture i420(kFourccI420);
    DrawZoneFrame(i420.Target(), 1, 1, 10, 10, 0);
    EXPECT_EQ(i420.At(1, 1), kInverted);
    const std::size_t luma = static_cast<std::size_t>(kW) * kH;
    for (std::size_t i = luma; i < i420.bytes.size(); ++i) {
        ASSERT_EQ(i420.bytes[i], kGrey) << "chroma byte " << i;
    }

    Picture unknown(kFormatRgb24);
    unknown.format = 12345;
    const std::vector<std::uint8_t> before = unknown.bytes;
    DrawZoneFrame(unknown.Target(), 1, 1, 10, 10, 0);
    EXPECT_EQ(unknown.bytes, before);
}

TEST(ChangedSamples, EveryMaskedSampleIsInverted)
{
    Picture p;
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(kW) * kH * 4, 0);
    mask[0] = 1;
    mask[(10 * kW + 7) * 3 + 1] = 200;
    InvertChangedSamples(p.Target(), mask);
    EXPECT_EQ(p.bytes[0], kInverted);
    EXPECT_EQ(p.bytes[1], kGrey);
    EXPECT_EQ(p.At(7, 10, 1), kInverted);
    EXPECT_EQ(p.At(7, 10, 0), kGrey);
    // A short mask inverts no byte beyond it.
    Picture q;
    InvertChangedSamples(q.Target(), std::span<const std::uint8_t>(mask).first(1));
    EXPECT_EQ(q.bytes[0], kInverted);
}

TEST(CentreMarker, SquareFromTheCentreAndAFrameMatchingTheChangedArea)
{
    Picture p;
    // measure 530: side 5; result 100: f = 11 (121 > 100), halved to 5.
    DrawCentreMarker(p.Target(), ZoneMark{530, 15, 12, 100});
    for (int y = 12; y < 17; ++y) {
        for (int x = 15; x < 20; ++x) {
            EXPECT_EQ(p.At(x, y), kInverted) << x << "," << y;
        }
    }
    EXPECT_EQ(p.At(14, 12), kGrey);
    EXPECT_EQ(p.At(15, 11), kGrey);
    EXPECT_EQ(p.At(10, 7), kInverted);   // frame corner (cx - 5, cy - 5)
    EXPECT_EQ(p.At(20, 17), kInverted);  // frame corner (cx + 5, cy + 5)
    EXPECT_EQ(p.At(10, 12), kInverted);  // left border
    EXPECT_EQ(p.At(11, 12), kGrey);

    Picture q;
    const std::vector<std::uint8_t> before = q.bytes;
    DrawCentreMarker(q.Target(), ZoneMark{0, 15, 12, 100});
    EXPECT_EQ(q.bytes, before);  // no measure, no marker

    // A side of (measure / 100) % 20: 2000 gives none; result 0 gives f = 1,
    // halved to 0: the frame is the centre pixel alone.
    Picture r;
    DrawCentreMarker(r.Target(), ZoneMark{2000, 15, 12, 0});
    EXPECT_EQ(r.At(15, 12), kInverted);
    EXPECT_EQ(r.At(16, 12), kGrey);
    EXPECT_EQ(r.At(15, 13), kGrey);

    // Under three bytes a pixel the square's first byte goes to 255.
    Picture s(kFourccYuy2);
    // Clipped at the picture's edge (side 3 from (38, 28)).
    DrawCentreMarker(s.Target(), ZoneMark{300, 38, 28, 100});
    EXPECT_EQ(s.At(38, 28, 0), 255);
    EXPECT_EQ(s.At(38, 28, 1), kGrey);
    EXPECT_EQ(s.bytes.size(), FrameBytes(kFourccYuy2, kW, kH));
}

TEST(DetectionOverlay, SingleZoneMarksItsZoneWithTheEnlargedZone)
{
    Picture p;
    Detection d;
    d.width = kW;
    d.height = kH;
    d.format = kFormatRgb24;
    d.topDown = kTopDown;
    d.matched = 1;
    d.zone = 0;
    d.zoneCount = 1;
    d.zones[0] = ZoneReading{ZoneCorners{2, 2, 20, 20, false}, 150, 10, 5, 5};
    d.enlarged = ZoneReading{ZoneCorners{0, 0, 29, 29, false}, 320, 0, 25, 25};
    const std::vector<std::uint8_t> mask(static_cast<std::size_t>(kW) * kH * 4, 0);
    DetectionOverlayPainter painter;
    painter.DrawDetectionOverlay(d, p.bytes, mask);
    EXPECT_EQ(p.At(2, 10), kInverted);   // the zone's frame
    EXPECT_EQ(p.At(25, 25), kInverted);  // square at the enlarged centre, side 3
    EXPECT_EQ(p.At(27, 27), kInverted);
    EXPECT_EQ(p.At(6, 6), kGrey);  // not at the zone's own centre
}

// With "follow detection" the written picture carries the frames and the
// inverted samples: decoded, its pixels show them.
TEST(DetectionOverlay, TheSavedDetectionPictureCarriesTheOverlay)
{
    constexpr int w = 160;
    constexpr int h = 120;
    kestrel::test::TempDir temp{"overlay_jpeg"};
    const std::string& dir = temp.Path();
    std::filesystem::create_directory(dir + "/files");
    std::time_t now = 5000;
    WebCam cam([&now] { return now; });
    cam.LoadConfiguration(0, dir);
    cam.UpdateSettings([](CameraSettings& s) { s.followDetection = 1; });
    VorlixActions actions;
    DetectionOverlayPainter overlay;
    DetectionRoad road;
    road.SetClassifier(&actions.Naming());
    road.SetPictureWriter(&actions.Pictures());
    road.SetOverlay(&overlay);
    road.Add(actions.Pictures());
    cam.SetRoad(&road);
    cam.SetDetection(true);
    cam.SetCaptureRunning(true);
    cam.SetZone(0, ZoneCorners{20, 20, 140, 100, false});
    cam.SetZoneCount(1);

    std::vector<std::uint8_t> still(static_cast<std::size_t>(w * h * 3), 40);
    Frame frame{still, w, h, kFormatRgb24, kTopDown};
    cam.ProcessFrame(frame);  // refresh: reference taken
    cam.ProcessFrame(frame);  // thresholds at the size
    std::vector<std::uint8_t> moved = still;
    for (int y = 50; y < 70; ++y) {
        for (int x = 60; x < 100; ++x) {
            for (int c = 0; c < 3; ++c) {
                moved[(static_cast<std::size_t>(y) * w + x) * 3 + c] = 200;
            }
        }
    }
    now += 1;
    frame.data = moved;
    cam.ProcessFrame(frame);
    cam.SetRoad(nullptr);
    ASSERT_EQ(cam.shots.load(), 1);

    const test::DecodedJpeg jpeg = test::ReadJpeg(dir + "/files/vorlix_1.jpg");
    ASSERT_TRUE(jpeg.ok);
    ASSERT_EQ(jpeg.width, w);
    const auto px = [&jpeg](int x, int y) {
        return static_cast<int>(jpeg.rgb[(static_cast<std::size_t>(y) * w + x) * 3]);
    };
    EXPECT_NEAR(px(20, 30), 215, 20);  // the zone's left border, inverted from 40
    EXPECT_NEAR(px(80, 20), 215, 20);  // its top border
    EXPECT_NEAR(px(30, 30), 40, 20);   // inside the zone, unchanged
    EXPECT_NEAR(px(75, 60), 55, 25);   // a changed sample, inverted from 200
    // The frame handed on is still the camera's own: the previous image has no overlay.
    EXPECT_EQ(cam.PreviousImage()[static_cast<std::size_t>((30 * w + 20) * 3)], 40);
}

}  // namespace
}  // namespace vorlix
