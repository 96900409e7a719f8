// The protocol's bytes and rules without a network: headers, challenge,
// request lines, history numbers and the Time text.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <array>
#include <cstring>
#include <ctime>

#include "serveur/stream/StreamWire.h"

namespace vorlix {
namespace {

sockaddr_in Peer(std::array<unsigned char, 4> address, std::array<unsigned char, 2> port)
{
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    std::memcpy(&peer.sin_addr, address.data(), 4);
    std::memcpy(&peer.sin_port, port.data(), 2);
    return peer;
}

TEST(StreamWire, ResponseHeadIsTheFixed173Bytes)
{
    EXPECT_EQ(kResponseHead.size(), 173U);
    EXPECT_EQ(kResponseHead.substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(kResponseHead.substr(kResponseHead.size() - 2), "\r\n");
    EXPECT_EQ(kResponseHead.find("\r\n\r\n"), std::string_view::npos);  // the first frame header ends it
}

TEST(StreamWire, FrameHeadersAndPasswordLine)
{
    EXPECT_EQ(LiveFrameHeader(30720),
              "\r\n--BoundaryString\r\nContent-type: image/jpeg\r\nContent-Length: 30720\r\n\r\n");
    EXPECT_EQ(HistoryFrameHeader(12, 500, "Wed Jan 02 02:03:55 1980", 7),
              "\r\n--BoundaryString\r\nVorlix: History\r\nIndiceLast: 12\r\nModulo: 500\r\n"
              "Time: Wed Jan 02 02:03:55 1980\r\nContent-type: image/jpeg\r\nContent-Length: 7\r\n\r\n");
    EXPECT_LT(HistoryFrameHeader(2147483647, 2147483647, std::string(24, 'x'), 2147483647).size(), 512U);
    EXPECT_EQ(AskPasswordLine(-123456), "AskPassword: -123456\r\n");
    EXPECT_EQ(AskPasswordLine(0), "AskPassword: 0\r\n");
}

TEST(StreamWire, ChallengeIsPortTimesAddressInStoredByteOrder)
{
    // 127.0.0.1 port 40000 (0x9C40, stored 9C 40): 0x409C * 0x0100007F, low 32 bits.
    const sockaddr_in loopback = Peer({127, 0, 0, 1}, {0x9C, 0x40});
    const std::uint32_t expected = 0x409CU * 0x0100007FU;
    EXPECT_EQ(ChallengeFromPeer(loopback), static_cast<std::int32_t>(expected));
    EXPECT_LT(ChallengeFromPeer(loopback), 0);  // bit 31 set: negative on the wire

    // 2^24 * 256 = 2^32: nothing left in 32 bits.
    EXPECT_EQ(ChallengeFromPeer(Peer({0, 0, 0, 1}, {0x00, 0x01})), 0);
    EXPECT_EQ(ChallengeFromPeer(Peer({1, 0, 0, 0}, {0x02, 0x00})), 2);
    sockaddr_in byApi{};
    byApi.sin_port = htons(0x0102);  // stored 01 02 -> 0x0201
    byApi.sin_addr.s_addr = inet_addr("10.0.0.1");
    EXPECT_EQ(ChallengeFromPeer(byApi), static_cast<std::int32_t>(0x0201U * 0x0100000AU));
}

TEST(StreamWire, OnlyTheFirstLineOfAReceiveCounts)
{
    StreamRequest both = ParseRequest("Password: abc\r\nHistory: newer\r\n");
    ASSERT_TRUE(both.password.has_value());
    EXPECT_EQ(*both.password, "abc");
    EXPECT_FALSE(both.history.has_value());

    StreamRequest history = ParseRequest("History: 900\nPassword: x\r\n");
    ASSERT_TRUE(history.history.has_value());
    EXPECT_EQ(*history.history, "900");
    EXPECT_FALSE(history.password.has_value());

    // A receive that ends in the middle of a line: what came is the line.
    StreamRequest cut = ParseRequest("History: ol");
    ASSERT_TRUE(cut.history.has_value());
    EXPECT_EQ(*cut.history, "ol");
}

TEST(StreamWire, ShortAndOverlongLinesStayInsideTheReceivedBytes)
{
    EXPECT_FALSE(ParseRequest("Passwor").password.has_value());
    EXPECT_FALSE(ParseRequest("History").history.has_value());
    EXPECT_EQ(ParseRequest("Password:").password.value(), "");
    EXPECT_EQ(ParseRequest("Password: ").password.value(), "");
    EXPECT_EQ(ParseRequest("History:").history.value(), "");
    EXPECT_EQ(ParseRequest("History:x").history.value(), "");  // the 9th character is taken for the blank
    EXPECT_FALSE(ParseRequest("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").password.has_value());
    EXPECT_FALSE(ParseRequest("").history.has_value());

    const std::string longLine = "Password: " + std::string(400, 'p');  // no line end in 256 bytes
    const StreamRequest request = ParseRequest(longLine);
    ASSERT_TRUE(request.password.has_value());
    EXPECT_EQ(request.password->size(), 256U - 10U);

    const std::string withZero(
        "History: 1\0"
        "2\r\n",
        14);
    EXPECT_EQ(HistoryPictureNumber(*ParseRequest(withZero).history, 12, 500), 1);
}

TEST(StreamWire, HistoryNumbersWithShots12AndMaxJpg500)
{
    EXPECT_EQ(HistoryPictureNumber("older", 12, 500), 13);
    EXPECT_EQ(HistoryPictureNumber("newer", 12, 500), 12);
    EXPECT_EQ(HistoryPictureNumber("0", 12, 500), 12);
    EXPECT_EQ(HistoryPictureNumber("-1", 12, 500), 13);
    EXPECT_EQ(HistoryPictureNumber("900", 12, 500), 900);    // not reduced
    EXPECT_EQ(HistoryPictureNumber("newest", 12, 500), 12);  // first five letters compared
    EXPECT_EQ(HistoryPictureNumber("abc", 12, 500), 12);     // reads as 0
    EXPECT_EQ(HistoryPictureNumber("", 12, 500), 12);
    EXPECT_EQ(HistoryPictureNumber("  7x", 12, 500), 7);
    EXPECT_EQ(HistoryPictureNumber("99999999999999", 12, 500), 2147483647);
    EXPECT_EQ(HistoryPictureNumber("older", 499, 500), 0);
    EXPECT_EQ(HistoryPictureNumber("newer", 1012, 500), 12);
    // A ring of no pictures is taken as one picture instead of dividing by 0.
    EXPECT_EQ(HistoryPictureNumber("newer", 12, 0), 0);
    EXPECT_EQ(HistoryPictureNumber("older", 12, -5), 0);
}

TEST(StreamWire, TimeTextIsAsctimeWithTwoDigitDay)
{
    std::tm local{};
    local.tm_year = 80;
    local.tm_mon = 0;
    local.tm_mday = 2;
    local.tm_hour = 2;
    local.tm_min = 3;
    local.tm_sec = 55;
    local.tm_isdst = -1;
    const std::time_t t = std::mktime(&local);
    EXPECT_EQ(AsctimeText(t), "Wed Jan 02 02:03:55 1980");
    EXPECT_EQ(AsctimeText(std::time(nullptr)).size(), 24U);
}

}  // namespace
}  // namespace vorlix
