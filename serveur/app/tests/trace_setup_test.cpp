// The trace levels a "Trace level" switches on, and the headless message box
// that goes to the trace. The trace's switches themselves are recorded, so
// this capture is its own.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "libkestrel/trace/QXTrace.h"
#include "serveur/app/MessageSink.h"
#include "serveur/app/TraceSetup.h"

using namespace vorlix::app;

namespace {

std::vector<std::string> g_lines;
std::set<int> g_traceOn;
std::set<int> g_logOn;
// Levels that were on and went off, even for a moment.
std::set<int> g_traceGaps;
std::set<int> g_logGaps;

void CaptureLine(int level, const char* format, ...)
{
    if (g_traceOn.count(level) == 0) {
        return;
    }
    char buf[1024];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized): started above
    va_end(args);
    g_lines.push_back(std::to_string(level) + " " + buf);
}
int CaptureCheck(int level)
{
    return g_traceOn.count(level) != 0 ? 1 : 0;
}
void CaptureEnableTrace(int level)
{
    g_traceOn.insert(level);
}
void CaptureDisableTrace()
{
    g_traceGaps.insert(g_traceOn.begin(), g_traceOn.end());
    g_traceOn.clear();
}
void CaptureDisableOneTrace(int level)
{
    if (g_traceOn.erase(level) != 0) {
        g_traceGaps.insert(level);
    }
}
void CaptureDisableOneLog(int level)
{
    if (g_logOn.erase(level) != 0) {
        g_logGaps.insert(level);
    }
}
void CaptureEnableLog(int level)
{
    g_logOn.insert(level);
}
void CaptureDisableLog()
{
    g_logGaps.insert(g_logOn.begin(), g_logOn.end());
    g_logOn.clear();
}

struct CapturedTrace {
    CapturedTrace()
    {
        g_lines.clear();
        g_traceOn = {1, 2, 3};  // stale switches are cleared first
        g_logOn = {7};
        g_traceGaps.clear();
        g_logGaps.clear();
        SetTracelnFunction(&CaptureLine);
        SetCheckLevelFunction(&CaptureCheck);
        SetEnableTraceFunction(&CaptureEnableTrace);
        SetDisableTraceFunction(&CaptureDisableTrace);
        SetEnableLogFunction(&CaptureEnableLog);
        SetDisableLogFunction(&CaptureDisableLog);
        SetDisableOneTraceFunction(&CaptureDisableOneTrace);
        SetDisableOneLogFunction(&CaptureDisableOneLog);
    }
    ~CapturedTrace()
    {
        SetTracelnFunction(&QXTraceNull);
        SetCheckLevelFunction(&AlwaysTrue);
        SetEnableTraceFunction(&QXEnableTraceNull);
        SetDisableTraceFunction(&QXDisableTraceNull);
        SetEnableLogFunction(&QXEnableLogNull);
        SetDisableLogFunction(&QXDisableLogNull);
        SetDisableOneTraceFunction(&QXEnableTraceNull);
        SetDisableOneLogFunction(&QXEnableLogNull);
    }
};

bool Contains(const std::string& line, const std::string& part)
{
    return line.find(part) != std::string::npos;
}

}  // namespace

TEST(TraceLevelTest, LevelThreeEnablesUserLevelsTwoOneZeroAndTheTaggedLevels)
{
    CapturedTrace capture;
    ApplyTraceLevel(3);
    EXPECT_EQ(g_traceOn, (std::set<int>{100, 101, 102, 240, 241, 242, 243, 244, 245}));
    EXPECT_EQ(g_logOn, (std::set<int>{100, 101, 102}));
    // The "init trace user" lines go out at level 104, which stays off here.
    ASSERT_EQ(g_lines.size(), 6u);
    EXPECT_TRUE(g_lines[0].starts_with("240 <COLOR 3>[DEBUG] "));
    EXPECT_TRUE(g_lines[0].ends_with("Debug level activated</COLOR>"));
    EXPECT_TRUE(g_lines[1].starts_with("241 [TRACE] "));
    EXPECT_TRUE(g_lines[3].ends_with("Warning level activated</COLOR>"));
    EXPECT_TRUE(g_lines[5].starts_with("245 <HCOLOR 7>[FAULT] "));
}

TEST(TraceLevelTest, AReloadNeverSwitchesOffForAMomentWhatStaysOn)
{
    CapturedTrace capture;
    ApplyTraceLevel(3);
    g_traceGaps.clear();
    g_logGaps.clear();
    // The events list (100) and the failures are written by other threads
    // while the reload applies the same level again, then a lower one.
    ApplyTraceLevel(3);
    EXPECT_TRUE(g_traceGaps.empty());
    EXPECT_TRUE(g_logGaps.empty());
    ApplyTraceLevel(2);
    EXPECT_EQ(g_traceGaps, (std::set<int>{102}));
    EXPECT_EQ(g_logGaps, (std::set<int>{102}));
    EXPECT_EQ(g_traceOn, (std::set<int>{100, 101, 240, 241, 242, 243, 244, 245}));
}

TEST(TraceLevelTest, LevelFiveAnnouncesEveryUserLevelAtLevel104)
{
    CapturedTrace capture;
    ApplyTraceLevel(5);
    EXPECT_EQ(g_logOn, (std::set<int>{100, 101, 102, 103, 104}));
    ASSERT_EQ(g_lines.size(), 11u);
    EXPECT_TRUE(g_lines[0].starts_with("104 "));
    EXPECT_TRUE(g_lines[0].ends_with("init trace user 4"));
    EXPECT_TRUE(g_lines[3].ends_with("init trace user 1"));
    EXPECT_TRUE(g_lines[4].ends_with("): init trace user"));
    EXPECT_TRUE(g_lines[10].ends_with("Fault level activated</COLOR>"));
}

TEST(TraceLevelTest, LevelZeroSwitchesEverythingOff)
{
    CapturedTrace capture;
    ApplyTraceLevel(0);
    EXPECT_TRUE(g_traceOn.empty());
    EXPECT_TRUE(g_logOn.empty());
    EXPECT_TRUE(g_lines.empty());
}

TEST(TraceLevelTest, HeadlessMessageBoxGoesToTheTraceAtWarningLevel)
{
    CapturedTrace capture;
    g_traceOn = {243};
    HeadlessMessageSink().Show("error during server installation", "Server warning");
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_TRUE(g_lines[0].starts_with("243 <COLOR 7>[WARN ] "));
    EXPECT_TRUE(Contains(g_lines[0], "Server warning: error during server installation"));
}
