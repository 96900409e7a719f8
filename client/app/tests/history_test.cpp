// The history window's scroll rules and file name, with the figures of a
// ring of 500 pictures whose newest is number 12.
#include <gtest/gtest.h>

#include "client/app/HistoryBrowser.h"

namespace vorlix::client {
namespace {

using Scroll = HistoryBrowser::Scroll;

TEST(HistoryBrowserTest, PositionModuloIsTheNewestAndOneTheOldest)
{
    HistoryBrowser browser;
    EXPECT_EQ(browser.Position(500), 500);
    EXPECT_EQ(browser.OnScroll(Scroll::kThumb, 500, 12, 500), "12");
    EXPECT_EQ(browser.OnScroll(Scroll::kThumb, 1, 12, 500), "13");
    EXPECT_EQ(browser.Position(500), 1);
}

TEST(HistoryBrowserTest, LinesAndPagesMoveByOneAndTenWithinTheRange)
{
    HistoryBrowser browser;
    EXPECT_EQ(browser.OnScroll(Scroll::kLineLeft, 0, 12, 500), "11");  // from the newest
    EXPECT_EQ(browser.OnScroll(Scroll::kPageLeft, 0, 12, 500), "1");
    EXPECT_EQ(browser.OnScroll(Scroll::kLineRight, 0, 12, 500), "2");
    EXPECT_EQ(browser.OnScroll(Scroll::kPageRight, 0, 12, 500), "12");  // clamped at 500
    EXPECT_EQ(browser.Position(500), 500);
    EXPECT_EQ(browser.OnScroll(Scroll::kThumb, -40, 12, 500), "13");  // clamped at 1
    // The end of a scroll asks again for the same picture.
    EXPECT_EQ(browser.OnScroll(Scroll::kOther, 0, 12, 500), "13");
}

TEST(HistoryBrowserTest, UnreducedCounterAndEmptyRing)
{
    HistoryBrowser browser;
    EXPECT_EQ(browser.OnScroll(Scroll::kThumb, 500, 1012, 500), "12");
    EXPECT_EQ(browser.OnScroll(Scroll::kThumb, 3, -1, 500), "2");
    HistoryBrowser empty;
    EXPECT_EQ(empty.OnScroll(Scroll::kLineRight, 0, 12, 0), "0");
    EXPECT_EQ(NewestPicture(12, 0), 0);
}

TEST(HistoryBrowserTest, FileNameNamesTheNewestUntilAScrollThenTheBrowsedOne)
{
    HistoryBrowser browser;
    EXPECT_FALSE(browser.FileName(0, 500).has_value());
    EXPECT_EQ(browser.FileName(512, 500), "vorlix_12.jpg");
    browser.OnScroll(Scroll::kThumb, 488, 12, 500);  // picture 0
    EXPECT_EQ(browser.FileName(12, 500), "vorlix_0.jpg");
}

}  // namespace
}  // namespace vorlix::client
