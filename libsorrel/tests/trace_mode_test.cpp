// The trace mode core: level switches, line building from stream texts,
// routing to the outputs, failure marking and the retry schedule.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "libsorrel/tests/RecordingMode.h"

namespace {

using sorrel::CTraceMode;
using sorrel_test::g_now;
using sorrel_test::Line;
using sorrel_test::RecordingMode;

class TraceModeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_now = 1000;
        mode_.EnableTrace(5);
    }
    void TearDown() override { sorrel_test::RestoreDefaultHooks(); }

    RecordingMode mode_;
};

TEST_F(TraceModeTest, LevelsOutsideTheTableAreIgnored)
{
    mode_.EnableTrace(300);
    mode_.EnableLog(-1);
    mode_.EnableTrace(256);
    EXPECT_EQ(mode_.IsTraceEnabled(300), 0);
    EXPECT_EQ(mode_.IsLogEnabled(-1), 0);
    mode_.Tracef(300, true, "x");
    mode_.Tracef(-1, true, "y");
    mode_.Tracef(256, true, "z");
    EXPECT_TRUE(mode_.lines.empty());
    // Only level 5 was switched on; the neighbours of the table stay off.
    for (int level = 0; level < CTraceMode::kLevelCount; ++level) {
        EXPECT_EQ(mode_.IsTraceEnabled(level), level == 5 ? 1 : 0) << level;
        EXPECT_EQ(mode_.IsLogEnabled(level), 0) << level;
    }
}

TEST_F(TraceModeTest, StreamTextsBuildOneLine)
{
    mode_.Tracef(5, false, "abc");
    EXPECT_TRUE(mode_.lines.empty());
    mode_.Tracef(5, false, "def\n");
    EXPECT_EQ(mode_.Texts(), std::vector<std::string>{"abcdef"});
}

TEST_F(TraceModeTest, PendingTextIsFlushedByALineCall)
{
    mode_.Tracef(5, false, "abc");
    mode_.Tracef(5, true, "xyz");
    EXPECT_EQ(mode_.Texts(), (std::vector<std::string>{"abc", "xyz"}));
}

TEST_F(TraceModeTest, StreamTextIsCutAtLineFeedsAndKeepsItsTail)
{
    mode_.Tracef(5, false, "one\ntwo\nthr");
    EXPECT_EQ(mode_.Texts(), (std::vector<std::string>{"one", "two"}));
    mode_.Tracef(5, false, "%s\n", "ee");
    EXPECT_EQ(mode_.Texts(), (std::vector<std::string>{"one", "two", "three"}));
}

TEST_F(TraceModeTest, LineFeedBetweenRawBytesIsShown)
{
    mode_.Tracef(5, false, "\x01\x0a\x02");
    EXPECT_TRUE(mode_.lines.empty());
    mode_.Tracef(5, false, "\n");
    EXPECT_EQ(mode_.Texts(), std::vector<std::string>{"<0x1><LF><STX>"});
}

TEST_F(TraceModeTest, LineFeedAfterTextEndsTheLineBeforeRawBytes)
{
    mode_.Tracef(5, false, "abc\n\x01\x02\n");
    EXPECT_EQ(mode_.Texts(), (std::vector<std::string>{"abc", "<0x1><STX>"}));
    mode_.Tracef(5, false, "\x03\n\n");  // the second line feed follows a line feed
    EXPECT_EQ(mode_.Texts(), (std::vector<std::string>{"abc", "<0x1><STX>", "<ETX>", ""}));
}

TEST_F(TraceModeTest, CarriageReturnBeforeLineFeedIsDropped)
{
    mode_.Tracef(5, false, "a\r\nb\n");
    EXPECT_EQ(mode_.Texts(), (std::vector<std::string>{"a", "b"}));
    mode_.Tracef(5, false, "c\rd\n");
    EXPECT_EQ(mode_.lines.back().text, "c<CR>d");
}

TEST_F(TraceModeTest, ControlBytesBecomeMarkersAndAccentsAreFolded)
{
    mode_.Tracef(5, false, "%s\n", "\x02\x03\x04\x06\x10\x15\x1b\t\x7f\x80\xff");
    mode_.Tracef(5, false, "%s\n", "\xe0\xe7\xe8\xe9\xea\xee\xf4\xf9\xe1");
    EXPECT_EQ(mode_.Texts(),
              (std::vector<std::string>{"<STX><ETX><EOT><ACK><DLE><NACK><ESC>\t<0x7F><0x80><0xFF>", "aceeeiou<0xE1>"}));
}

TEST_F(TraceModeTest, LineCallIsNotEscaped)
{
    mode_.Tracef(5, true, "%s", "raw\x01\tline\n");
    EXPECT_EQ(mode_.Texts(), std::vector<std::string>{"raw\x01\tline"});
    mode_.Tracef(5, true, "two\n\n");  // only one newline is removed
    EXPECT_EQ(mode_.lines.back().text, "two\n");
}

TEST_F(TraceModeTest, LongLineIsCutBeforeItsLineFeedTest)
{
    // The byte at 32766 is the last one kept: a line feed there is removed.
    std::string text(40000, 'x');
    text[32766] = '\n';
    mode_.Tracef(5, true, "%s", text.c_str());
    ASSERT_EQ(mode_.lines.size(), 1u);
    EXPECT_EQ(mode_.lines[0].text, std::string(32766, 'x'));

    // A line feed at the real end of a long text is beyond the cut.
    std::string ending(40000, 'y');
    ending.back() = '\n';
    mode_.Tracef(5, true, "%s", ending.c_str());
    ASSERT_EQ(mode_.lines.size(), 2u);
    EXPECT_EQ(mode_.lines[1].text, std::string(32767, 'y'));
}

TEST_F(TraceModeTest, SuspendResumeAndDisable)
{
    mode_.SuspendTrace(5);
    EXPECT_EQ(mode_.IsTraceEnabled(5), 0);
    mode_.ResumeTrace(5);
    EXPECT_EQ(mode_.IsTraceEnabled(5), 1);

    mode_.SuspendTrace(5);
    mode_.DisableTrace(5);
    mode_.ResumeTrace(5);
    EXPECT_EQ(mode_.IsTraceEnabled(5), 0);

    mode_.EnableLog(7);
    mode_.SuspendLog(7);
    mode_.ResumeLog(7);
    EXPECT_EQ(mode_.IsLogEnabled(7), 1);
    mode_.SuspendLog(7);
    mode_.DisableLog(7);
    mode_.ResumeLog(7);
    EXPECT_EQ(mode_.IsLogEnabled(7), 0);
}

TEST_F(TraceModeTest, DisableAllKeepsTheSavedSwitches)
{
    mode_.EnableTrace(6);
    mode_.SuspendTrace(6);
    mode_.EnableTrace(6);
    mode_.DisableTrace();
    EXPECT_EQ(mode_.IsTraceEnabled(5), 0);
    EXPECT_EQ(mode_.IsTraceEnabled(6), 0);
    mode_.ResumeTrace(6);
    EXPECT_EQ(mode_.IsTraceEnabled(6), 1);
}

TEST_F(TraceModeTest, RoutesEachLineByItsSwitches)
{
    mode_.EnableLog(8);
    mode_.EnableTrace(9);
    mode_.EnableLog(9);
    mode_.Tracef(5, true, "trace only");
    mode_.Tracef(8, true, "log only");
    mode_.Tracef(9, true, "both");
    mode_.Tracef(10, true, "nowhere");
    EXPECT_EQ(mode_.lines,
              (std::vector<Line>{{'T', 5, "trace only"}, {'L', 8, "log only"}, {'T', 9, "both"}, {'L', 9, "both"}}));
    EXPECT_EQ(mode_.bothCalls, 1);
}

TEST_F(TraceModeTest, SetLogFileReportsWhetherItChanged)
{
    EXPECT_EQ(mode_.LogFileName(), "application_log");
    EXPECT_EQ(mode_.LogSlices(), 2);
    EXPECT_FALSE(mode_.SetLogFile("application_log", 2, false));
    EXPECT_FALSE(mode_.SetLogFile(nullptr, 2, false));
    EXPECT_TRUE(mode_.SetLogFile(nullptr, 2, true));
    EXPECT_TRUE(mode_.SetLogFile("application_log", 3, false));
    EXPECT_EQ(mode_.LogSlices(), 3);

    ::setenv("SORREL_TEST_LOGDIR", "/var/tmp/logs", 1);
    EXPECT_TRUE(mode_.SetLogFile("%SORREL_TEST_LOGDIR%/server", 4, false));
    EXPECT_EQ(mode_.LogFileName(), "/var/tmp/logs/server");
    EXPECT_EQ(mode_.LogSlices(), 4);
    ::unsetenv("SORREL_TEST_LOGDIR");
}

TEST_F(TraceModeTest, RetryIntervalTable)
{
    const unsigned long expected[] = {0, 0, 10, 30, 60, 300, 300, 300};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(mode_.GetRetryInterval(i), expected[i]) << i;
    }
    EXPECT_EQ(mode_.GetRetryInterval(1000), 300u);
    EXPECT_EQ(mode_.GetRetryInterval(-1), 300u);  // taken unsigned
}

TEST_F(TraceModeTest, FailingOutputIsSkippedAndRetriedOnTheSchedule)
{
    mode_.traceThrows = true;
    mode_.Tracef(5, true, "lost");
    EXPECT_EQ(mode_.FailureState(), CTraceMode::kTraceFailing);
    mode_.traceThrows = false;  // the output would work, but stays marked failing
    mode_.onTrace = [](const char*) { ADD_FAILURE() << "a failing output was called"; };

    // Calls whose gap to the previous call reaches the interval of the
    // retry count reset the outputs: 0, 0, 10, 30, 60, 300, 300.
    const std::int64_t gaps[] = {0, 0, 9, 10, 29, 30, 59, 60, 299, 300, 300};
    const bool resets[] = {true, true, false, true, false, true, false, true, false, true, true};
    std::size_t expectedResets = 0;
    for (std::size_t i = 0; i < std::size(gaps); ++i) {
        g_now += gaps[i];
        mode_.Tracef(5, true, "tick");
        expectedResets += resets[i] ? 1 : 0;
        EXPECT_EQ(mode_.resets.size(), expectedResets) << "call " << i << " after a gap of " << gaps[i];
    }
    EXPECT_EQ(mode_.RetryCount(), 7);
    EXPECT_TRUE(mode_.lines.empty());
}

TEST_F(TraceModeTest, RetriesStopWhenCallsComeMoreOftenThanTheInterval)
{
    mode_.traceThrows = true;
    mode_.Tracef(5, true, "lost");
    for (int i = 0; i < 100; ++i) {
        ++g_now;
        mode_.Tracef(5, true, "every second");
    }
    // Retries 1 and 2 come at once; the third needs a 10-second gap.
    EXPECT_EQ(mode_.resets.size(), 2u);
}

TEST_F(TraceModeTest, RepairedOutputDeliversAgainAndTheCounterReturnsToZero)
{
    mode_.traceThrows = true;
    mode_.Tracef(5, true, "lost");
    mode_.resetRepairs = true;
    mode_.Tracef(5, true, "back");
    EXPECT_EQ(mode_.Texts(), std::vector<std::string>{"back"});
    EXPECT_EQ(mode_.FailureState(), 0);
    EXPECT_EQ(mode_.RetryCount(), 0);
}

TEST_F(TraceModeTest, BothFailingSkipsFormattingUntilARetryIsDue)
{
    mode_.EnableLog(5);
    mode_.traceThrows = true;
    mode_.Tracef(5, true, "lost");
    EXPECT_EQ(mode_.FailureState(), CTraceMode::kBothFailing);
    mode_.resetThrows = true;
    mode_.Tracef(5, true, "retry 1 fails");
    mode_.Tracef(5, true, "retry 2 fails");
    g_now += 5;
    mode_.Tracef(5, true, "no retry due");
    EXPECT_EQ(mode_.resets.size(), 2u);
    EXPECT_TRUE(mode_.lines.empty());
}

TEST_F(TraceModeTest, TraceFailingStillLogs)
{
    mode_.EnableLog(5);
    mode_.traceThrows = true;
    mode_.Tracef(5, true, "first");
    // Trace and log were called together; the state is 3 until a reset.
    mode_.SetFailureState(CTraceMode::kTraceFailing);
    mode_.Tracef(5, true, "second");
    EXPECT_EQ(mode_.lines, (std::vector<Line>{{'L', 5, "second"}}));
    EXPECT_EQ(mode_.FailureState(), CTraceMode::kTraceFailing);
}

TEST_F(TraceModeTest, AnyExceptionStaysInsideTheTraceCall)
{
    mode_.onTrace = [](const char*) { throw std::runtime_error("not a framework exception"); };
    EXPECT_NO_THROW(mode_.Tracef(5, true, "x"));
    mode_.onTrace = [](const char*) { throw 42; };
    mode_.SetFailureState(0);
    EXPECT_NO_THROW(mode_.Tracef(5, true, "y"));
    EXPECT_EQ(mode_.FailureState(), CTraceMode::kTraceFailing);
}

TEST_F(TraceModeTest, InitLevelsRunsFirstThenOncePerInterval)
{
    mode_.Tracef(5, true, "a");
    EXPECT_EQ(mode_.initLevels, 1);
    g_now += 9;
    mode_.Tracef(5, true, "b");
    EXPECT_EQ(mode_.initLevels, 1);
    g_now += 1;
    mode_.Tracef(200, true, "c (level off, still a trace call)");
    EXPECT_EQ(mode_.initLevels, 2);
    EXPECT_EQ(mode_.InitLevelsInterval(), 10u);

    RecordingMode fixed;
    fixed.InitLevelsStatic();
    EXPECT_EQ(fixed.InitLevelsInterval(), 0xFFFFFFFFu);
    fixed.Tracef(5, true, "a");
    g_now += 100000;
    fixed.Tracef(5, true, "b");
    EXPECT_EQ(fixed.initLevels, 0);
}

TEST_F(TraceModeTest, LevelDescriptionsAreReplacedByLevel)
{
    mode_.SetLevelDescription(102, "detect", "zone matches");
    mode_.SetLevelDescription(102, "detection", "reference image, zones");
    mode_.SetLevelDescription(7, nullptr, nullptr);
    const auto table = mode_.LevelDescriptions();
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table.at("102"), std::string("detection\x03reference image, zones"));
    EXPECT_EQ(table.at("7"), std::string("\x03"));
}

TEST_F(TraceModeTest, BaseOperationsDoNothing)
{
    CTraceMode plain(CTraceMode::kUnregistered);
    EXPECT_TRUE(plain.SetTitle("title"));
    EXPECT_EQ(plain.hWnd(), nullptr);
    plain.EnableTrace(1);
    EXPECT_NO_THROW(plain.ProcessBuffer(1, "nowhere"));
    EXPECT_EQ(plain.FailureState(), 0);
}

TEST_F(TraceModeTest, LockIsRecursiveSoAHolderCanTrace)
{
    mode_.Lock();
    mode_.Lock();
    mode_.Tracef(5, true, "held twice");
    mode_.Unlock();
    mode_.Unlock();
    EXPECT_EQ(mode_.Texts(), std::vector<std::string>{"held twice"});
}

TEST_F(TraceModeTest, CallFromInsideAnOutputIsDropped)
{
    // The first line comes back while the in-trace flag is still set; the
    // second after it was cleared, while the outer call is still running.
    mode_.onTrace = [this](const char* line) {
        if (std::string(line) != "inner") {
            mode_.Tracef(5, false, "inner\n");
        }
    };
    mode_.Tracef(5, false, "outer\nsecond\nthird");
    EXPECT_EQ(mode_.Texts(), (std::vector<std::string>{"outer", "second"}));
    mode_.onTrace = nullptr;
    mode_.Tracef(5, false, "\n");  // the tail was kept, not overwritten
    EXPECT_EQ(mode_.Texts(), (std::vector<std::string>{"outer", "second", "third"}));
}

TEST_F(TraceModeTest, DeleteWithAutoDeleteOnlySwitchesLevelsOff)
{
    mode_.EnableLog(9);
    EXPECT_TRUE(mode_.IsAutoDelete());
    mode_.Delete();
    EXPECT_EQ(mode_.IsTraceEnabled(5), 0);
    EXPECT_EQ(mode_.IsLogEnabled(9), 0);
    // Still alive and usable.
    mode_.EnableTrace(5);
    mode_.Tracef(5, true, "alive");
    EXPECT_EQ(mode_.Texts(), std::vector<std::string>{"alive"});
}

int g_destroyed = 0;
class CountedMode : public RecordingMode {
public:
    ~CountedMode() override { ++g_destroyed; }
};

TEST_F(TraceModeTest, DeleteWithoutAutoDeleteFreesTheMode)
{
    g_destroyed = 0;
    auto* mode = new CountedMode;  // NOLINT(cppcoreguidelines-owning-memory): Delete frees it
    mode->AutoDelete(false);
    mode->Delete();
    EXPECT_EQ(g_destroyed, 1);
}

}  // namespace
