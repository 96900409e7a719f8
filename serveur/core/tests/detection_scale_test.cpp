// "Detection scale": the setting, and the zones, thresholds and measures
// carried between the measured size and the picture's.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/core/DetectionScale.h"
#include "serveur/core/SettingRanges.h"
#include "serveur/core/ZoneMath.h"

namespace vorlix {
namespace {

TEST(DetectionScaleSetting, TwoAndFourAreTakenAnythingElseIsOneWithAWarning)
{
    const kestrel::test::TempDir temp("detection_scale");
    const std::string ini = temp.Path() + "/Vorlix.ini";
    kestrel::test::TraceCapture traces;
    EXPECT_EQ(ReadDetectionScale(ini), 1) << "absent";
    EXPECT_EQ(traces.Count("Detection scale"), 0);
    for (const auto& [text, expected, warned] :
         {std::tuple{"1", 1, false}, std::tuple{"2", 2, false}, std::tuple{"4", 4, false}, std::tuple{"3", 1, true},
          std::tuple{"8", 1, true}, std::tuple{"0", 1, true}, std::tuple{"-2", 1, true}, std::tuple{"half", 1, true}}) {
        SCOPED_TRACE(text);
        traces.Clear();
        kestrel::profile::WriteString(ini, "Vorlix", "Detection scale", text);
        EXPECT_EQ(ReadDetectionScale(ini), expected);
        EXPECT_EQ(traces.Count("Detection scale", kestrel::kLevelWarn), warned ? 1 : 0);
    }
    const IntSetting& range = IntSettingOf("vorlix", "detection scale");
    EXPECT_EQ(range.fallback, 1);
    EXPECT_EQ(range.min, 1);
    EXPECT_EQ(range.max, 4);
}

TEST(DetectionScaleGeometry, ZonesCentresAndMeasuresGoBackToThePicture)
{
    EXPECT_EQ(ZoneToPicture(ZoneCorners{10, 20, 480, 270}, 2, 1920, 1080), (ZoneCorners{20, 40, 960, 540}));
    // The last column and row of an odd picture: corners stay inside it.
    EXPECT_EQ(ZoneToPicture(ZoneCorners{0, 0, 481, 271}, 4, 1922, 1082), (ZoneCorners{0, 0, 1922, 1082}));
    ZoneCorners whole{0, 0, 960, 540};
    whole.whole = true;
    EXPECT_TRUE(ZoneToPicture(whole, 2, 1920, 1080).whole);
    EXPECT_EQ(MeasureToPicture(300, 2), 1200);
    EXPECT_EQ(MeasureToPicture(300, 4), 4800);
    EXPECT_EQ(MeasureToPicture(1 << 28, 4), INT_MAX) << "no overflow";

    Detection d;
    d.zoneCount = 2;
    d.zones[0] = ZoneReading{ZoneCorners{0, 0, 480, 540}, 50, 40, 100, 200};
    d.zones[1] = ZoneReading{ZoneCorners{480, 0, 960, 540}, 0, 40, 0, 0};
    d.enlarged = ZoneReading{ZoneCorners{0, 0, 720, 540}, 60, 0, 959, 539};
    d.sum = 50;
    d.width = 960;
    d.height = 540;
    Detection same = d;
    DetectionToPicture(same, 1, 1920, 1080);
    EXPECT_EQ(same.width, 960) << "scale 1 leaves it";
    EXPECT_EQ(same.zones[0].measure, 50);

    DetectionToPicture(d, 2, 1920, 1080);
    EXPECT_EQ(d.width, 1920);
    EXPECT_EQ(d.height, 1080);
    EXPECT_EQ(d.sum, 200);
    EXPECT_EQ(d.zones[0].zone, (ZoneCorners{0, 0, 960, 1080}));
    EXPECT_EQ(d.zones[0].measure, 200);
    EXPECT_EQ(d.zones[0].threshold, 160);
    EXPECT_TRUE(d.zones[0].Matched());
    EXPECT_FALSE(d.zones[1].Matched());
    EXPECT_EQ(d.zones[0].centreX, 201);
    EXPECT_EQ(d.zones[0].centreY, 401);
    EXPECT_EQ(d.zones[1].centreX, 0) << "no centre stays none";
    EXPECT_EQ(d.enlarged.centreX, 1919) << "inside the picture";
    EXPECT_EQ(d.enlarged.centreY, 1079);
    EXPECT_EQ(d.enlarged.zone.x1, 1440);
}

TEST(DetectionScaleGeometry, ThresholdsShrinkWithThePixelsAZoneHolds)
{
    EXPECT_EQ(ScaledMaxDiff(500, 1), 500);
    EXPECT_EQ(ScaledMaxDiff(500, 2), 125);
    EXPECT_EQ(ScaledMaxDiff(500, 4), 31);
    EXPECT_EQ(ScaledMaxDiff(3, 4), 1) << "never 0, which switches processing off";
    EXPECT_EQ(ScaledMaxDiff(0, 2), 0) << "off stays off";

    // The same zone at half size gets a quarter of the threshold (within rounding).
    ZoneSnapshot full;
    full.count = 1;
    full.slots[0] = ZoneCorners{100, 100, 500, 400};
    ZoneSnapshot half = full;
    ASSERT_TRUE(RescaleZones(half, 1920, 1080, 960, 540));
    const int maxDiff = 20000;
    const ZoneThresholds atFull = ComputeThresholds(full, 1920, 1080, maxDiff);
    const ZoneThresholds atHalf = ComputeThresholds(half, 960, 540, ScaledMaxDiff(maxDiff, 2));
    ASSERT_EQ(atHalf.count, 1);
    EXPECT_NEAR(MeasureToPicture(atHalf.zones[0].threshold, 2), atFull.zones[0].threshold, 8);
}

}  // namespace
}  // namespace vorlix
