// The bytes of the stream protocol and the small rules around them: frame
// headers, the password challenge, request lines and history numbering.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace vorlix {

// Sent once, right after a connection is accepted (173 bytes). The "\r\n"
// that opens the first frame header ends it.
inline constexpr std::string_view kResponseHead =
    "HTTP/1.1 200 OK\r\nMax-Age: 0\r\nExpires: 0\r\nCache-Control: no-cache\r\nCache-Control: private\r\n"
    "Pragma: no-cache\r\nContent-type: multipart/x-mixed-replace;boundary=BoundaryString\r\n";
inline constexpr std::string_view kFrameTrailer = "\r\n";
// Longest request read at once.
inline constexpr std::size_t kRequestMax = 256;

std::string LiveFrameHeader(long size);
std::string HistoryFrameHeader(int indiceLast, int modulo, std::string_view time, long size);
// "AskPassword: <challenge>\r\n"
std::string AskPasswordLine(std::int32_t challenge);

// The challenge for a peer: its port bytes as stored, read little-endian,
// times its four address bytes as stored, read little-endian, kept to 32 bits
// and read as signed.
std::int32_t ChallengeFromPeer(const sockaddr_in& peer);

// The local time of `t` as "Wed Jan 02 02:03:55 1980" (24 characters, C
// locale names whatever the process locale).
std::string AsctimeText(std::time_t t);

// What one receive asks for. Only its first line counts (cut at CR or LF).
struct StreamRequest {
    std::optional<std::string> password;  // the text after "Password: "
    std::optional<std::string> history;   // the text after "History: "
};
StreamRequest ParseRequest(std::string_view received);

// The picture number for a history argument: "newer" or a number reading as
// 0 gives the newest, "older" or -1 the oldest, any other number is used as
// it is. A "Max jpg" below 1 counts as 1.
int HistoryPictureNumber(std::string_view argument, int shots, int maxJpg);

}  // namespace vorlix
