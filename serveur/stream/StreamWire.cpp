#include "serveur/stream/StreamWire.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vorlix {

std::string LiveFrameHeader(long size)
{
    char text[128];
    std::snprintf(text, sizeof text, "\r\n--BoundaryString\r\nContent-type: image/jpeg\r\nContent-Length: %ld\r\n\r\n",
                  size);
    return text;
}

std::string HistoryFrameHeader(int indiceLast, int modulo, std::string_view time, long size)
{
    char text[320];
    std::snprintf(text, sizeof text,
                  "\r\n--BoundaryString\r\nVorlix: History\r\nIndiceLast: %d\r\nModulo: %d\r\nTime: %.*s\r\n"
                  "Content-type: image/jpeg\r\nContent-Length: %ld\r\n\r\n",
                  indiceLast, modulo, static_cast<int>(time.size() > 64 ? 64 : time.size()), time.data(), size);
    return text;
}

std::string AskPasswordLine(std::int32_t challenge)
{
    return "AskPassword: " + std::to_string(challenge) + "\r\n";
}

std::int32_t ChallengeFromPeer(const sockaddr_in& peer)
{
    std::array<unsigned char, 2> port{};
    std::array<unsigned char, 4> address{};
    std::memcpy(port.data(), &peer.sin_port, port.size());
    std::memcpy(address.data(), &peer.sin_addr, address.size());
    const std::uint32_t portWord = port[0] + 256U * port[1];
    const std::uint32_t addressWord = address[0] + (std::uint32_t{address[1]} << 8) +
                                      (std::uint32_t{address[2]} << 16) + (std::uint32_t{address[3]} << 24);
    return static_cast<std::int32_t>(portWord * addressWord);
}

std::string AsctimeText(std::time_t t)
{
    static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr) {
        return {};
    }
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d", kDays[static_cast<std::size_t>(local.tm_wday % 7)],
                  kMonths[static_cast<std::size_t>(local.tm_mon % 12)], local.tm_mday, local.tm_hour, local.tm_min,
                  local.tm_sec, local.tm_year + 1900);
    return text;
}

StreamRequest ParseRequest(std::string_view received)
{
    if (received.size() > kRequestMax) {
        received = received.substr(0, kRequestMax);
    }
    const std::size_t end = received.find_first_of("\r\n");
    const std::string_view line = received.substr(0, end);
    StreamRequest request;
    // One blank after the colon is assumed and skipped unread.
    constexpr std::string_view kPassword = "Password:";
    if (line.substr(0, kPassword.size()) == kPassword) {
        request.password = std::string(line.size() > 10 ? line.substr(10) : std::string_view{});
    }
    constexpr std::string_view kHistory = "History:";
    if (line.substr(0, kHistory.size()) == kHistory) {
        request.history = std::string(line.size() > 9 ? line.substr(9) : std::string_view{});
    }
    return request;
}

namespace {
// atoi without its undefined overflow: leading blanks, a sign, digits.
int LeadingNumber(std::string_view text)
{
    const std::string copy(text);
    errno = 0;
    const long value = std::strtol(copy.c_str(), nullptr, 10);
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

int Modulo(long long value, int modulo)
{
    const long long m = modulo < 1 ? 1 : modulo;
    return static_cast<int>(((value % m) + m) % m);
}
}  // namespace

int HistoryPictureNumber(std::string_view argument, int shots, int maxJpg)
{
    if (argument.substr(0, 5) == "newer") {
        return Modulo(shots, maxJpg);
    }
    if (argument.substr(0, 5) == "older") {
        return Modulo(static_cast<long long>(shots) + 1, maxJpg);
    }
    const int number = LeadingNumber(argument);
    if (number == 0) {
        return Modulo(shots, maxJpg);
    }
    if (number == -1) {
        return Modulo(static_cast<long long>(shots) + 1, maxJpg);
    }
    return number;
}

}  // namespace vorlix
