// The read-window parser on bytes alone: frames, history headers, password
// requests, and what is kept when a header is cut at the window's end.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "client/reader/FrameScan.h"
#include "client/reader/tests/ScriptedPeer.h"

namespace vorlix::client {
namespace {

using testing::HistoryFrame;
using testing::LiveFrame;
using testing::ResponseHead;
using Kind = WindowScan::Kind;

TEST(FrameScanTest, HeadAndLiveHeaderGiveTheBodyStartAfterTheEmptyLine)
{
    const std::string window = ResponseHead() + LiveFrame("JPEGDATA").substr(0, 80);
    const WindowScan scan = ScanWindow(window, false);
    ASSERT_EQ(scan.kind, Kind::kFrame);
    EXPECT_EQ(scan.contentLength, 8);
    EXPECT_FALSE(scan.history);
    EXPECT_EQ(window.substr(scan.next, 8), "JPEGDATA");
}

TEST(FrameScanTest, HistoryHeaderFieldsAreRead)
{
    const std::string window = HistoryFrame(12, 500, "Wed Jan 02 02:03:55 1980", "xy");
    const WindowScan scan = ScanWindow(window, false);
    ASSERT_EQ(scan.kind, Kind::kFrame);
    EXPECT_TRUE(scan.history);
    EXPECT_EQ(scan.fields.indiceLast, 12);
    EXPECT_EQ(scan.fields.modulo, 500);
    EXPECT_EQ(scan.fields.time, "Wed Jan 02 02:03:55 1980");
    EXPECT_EQ(window.substr(scan.next, 2), "xy");

    const WindowScan noTime = ScanWindow(HistoryFrame(3, 7, "", "z"), false);
    EXPECT_TRUE(noTime.history);
    EXPECT_FALSE(noTime.fields.time.has_value());
}

TEST(FrameScanTest, HistoryMarkOfTheNextFrameDoesNotMakeThisOneHistory)
{
    // A live frame whose body is in the window, followed by a history header.
    const std::string window = LiveFrame("ab") + HistoryFrame(1, 2, "t", "cd");
    const WindowScan scan = ScanWindow(window, false);
    ASSERT_EQ(scan.kind, Kind::kFrame);
    EXPECT_FALSE(scan.history);
    EXPECT_EQ(scan.contentLength, 2);
}

TEST(FrameScanTest, PasswordRequestOnlyWhileAwaited)
{
    const std::string window = ResponseHead() + "AskPassword: 123\r\n";
    const WindowScan asked = ScanWindow(window, true);
    ASSERT_EQ(asked.kind, Kind::kPasswordRequest);
    EXPECT_EQ(asked.challenge, 123);
    EXPECT_EQ(asked.next, window.size());

    EXPECT_EQ(ScanWindow("AskPassword: -5\r\n", true).challenge, -5);
    EXPECT_EQ(ScanWindow("AskPassword: -2147483648\r\n", true).challenge, INT_MIN);
    EXPECT_EQ(ScanWindow(window, false).kind, Kind::kNothing);
}

TEST(FrameScanTest, CutRequestOrHeaderIsKeptFromItsStart)
{
    const WindowScan request = ScanWindow("HTTP/1.1 200 OK\r\nAskPassword: -1", true);
    EXPECT_EQ(request.kind, Kind::kCut);
    EXPECT_EQ(request.next, 17U);

    // The length itself may be cut: "Content-Length: 12" of 1234.
    const std::string frame = LiveFrame(std::string(1234, 'j'));
    const std::string window = "\r\n" + frame.substr(0, frame.find("34\r\n"));
    const WindowScan header = ScanWindow(window, false);
    EXPECT_EQ(header.kind, Kind::kCut);
    EXPECT_EQ(header.next, 2U);  // from the boundary line, after the old trailer
}

TEST(FrameScanTest, WithoutHeaderOnlyWhatMayStartOneIsKept)
{
    EXPECT_EQ(ScanWindow("\r\n", false).next, 0U);  // the trailer alone
    EXPECT_EQ(ScanWindow("junkjunk", false).next, 8U);
    EXPECT_EQ(ScanWindow("junk\r\n--Bound", false).next, 4U);
    EXPECT_EQ(ScanWindow("junk\r\n--BoundaryString\r\nContent-ty", false).next, 4U);
    EXPECT_EQ(ScanWindow("junkAskPass", true).next, 4U);
    EXPECT_EQ(ScanWindow("junkAskPass", false).next, 11U);
}

TEST(FrameScanTest, LengthsAreReadAsSentEvenWhenAbsurd)
{
    const auto lengthOf = [](const std::string& text) {
        return ScanWindow("Content-Length: " + text + "\r\n\r\n", false).contentLength;
    };
    EXPECT_EQ(lengthOf("-5"), -5);
    EXPECT_EQ(lengthOf("abc"), 0);
    EXPECT_EQ(lengthOf("99999999999999999999999"), LLONG_MAX);
    EXPECT_EQ(ReadDecimal("  +42x"), 42);
    EXPECT_EQ(ReadDecimal("-"), 0);
}

}  // namespace
}  // namespace vorlix::client
