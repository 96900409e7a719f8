#include "serveur/app/TraceSetup.h"

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"

namespace vorlix::app {

void ApplyTraceLevel(int t)
{
    QXDisableTrace();
    QXDisableLog();
    static constexpr std::array<const char*, 5> kUserLines = {"", "init trace user 1", "init trace user 2",
                                                              "init trace user 3", "init trace user 4"};
    for (int k = 4; k >= 1; --k) {
        if (t > k) {
            QXEnableTrace(kestrel::kLevelUser + k);
            QXEnableLog(kestrel::kLevelUser + k);
            TRACE_LEVEL(kestrel::kLevelUser4, "%s", kUserLines[static_cast<std::size_t>(k)]);
        }
    }
    if (t >= 1) {
        QXEnableTrace(kestrel::kLevelUser);
        QXEnableLog(kestrel::kLevelUser);
        TRACE_LEVEL(kestrel::kLevelUser4, "init trace user");
        for (int level = kestrel::kLevelDebug; level <= kestrel::kLevelFault; ++level) {
            QXEnableTrace(level);
        }
        TRACE_DEBUG("Debug level activated");
        TRACE_TRACE("Trace level activated");
        TRACE_INFO("Info level activated");
        TRACE_WARN("Warning level activated");
        TRACE_ERROR("Error level activated");
        TRACE_FAULT("Fault level activated");
    }
}

namespace {

std::array<std::atomic<bool>, kestrel::kLevelCount> g_enabled{};
std::mutex g_stderrLock;

int StderrCheckLevel(int level)
{
    return level >= 0 && level < kestrel::kLevelCount && g_enabled[static_cast<std::size_t>(level)].load() ? 1 : 0;
}

void StderrTraceln(int level, const char* format, ...)
{
    if (StderrCheckLevel(level) == 0) {
        return;
    }
    std::va_list args;
    va_start(args, format);
    const std::lock_guard lock(g_stderrLock);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
}

void StderrTrace(int level, const char* format, ...)
{
    if (StderrCheckLevel(level) == 0) {
        return;
    }
    std::va_list args;
    va_start(args, format);
    const std::lock_guard lock(g_stderrLock);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

void StderrEnable(int level)
{
    if (level >= 0 && level < kestrel::kLevelCount) {
        g_enabled[static_cast<std::size_t>(level)] = true;
    }
}

void StderrDisable()
{
    for (auto& e : g_enabled) {
        e = false;
    }
}

void LogIgnored(int) {}
void LogDisableIgnored() {}

}  // namespace

void InstallStderrTrace()
{
    // Warnings and errors show from the start; "Trace level" adds the rest.
    for (int level = 243; level <= 245; ++level) {
        StderrEnable(level);
    }
    SetEnableTraceFunction(&StderrEnable);
    SetDisableTraceFunction(&StderrDisable);
    SetEnableLogFunction(&LogIgnored);
    SetDisableLogFunction(&LogDisableIgnored);
    SetCheckLevelFunction(&StderrCheckLevel);
    SetTraceFunction(&StderrTrace);
    SetTracelnFunction(&StderrTraceln);
}

}  // namespace vorlix::app
