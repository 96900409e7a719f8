// A trace mode whose outputs record their lines, with switches to make an
// output throw, and a fake clock.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "libkestrel/framework/QXException.h"
#include "libkestrel/trace/QXTrace.h"
#include "libsorrel/CTraceMode.h"

namespace sorrel_test {

struct Line {
    char output;  // 'T' trace, 'L' log, 'B' both at once
    int level;
    std::string text;
    bool operator==(const Line&) const = default;
};

inline std::int64_t g_now = 1000;
inline std::int64_t FakeClock()
{
    return g_now;
}

class RecordingMode : public sorrel::CTraceMode {
public:
    explicit RecordingMode(int slot = kUnregistered) : CTraceMode(slot) { SetClock(&FakeClock); }
    using CTraceMode::SetFailureState;

    void DoTrace(int level, const char* line) override
    {
        if (onTrace) {
            onTrace(line);
        }
        if (traceThrows) {
            throw kestrel::CGeneralException(7, "trace output down", __FILE__, __LINE__);
        }
        lines.push_back({'T', level, line});
    }
    void DoLog(int level, const char* line) override
    {
        if (logThrows) {
            throw kestrel::CGeneralException(8, "log output down", __FILE__, __LINE__);
        }
        lines.push_back({'L', level, line});
    }
    void DoTraceAndLog(int level, const char* line) override
    {
        ++bothCalls;
        CTraceMode::DoTraceAndLog(level, line);
    }
    void ResetOutput(bool reopen, bool report) override
    {
        resets.push_back(FakeClock());
        EXPECT_TRUE(reopen);
        EXPECT_TRUE(report);
        if (resetThrows) {
            throw kestrel::CGeneralException(9, "still down", __FILE__, __LINE__);
        }
        if (resetRepairs) {
            traceThrows = false;
            logThrows = false;
            SetFailureState(0);
        }
    }
    void InitLevels() override { ++initLevels; }
    void WaitForEnd(unsigned long milliseconds) override { waits.push_back(milliseconds); }

    // Trace with arguments, as the C interface does.
    void Tracef(int level, bool line, const char* format, ...)
    {
        va_list args;
        va_start(args, format);
        Trace(level, format, args, line);
        va_end(args);
    }
    [[nodiscard]] std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const auto& l : lines) {
            texts.push_back(l.text);
        }
        return texts;
    }

    std::vector<Line> lines;
    std::vector<std::int64_t> resets;
    std::vector<unsigned long> waits;
    std::function<void(const char*)> onTrace;
    bool traceThrows = false;
    bool logThrows = false;
    bool resetThrows = false;
    bool resetRepairs = false;
    int bothCalls = 0;
    int initLevels = 0;
};

// Puts every hook of the tools library back to its default.
inline void RestoreDefaultHooks()
{
    SetTraceFunction(&QXTraceNull);
    SetTracelnFunction(&QXTraceNull);
    SetErrorFunction(&QXErrorNull);
    SetCheckLevelFunction(&AlwaysTrue);
    SetTraceLockFunctions(&QXLockNull, &QXLockNull);
    SetEnableTraceFunction(&QXEnableTraceNull);
    SetDisableTraceFunction(&QXDisableTraceNull);
    SetEnableLogFunction(&QXEnableLogNull);
    SetDisableLogFunction(&QXDisableLogNull);
    SetResetTraceAndLogFunction(&QXResetTraceAndLogNull);
    SetLogFileFunction(&QXSetLogFileNull);
    SetTraceTitleFunction(&QXSetTraceTitleNull);
}

}  // namespace sorrel_test
