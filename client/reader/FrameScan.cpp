#include "client/reader/FrameScan.h"

#include <algorithm>
#include <climits>

namespace vorlix::client {

namespace {

constexpr std::string_view kAskPassword = "AskPassword: ";
constexpr std::string_view kContentLength = "Content-Length: ";
constexpr std::string_view kBoundary = "\r\n--BoundaryString";
constexpr std::string_view kHistoryMark = "Vorlix: History";
constexpr std::string_view kIndiceLast = "IndiceLast: ";
constexpr std::string_view kModulo = "Modulo: ";
constexpr std::string_view kTime = "Time: ";

int ToInt(long long value)
{
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

// Start of the longest tail of `window` that is a proper beginning of
// `marker`: bytes that may turn into the marker once more arrive.
std::size_t PartialTail(std::string_view window, std::string_view marker)
{
    const std::size_t longest = std::min(window.size(), marker.size() - 1);
    for (std::size_t length = longest; length > 0; --length) {
        if (window.substr(window.size() - length) == marker.substr(0, length)) {
            return window.size() - length;
        }
    }
    return window.size();
}

// Where the header that holds `before` begins: its boundary line when one is
// in the window, else the window's start.
std::size_t HeaderStart(std::string_view window, std::size_t before)
{
    const std::size_t dashes = window.rfind(kBoundary.substr(2), before);
    if (dashes == std::string_view::npos) {
        return 0;
    }
    return (dashes >= 2 && window.substr(dashes - 2, 2) == "\r\n") ? dashes - 2 : dashes;
}

HistoryFields ReadHistoryFields(std::string_view header)
{
    HistoryFields fields;
    if (const std::size_t at = header.find(kIndiceLast); at != std::string_view::npos) {
        fields.indiceLast = ToInt(ReadDecimal(header.substr(at + kIndiceLast.size())));
    }
    if (const std::size_t at = header.find(kModulo); at != std::string_view::npos) {
        fields.modulo = ToInt(ReadDecimal(header.substr(at + kModulo.size())));
    }
    if (const std::size_t at = header.find(kTime); at != std::string_view::npos) {
        const std::string_view rest = header.substr(at + kTime.size());
        fields.time = std::string(rest.substr(0, rest.find_first_of("\r\n")));
    }
    return fields;
}

WindowScan Nothing(std::string_view window, bool awaitingPassword)
{
    WindowScan scan;
    std::size_t keep = PartialTail(window, kBoundary);
    if (const std::size_t dashes = window.rfind(kBoundary.substr(2)); dashes != std::string_view::npos) {
        keep = std::min(keep, HeaderStart(window, dashes));
    }
    if (awaitingPassword) {
        keep = std::min(keep, PartialTail(window, kAskPassword));
    }
    scan.next = keep;
    return scan;
}

}  // namespace

long long ReadDecimal(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value > (LLONG_MAX - digit) / 10) {
            return negative ? LLONG_MIN : LLONG_MAX;
        }
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

WindowScan ScanWindow(std::string_view window, bool awaitingPassword)
{
    const std::size_t length = window.find(kContentLength);
    if (awaitingPassword) {
        const std::size_t ask = window.find(kAskPassword);
        if (ask != std::string_view::npos && ask < length) {
            WindowScan scan;
            const std::size_t end = window.find('\n', ask);
            if (end == std::string_view::npos) {
                scan.kind = WindowScan::Kind::kCut;
                scan.next = ask;
                return scan;
            }
            scan.kind = WindowScan::Kind::kPasswordRequest;
            scan.challenge = static_cast<std::int32_t>(
                ToInt(ReadDecimal(window.substr(ask + kAskPassword.size(), end - ask - kAskPassword.size()))));
            scan.next = end + 1;
            return scan;
        }
    }
    if (length == std::string_view::npos) {
        return Nothing(window, awaitingPassword);
    }
    WindowScan scan;
    const std::size_t start = HeaderStart(window, length);
    // The body follows the end of the length line and the empty line.
    const std::size_t lineEnd = window.find('\n', length + kContentLength.size());
    const std::size_t emptyEnd = lineEnd == std::string_view::npos ? lineEnd : window.find('\n', lineEnd + 1);
    if (emptyEnd == std::string_view::npos) {
        scan.kind = WindowScan::Kind::kCut;
        scan.next = start;
        return scan;
    }
    scan.kind = WindowScan::Kind::kFrame;
    scan.contentLength = ReadDecimal(window.substr(length + kContentLength.size()));
    const std::string_view header = window.substr(start, length - start);
    scan.history = header.find(kHistoryMark) != std::string_view::npos;
    if (scan.history) {
        scan.fields = ReadHistoryFields(header);
    }
    scan.next = emptyEnd + 1;
    return scan;
}

}  // namespace vorlix::client
