// Trace levels, tags and the one macro family every module traces with.
//
//   TRACE_WARN("Unable to bind socket %d", port);
//
// expands to one QXTraceln call at level 243 whose format is
// "<COLOR 7>[WARN ] %s 0x%X %s %s(%d): Unable to bind socket %d</COLOR>" with
// the date and time, the thread id, the last-error column, the source base
// name and line in front of the message arguments. The last-error column is
// taken first, before anything else the macro does can touch errno, and both
// error slots are put back afterwards, so tracing never changes what the
// caller sees.
#pragma once

#include <cerrno>
#include <cstring>

#include "libkestrel/error/QXError.h"
#include "libkestrel/trace/QXTrace.h"

namespace kestrel {

enum TraceLevel : int {
    kLevelUnclassified = 0,
    kLevelToolsDetail = 1,
    kLevelQueue = 16,
    kLevelPacket = 70,
    kLevelUser = 100,   // base user level of the server
    kLevelUser1 = 101,  // mail sending; viewer history
    kLevelUser2 = 102,  // detection
    kLevelUser3 = 103,  // network detail
    kLevelUser4 = 104,  // window messages, menu commands, mail packets
    kLevelDebug = 240,
    kLevelTrace = 241,
    kLevelInfo = 242,
    kLevelWarn = 243,
    kLevelError = 244,
    kLevelFault = 245,
};

inline constexpr int kLevelCount = 256;

inline constexpr const char* kTagDebug = "[DEBUG]";
inline constexpr const char* kTagTrace = "[TRACE]";
inline constexpr const char* kTagInfo = "[INFO ]";
inline constexpr const char* kTagWarn = "[WARN ]";
inline constexpr const char* kTagError = "[ERROR]";
inline constexpr const char* kTagFault = "[FAULT]";

// Whether anybody would receive a line at `level`: skips building the head
// (date, error text) when no trace library is installed or the level is off.
inline bool TraceWanted(int level)
{
    return QXTraceln != &QXTraceNull && CheckLevel(level) != 0;
}

// Saves both last-error slots and takes the error column at construction;
// puts the slots back at destruction.
class TraceHead {
public:
    TraceHead() : errno_(errno), socketError_(SocketErrorGet())
    {
        std::strncpy(error_, ErrorLastString(), sizeof error_ - 1);
        error_[sizeof error_ - 1] = '\0';
    }
    ~TraceHead()
    {
        SocketErrorSet(socketError_);
        errno = errno_;
    }
    TraceHead(const TraceHead&) = delete;
    TraceHead& operator=(const TraceHead&) = delete;

    [[nodiscard]] const char* Error() const { return error_; }

private:
    int errno_;
    unsigned int socketError_;
    char error_[16];
};

}  // namespace kestrel

#define KESTREL_TRACE_HEAD "%s 0x%X %s %s(%d): "

// One line at `level`; `markup_open`/`markup_close` and `tag` are string
// literals (possibly empty).
#define KESTREL_TRACE_LINE(level, markup_open, tag, markup_close, fmt, ...)                                      \
    do {                                                                                                         \
        if (::kestrel::TraceWanted(level)) {                                                                     \
            const ::kestrel::TraceHead kestrel_head_;                                                            \
            const char* const kestrel_file_ = QXBasename(__FILE__);                                              \
            const unsigned int kestrel_tid_ = QXThreadId();                                                      \
            const char* const kestrel_date_ = QXDateAndTime();                                                   \
            QXTraceln((level), markup_open tag KESTREL_TRACE_HEAD fmt markup_close, kestrel_date_, kestrel_tid_, \
                      kestrel_head_.Error(), kestrel_file_, __LINE__ __VA_OPT__(, ) __VA_ARGS__);                \
        }                                                                                                        \
    } while (0)

#define TRACE_DEBUG(fmt, ...) \
    KESTREL_TRACE_LINE(::kestrel::kLevelDebug, "<COLOR 3>", "[DEBUG] ", "</COLOR>", fmt __VA_OPT__(, ) __VA_ARGS__)
#define TRACE_TRACE(fmt, ...) \
    KESTREL_TRACE_LINE(::kestrel::kLevelTrace, "", "[TRACE] ", "", fmt __VA_OPT__(, ) __VA_ARGS__)
#define TRACE_INFO(fmt, ...) \
    KESTREL_TRACE_LINE(::kestrel::kLevelInfo, "<COLOR 4>", "[INFO ] ", "</COLOR>", fmt __VA_OPT__(, ) __VA_ARGS__)
#define TRACE_WARN(fmt, ...) \
    KESTREL_TRACE_LINE(::kestrel::kLevelWarn, "<COLOR 7>", "[WARN ] ", "</COLOR>", fmt __VA_OPT__(, ) __VA_ARGS__)
#define TRACE_ERROR(fmt, ...) \
    KESTREL_TRACE_LINE(::kestrel::kLevelError, "<HCOLOR 6>", "[ERROR] ", "</COLOR>", fmt __VA_OPT__(, ) __VA_ARGS__)
#define TRACE_FAULT(fmt, ...) \
    KESTREL_TRACE_LINE(::kestrel::kLevelFault, "<HCOLOR 7>", "[FAULT] ", "</COLOR>", fmt __VA_OPT__(, ) __VA_ARGS__)
// Untagged lines at a numeric level (0, 100..104, ...).
#define TRACE_LEVEL(level, fmt, ...) KESTREL_TRACE_LINE((level), "", "", "", fmt __VA_OPT__(, ) __VA_ARGS__)

// The detail lines that follow a failure line, with ErrorLast() and its text:
// "<COLOR 7>[WARN ] <head>      (%d,%s)</COLOR>" and the [ERROR] twin.
#define KESTREL_TRACE_DETAIL(macro)                                                               \
    do {                                                                                          \
        const unsigned int kestrel_code_ = ErrorLast();                                           \
        macro("      (%d,%s)", static_cast<int>(kestrel_code_), ErrorDescription(kestrel_code_)); \
    } while (0)
#define TRACE_WARN_DETAIL() KESTREL_TRACE_DETAIL(TRACE_WARN)
#define TRACE_ERROR_DETAIL() KESTREL_TRACE_DETAIL(TRACE_ERROR)
