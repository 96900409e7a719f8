// Naming a single-zone detection: the enlarged zone, IN/AHEAD/NEAR and the
// position words with their boundaries.
#include <gtest/gtest.h>

#include <string>

#include "serveur/actions/Classification.h"
#include "serveur/core/Frame.h"
#include "serveur/core/ZoneMath.h"

namespace vorlix {
namespace {

TEST(Classification, EnlargedZoneGrowsByHalfAndIsClipped)
{
    EXPECT_EQ(EnlargedZone({0, 0, 100, 100}, 320, 240), (ZoneCorners{0, 0, 150, 150}));
    EXPECT_EQ(EnlargedZone({100, 100, 140, 120}, 320, 240), (ZoneCorners{80, 90, 160, 130}));
    EXPECT_EQ(EnlargedZone({200, 150, 320, 240}, 320, 240), (ZoneCorners{140, 105, 320, 240}));
    // odd sizes: the halves truncate
    EXPECT_EQ(EnlargedZone({10, 10, 15, 13}, 320, 240), (ZoneCorners{8, 9, 17, 14}));
}

TEST(Classification, CentreOnTheBorderIsNear)
{
    const ZoneCorners zone{10, 20, 110, 120};
    EXPECT_EQ(SingleZoneKind(zone, 10, 50, 100, 100), EventKind::NEAR);
    EXPECT_EQ(SingleZoneKind(zone, 50, 20, 100, 100), EventKind::NEAR);
    EXPECT_EQ(SingleZoneKind(zone, 110, 50, 100, 100), EventKind::NEAR);
    EXPECT_EQ(SingleZoneKind(zone, 50, 120, 100, 100), EventKind::NEAR);
    EXPECT_EQ(SingleZoneKind(zone, 11, 21, 100, 100), EventKind::IN);
    EXPECT_EQ(SingleZoneKind(zone, 5, 300, 100, 100), EventKind::NEAR);
}

TEST(Classification, InOrAheadAtAThirdOfTheEnlargedMeasure)
{
    const ZoneCorners zone{0, 0, 100, 100};
    EXPECT_EQ(SingleZoneKind(zone, 50, 50, 34, 100), EventKind::IN);
    EXPECT_EQ(SingleZoneKind(zone, 50, 50, 33, 100), EventKind::IN);  // 33 is not below 33.0
    EXPECT_EQ(SingleZoneKind(zone, 50, 50, 32, 100), EventKind::AHEAD);
    EXPECT_EQ(SingleZoneKind(zone, 50, 50, 0, 0), EventKind::IN);
}

class PositionWords : public ::testing::Test {
protected:
    // xa = 50, xb = 83, ya = 33, yb = 66
    const ZoneCorners zone{17, 0, 117, 100};
    Vocabulary words;
};

TEST_F(PositionWords, SideColumnsCountTheBoundaryRowsAsMiddle)
{
    EXPECT_EQ(PositionWord(zone, 50, 33, words, true), "LEFT");
    EXPECT_EQ(PositionWord(zone, 50, 32, words, true), "UP_LEFT");
    EXPECT_EQ(PositionWord(zone, 50, 66, words, true), "LEFT");
    EXPECT_EQ(PositionWord(zone, 50, 67, words, true), "DOWN_LEFT");
    EXPECT_EQ(PositionWord(zone, 83, 10, words, true), "UP_RIGHT");
    EXPECT_EQ(PositionWord(zone, 83, 50, words, true), "RIGHT");
    EXPECT_EQ(PositionWord(zone, 90, 90, words, true), "DOWN_RIGHT");
}

TEST_F(PositionWords, MiddleColumnCountsTheBoundaryRowsAsUpperOrLower)
{
    EXPECT_EQ(PositionWord(zone, 51, 33, words, true), "UP");
    EXPECT_EQ(PositionWord(zone, 82, 34, words, true), "CENTER");
    EXPECT_EQ(PositionWord(zone, 60, 65, words, true), "CENTER");
    EXPECT_EQ(PositionWord(zone, 60, 66, words, true), "DOWN");
}

TEST_F(PositionWords, BottomUpPicturesSwapTheVerticalWords)
{
    EXPECT_EQ(PositionWord(zone, 50, 10, words, false), "DOWN_LEFT");
    EXPECT_EQ(PositionWord(zone, 60, 90, words, false), "UP");
}

TEST(Classification, TranslatedWordsAreCutToTheirSlot)
{
    Vocabulary words;
    words.Load([](const std::string& text) {
        if (text == "UP") {
            return std::string(40, 'U');
        }
        if (text == "LEFT") {
            return std::string("GAUCHE");
        }
        return text;
    });
    EXPECT_EQ(words[Word::Up], std::string(31, 'U'));
    EXPECT_EQ(words[Word::Left], "GAUCHE");
    EXPECT_EQ(words[Word::Center], "CENTER");
    // joined words are cut too
    const std::string joined = PositionWord({0, 0, 100, 100}, 1, 1, words, true);
    EXPECT_EQ(joined, std::string(31, 'U'));
}

TEST(Classification, LabelNamesZoneKindPositionAndMeasure)
{
    EXPECT_EQ(SingleZoneLabel(0, "IN", "UP_LEFT", 212), "Z_1_IN_UP_LEFT (212) ");
    EXPECT_EQ(SingleZoneLabel(8, "NEAR", "CENTER", 0), "Z_9_NEAR_CENTER (0) ");
}

// A detection of zone 0 {0, 0, 100, 100} measured 34 with the enlarged zone's
// measure and centre as the engine hands them.
Detection SingleZone(int measure, int enlargedMeasure, int cx, int cy, int format = kFormatRgb24,
                     int topDown = kTopDown)
{
    Detection d;
    d.matched = 1;
    d.zone = 0;
    d.zoneCount = 2;
    d.zones[0] = ZoneReading{{0, 0, 100, 100}, measure, 10, 0, 0};
    d.zones[1] = ZoneReading{{0, 0, 320, 240}, 0, 10, 0, 0};
    d.enlarged = ZoneReading{EnlargedZone(d.zones[0].zone, 320, 240), enlargedMeasure, 0, cx, cy};
    d.format = format;
    d.topDown = topDown;
    return d;
}

TEST(Classification, SingleZoneIsNamedFromTheZoneAndTheEnlargedZoneOfTheValue)
{
    Vocabulary words;
    const Detection centred = SingleZone(34, 100, 50, 50);
    const SingleZoneResult in = ClassifySingleZone(centred, words);
    EXPECT_EQ(in.kind, EventKind::IN);
    EXPECT_EQ(in.label, "Z_1_IN_CENTER (34) ");
    const SingleZoneResult ahead = ClassifySingleZone(SingleZone(32, 100, 10, 90), words);
    EXPECT_EQ(ahead.kind, EventKind::AHEAD);
    EXPECT_EQ(ahead.label, "Z_1_AHEAD_DOWN_LEFT (32) ");
    EXPECT_EQ(ClassifySingleZone(SingleZone(32, 100, 0, 50), words).kind, EventKind::NEAR);
    // A bottom-up RGB frame swaps the vertical words, a YUV frame never does.
    EXPECT_EQ(ClassifySingleZone(SingleZone(32, 100, 10, 90, kFormatRgb24, kBottomUp), words).label,
              "Z_1_AHEAD_UP_LEFT (32) ");
    EXPECT_EQ(ClassifySingleZone(SingleZone(32, 100, 10, 90, kFourccYuy2, kBottomUp), words).label,
              "Z_1_AHEAD_DOWN_LEFT (32) ");
}

TEST(Classification, RowOrderOfEveryFormat)
{
    for (const int rgb : {kFormatRgb16, kFormatRgb24, kFormatRgb32}) {
        EXPECT_TRUE(UpperIsUp(rgb, kTopDown));
        EXPECT_FALSE(UpperIsUp(rgb, kBottomUp));
        EXPECT_TRUE(RowsTopDown(rgb, kTopDown));
        EXPECT_FALSE(RowsTopDown(rgb, kBottomUp));
    }
    for (const int yuv : {kFourccI420, kFourccYuy2}) {
        EXPECT_TRUE(UpperIsUp(yuv, kBottomUp));
        EXPECT_TRUE(RowsTopDown(yuv, kBottomUp));
    }
}

}  // namespace
}  // namespace vorlix
