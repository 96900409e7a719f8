// The viewer's side of the stream bytes, apart from any socket: what one
// read window (at most 512 bytes) holds. A window is searched as text for a
// password request ("AskPassword: ") or a frame header ("Content-Length: ",
// with "Vorlix: History", "IndiceLast: ", "Modulo: " and "Time: " on history
// frames); the body starts after the second LF that follows the length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorlix::client {

// A frame header (and a password request) always fits in one such window.
inline constexpr std::size_t kHeaderReadMax = 512;
// The largest JPEG the viewer takes, live or history (640 x 480 x 4 bytes).
inline constexpr std::size_t kFrameCapacity = 1228800;
// The frame trailer, which may arrive as a read of its own.
inline constexpr std::string_view kTrailer = "\r\n";

struct HistoryFields {
    std::optional<int> indiceLast;
    std::optional<int> modulo;
    std::optional<std::string> time;  // cut at the first CR or LF
};

struct WindowScan {
    enum class Kind {
        kNothing,          // no frame header and no password request
        kPasswordRequest,  // "AskPassword: <n>" and its line end
        kFrame,            // a whole frame header
        kCut,              // a header or request that goes on past the window's end
    };
    Kind kind = Kind::kNothing;
    std::int32_t challenge = 0;   // kPasswordRequest
    bool history = false;         // kFrame: "Vorlix: History" in its header
    HistoryFields fields;         // kFrame with history
    long long contentLength = 0;  // kFrame, as sent (may be negative or huge)
    // kPasswordRequest: first byte after the request line; kFrame: first body
    // byte (may equal the window size); kNothing and kCut: first byte worth
    // keeping for the next window (the window size when none is).
    std::size_t next = 0;
};

// Scans `window`. "AskPassword: " counts only while `awaitingPassword` is set,
// and before any frame header, as the server never sends both at once.
WindowScan ScanWindow(std::string_view window, bool awaitingPassword);

// Decimal number as atoi reads it (blanks, sign, leading digits; 0 when
// none), saturated to the range of long long.
long long ReadDecimal(std::string_view text);

}  // namespace vorlix::client
