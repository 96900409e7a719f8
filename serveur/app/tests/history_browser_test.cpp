// The history view's rules without a window: scroll positions and picture
// numbers, where the picture goes, which pictures a replay runs through, and
// reading a picture file (or not finding it).
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "serveur/actions/JpegWriter.h"
#include "serveur/app/HistoryBrowser.h"
#include "serveur/app/HistoryPicture.h"

using namespace vorlix::app;

namespace {

TEST(HistoryBrowser, OpensOnTheNewestPictureAndScrollsWithinTheSet)
{
    HistoryBrowser b(1234, 500);  // current picture 234
    EXPECT_EQ(b.Position(), 500);
    EXPECT_EQ(b.Number(), 234);
    b.LineLeft();
    EXPECT_EQ(b.Number(), 233);
    b.PageLeft();
    EXPECT_EQ(b.Position(), 489);
    EXPECT_EQ(b.Number(), 223);
    b.PageRight();
    b.PageRight();
    EXPECT_EQ(b.Position(), 500);  // held at "Max jpg"
    b.LineRight();
    EXPECT_EQ(b.Position(), 500);
    b.ThumbTo(1);
    EXPECT_EQ(b.Number(), 235);  // the oldest picture
    b.LineLeft();
    EXPECT_EQ(b.Position(), 1);
    b.ThumbTo(-40);
    EXPECT_EQ(b.Position(), 1);
    b.ThumbTo(266);
    EXPECT_EQ(b.Number(), 0);  // wraps round the set
    EXPECT_EQ(b.PositionOf(0), 266);
    EXPECT_EQ(b.PositionOf(234), 500);
}

TEST(HistoryBrowser, LineRightStopsAtTheEndOfARunningReplay)
{
    HistoryBrowser b(10, 20);
    b.ThumbTo(5);
    b.SetReplayEnd(7);
    b.LineRight();
    b.LineRight();
    b.LineRight();
    EXPECT_EQ(b.Position(), 7);
    b.PageRight();  // only the line step is held back
    EXPECT_EQ(b.Position(), 17);
    b.SetReplayEnd(std::nullopt);
    b.LineRight();
    EXPECT_EQ(b.Position(), 18);
}

TEST(HistoryBrowser, ASetOfZeroSlotsStillHasOnePicture)
{
    HistoryBrowser b(7, 0);
    EXPECT_EQ(b.MaxJpg(), 1);
    EXPECT_EQ(b.Number(), 0);
}

TEST(HistoryPlacement, SmallPicturesCentredLargeOnesStretched)
{
    const HistoryPlacement small = PlaceHistoryPicture(640, 520, 320, 240);
    EXPECT_FALSE(small.stretched);
    EXPECT_EQ(small.x, 160);
    EXPECT_EQ(small.y, 100);  // (520 - 240 - 80) / 2
    EXPECT_EQ(small.width, 320);
    EXPECT_EQ(small.height, 240);

    const HistoryPlacement tall = PlaceHistoryPicture(640, 360, 320, 240);  // 240 is not below 360 - 120
    EXPECT_TRUE(tall.stretched);
    EXPECT_EQ(tall.x, 60);
    EXPECT_EQ(tall.y, 5);
    EXPECT_EQ(tall.width, 520);
    EXPECT_EQ(tall.height, 240);  // 200, at least 240

    const HistoryPlacement big = PlaceHistoryPicture(800, 700, 1280, 720);
    EXPECT_TRUE(big.stretched);
    EXPECT_EQ(big.width, 680);
    EXPECT_EQ(big.height, 540);
}

TEST(ReplayPlan, FromTheNearestRecordingBackToTheNextOneOrTheCurrentPicture)
{
    const std::set<int> wavs{3, 8};
    const auto has = [&wavs](int n) { return wavs.count(n) != 0; };
    std::optional<ReplayPlan> p = PlanReplay(5, 12, 20, has);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->recording, 3);
    EXPECT_EQ(p->end, 8);
    EXPECT_EQ(p->pictures, 5);

    p = PlanReplay(9, 12, 20, has);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->recording, 8);
    EXPECT_EQ(p->end, 12);  // no later recording: the current picture
    EXPECT_EQ(p->pictures, 4);

    // Backwards round the set: from 1 the nearest is 8 (1, 0, 19, ..., 8).
    p = PlanReplay(1, 2, 20, has);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->recording, 8);
    EXPECT_EQ(p->end, 2);
    EXPECT_EQ(p->pictures, 14);

    EXPECT_FALSE(PlanReplay(5, 12, 20, [](int) { return false; }));

    // The recording of the newest picture itself: one picture, never zero.
    p = PlanReplay(12, 12, 20, [](int n) { return n == 12; });
    ASSERT_TRUE(p);
    EXPECT_EQ(p->recording, 12);
    EXPECT_EQ(p->end, 12);
    EXPECT_EQ(p->pictures, 1);
}

TEST(ReplayPlan, TheTimerSharesThePlayingTimeOverThePictures)
{
    EXPECT_EQ(ReplayIntervalMs(25000, 10, 5), 3001);
    EXPECT_EQ(ReplayIntervalMs(5000, 10, 5), 1);  // not below 0
    EXPECT_EQ(ReplayIntervalMs(5000, 0, 0), 5001);
    EXPECT_EQ(ReplayPlayMs(25000, 10), 15000);
}

TEST(HistoryPicture, ReadsTheCommentAndSizeOrSaysNotFound)
{
    kestrel::test::TempDir dir{"history_picture"};
    const std::string path = dir.Path() + "/vorlix_1.jpg";
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(64 * 48 * 3), 90);
    ASSERT_TRUE(vorlix::WriteJpeg(rgb, path, 80, 64, 48, "Vorlix ==> IN1 (130)  Quality : 80%"));
    const HistoryPicture p = ReadHistoryPicture(path);
    ASSERT_TRUE(p.found);
    EXPECT_EQ(p.width, 64);
    EXPECT_EQ(p.height, 48);
    EXPECT_EQ(p.rgb.size(), rgb.size());
    EXPECT_NEAR(p.rgb[100], 90, 4);
    EXPECT_EQ(HistoryDescription(p), "Vorlix ==> IN1 (130)  Quality : 80%    Dimensions : 64 x 48");
    EXPECT_EQ(HistoryPathText(path, p), path);
    EXPECT_EQ(p.time.size(), 24U);  // "Sun Dec  6 08:26:20 2026"

    const std::string missing = dir.Path() + "/vorlix_2.jpg";
    const HistoryPicture none = ReadHistoryPicture(missing);
    EXPECT_FALSE(none.found);
    EXPECT_EQ(HistoryPathText(missing, none), missing + "  (not found)");

    // A broken file is not found either, and says nothing on the terminal.
    std::ofstream(dir.Path() + "/vorlix_3.jpg") << "\xFF\xD8\xFF\xE0 not a picture";
    EXPECT_FALSE(ReadHistoryPicture(dir.Path() + "/vorlix_3.jpg").found);
}

}  // namespace
