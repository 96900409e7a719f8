// Local and archive outputs: the standard error stream with CR LF lines, the
// rotating log file, a trace window (through a window library that records),
// the error mode, and the log output's failure and recovery.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "libkestrel/archive/COutTextArchive.h"
#include "libkestrel/logfile/TraceWindow.h"
#include "libkestrel/testkit/TestKit.h"
#include "libsorrel/CArchiveTraceMode.h"
#include "libsorrel/CErrorTraceMode.h"
#include "libsorrel/CLocalTraceMode.h"
#include "libsorrel/SorrelTrace.h"
#include "libsorrel/tests/RecordingMode.h"

namespace {

using kestrel::test::TempDir;
using sorrel::CLocalTraceMode;
using sorrel::CTraceMode;

// A file that keeps what is written to it.
class StringFile : public kestrel::CFile {
public:
    void Write(std::span<const std::byte> bytes) override
    {
        text.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    using CFile::Write;
    std::string text;
};

// A window library whose windows keep their state for the test to read.
struct RecordedWindow : kestrel::ITraceWindow {
    void SetTitle(const std::string& t) override { title = t; }
    void Show(bool /*toFront*/) override {}
    void Hide() override {}
    [[nodiscard]] void* Handle() const override { return const_cast<RecordedWindow*>(this); }
    bool PumpIfOwnThread() override { return false; }
    std::string title;
};
std::shared_ptr<kestrel::TraceWindowState> g_windowState;
RecordedWindow* g_window = nullptr;
std::unique_ptr<kestrel::ITraceWindow> MakeRecordedWindow(std::shared_ptr<kestrel::TraceWindowState> state)
{
    g_windowState = std::move(state);
    auto window = std::make_unique<RecordedWindow>();
    g_window = window.get();
    return window;
}

void Traceln(CTraceMode& mode, int level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    mode.Trace(level, format, args, true);
    va_end(args);
}

class LocalModeTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        kestrel::SetTraceWindowFactory(nullptr);
        g_windowState.reset();
        g_window = nullptr;
        sorrel_test::RestoreDefaultHooks();
    }
    TempDir dir_{"sorrel_local"};
};

TEST_F(LocalModeTest, KindsOtherThanOneWriteCrLfLinesToStandardError)
{
    for (const int kind : {2, 5}) {
        CLocalTraceMode mode(CTraceMode::kUnregistered, "t", dir_.File("log").c_str(), 2, kind);
        EXPECT_FALSE(mode.HasWindow());
        mode.EnableTrace(243);
        testing::internal::CaptureStderr();
        Traceln(mode, 243, "<COLOR 7>[WARN ] warning %d</COLOR>", kind);
        Traceln(mode, 243, "second\n");
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "<COLOR 7>[WARN ] warning " + std::to_string(kind) + "</COLOR>\r\nsecond\r\n")
            << "kind " << kind;
    }
}

TEST_F(LocalModeTest, LogLinesGoToTheRotatingLogFile)
{
    CLocalTraceMode mode(CTraceMode::kUnregistered, "t", dir_.File("app_log").c_str(), 3, 2);
    EXPECT_TRUE(mode.HasLogOutput());
    mode.EnableLog(100);
    testing::internal::CaptureStderr();
    Traceln(mode, 100, "logged %s", "line");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(dir_.Read("app_log.0"), "logged line\r\n");
}

TEST_F(LocalModeTest, TheDefaultLogNameIsOpenedToo)
{
    // An unforced SetLogFile with the defaults changes nothing; the mode
    // still has its log output from the start.
    const std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_.Path());
    {
        CLocalTraceMode mode(CTraceMode::kUnregistered, nullptr, nullptr, 2, 2);
        EXPECT_EQ(mode.LogFileName(), "application_log");
        mode.EnableLog(3);
        Traceln(mode, 3, "kept");
    }
    std::filesystem::current_path(cwd);
    EXPECT_EQ(dir_.Read("application_log.0"), "kept\r\n");
}

TEST_F(LocalModeTest, SameLogFileUnforcedKeepsTheOpenFile)
{
    CLocalTraceMode mode(CTraceMode::kUnregistered, "t", dir_.File("same").c_str(), 2, 2);
    mode.EnableLog(7);
    Traceln(mode, 7, "one");
    EXPECT_FALSE(mode.SetLogFile(dir_.File("same").c_str(), 2, false));
    Traceln(mode, 7, "two");
    EXPECT_EQ(dir_.Read("same.0"), "one\r\ntwo\r\n");
    EXPECT_TRUE(mode.SetLogFile(dir_.File("other").c_str(), 2, false));
    Traceln(mode, 7, "three");
    EXPECT_EQ(dir_.Read("other.0"), "three\r\n");
}

TEST_F(LocalModeTest, ALineDueToBothOutputsReachesTheWindowAndTheLogOnce)
{
    kestrel::SetTraceWindowFactory(&MakeRecordedWindow);
    CLocalTraceMode mode(CTraceMode::kUnregistered, "Camera", dir_.File("both").c_str(), 2, 1);
    ASSERT_TRUE(mode.HasWindow());
    EXPECT_EQ(g_window->title, "Camera");
    EXPECT_EQ(mode.hWnd(), g_window);
    mode.EnableTrace(102);
    mode.EnableLog(102);
    Traceln(mode, 102, "zone 3 matches");
    EXPECT_EQ(g_windowState->pending, "zone 3 matches\r\n");
    EXPECT_EQ(dir_.Read("both.0"), "zone 3 matches\r\n");
}

TEST_F(LocalModeTest, AWindowWithoutAWindowLibraryBecomesStandardError)
{
    CLocalTraceMode mode(CTraceMode::kUnregistered, "t", dir_.File("log").c_str(), 2, 1);
    EXPECT_FALSE(mode.HasWindow());
    EXPECT_EQ(mode.hWnd(), nullptr);
    mode.EnableTrace(1);
    testing::internal::CaptureStderr();
    Traceln(mode, 1, "still seen");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "still seen\r\n");
}

TEST_F(LocalModeTest, CloseOutputLeavesTheTraceOutputAndMarksNoFailure)
{
    CLocalTraceMode mode(CTraceMode::kUnregistered, "t", dir_.File("closed").c_str(), 2, 2);
    mode.EnableLog(9);
    mode.EnableTrace(8);
    mode.CloseOutput();
    EXPECT_FALSE(mode.HasLogOutput());
    testing::internal::CaptureStderr();
    Traceln(mode, 9, "log only");
    Traceln(mode, 8, "trace only");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "trace only\r\n");
    EXPECT_EQ(mode.FailureState(), 0);
    EXPECT_EQ(dir_.Read("closed.0"), "");
}

TEST_F(LocalModeTest, AnUnusableLogFileIsReportedAndRetriedLater)
{
    sorrel_test::RecordingMode errors(CTraceMode::kErrorSlot);
    errors.EnableTrace(0);
    const std::string missing = dir_.File("later");
    CLocalTraceMode mode(CTraceMode::kUnregistered, "t", (missing + "/log").c_str(), 2, 2);
    EXPECT_FALSE(mode.HasLogOutput());
    EXPECT_EQ(mode.FailureState(), CTraceMode::kLogFailing);
    bool reported = false;
    for (const auto& line : errors.lines) {
        reported = reported || line.text == "Log problem --> CLocalTraceMode::SetLogFile  An error occured";
    }
    EXPECT_TRUE(reported);

    // Trace lines still go out; once the directory exists, the next log line
    // reopens the log output (the first retries come at once).
    mode.EnableTrace(4);
    mode.EnableLog(5);
    testing::internal::CaptureStderr();
    Traceln(mode, 4, "trace goes on");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "trace goes on\r\n");
    ASSERT_EQ(::mkdir(missing.c_str(), 0700), 0);
    Traceln(mode, 5, "logged again");
    EXPECT_TRUE(mode.HasLogOutput());
    EXPECT_EQ(mode.FailureState(), 0);
    EXPECT_EQ(dir_.Read("later/log.0"), "logged again\r\n");
}

TEST_F(LocalModeTest, ErrorModeWritesTheErrorTextsAtLevelZero)
{
    sorrel::CErrorTraceMode errors("errors", dir_.File("errors").c_str(), 2, 2);
    testing::internal::CaptureStderr();
    SorError("%s %s(%d) 0x%X  %s", "341 14:03:59", "CTraceMode.cpp", 226, 0x1A4u, "STD_EXH    Handled exception\n");
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, "341 14:03:59 CTraceMode.cpp(226) 0x1A4  STD_EXH    Handled exception\r\n");
    EXPECT_EQ(dir_.Read("errors.0"), printed);
}

TEST_F(LocalModeTest, WaitForEndWaitsForDismissWithoutHoldingTheLock)
{
    kestrel::SetTraceWindowFactory(&MakeRecordedWindow);
    CLocalTraceMode mode(CTraceMode::kUnregistered, "t", dir_.File("w").c_str(), 2, 1);
    mode.EnableTrace(3);
    Traceln(mode, 3, "read me");
    std::thread user([&] {
        // Another thread traces while the program waits for the user.
        Traceln(mode, 3, "from another thread");
        g_windowState->Dismiss();
    });
    mode.WaitForEnd(0xFFFFFFFF);
    user.join();
    EXPECT_EQ(g_windowState->pending, "read me\r\nfrom another thread\r\n");
}

TEST(ArchiveModeTest, BothArchiveTakesTheLineOnceAndLineEndsFollowTheOption)
{
    StringFile traceFile;
    StringFile logFile;
    StringFile bothFile;
    kestrel::COutTextArchive trace(&traceFile, kestrel::CArchive::store);
    kestrel::COutTextArchive log(&logFile, kestrel::CArchive::store);
    kestrel::COutTextArchive both(&bothFile, kestrel::CArchive::store);
    sorrel::CArchiveTraceMode mode(CTraceMode::kUnregistered, &trace, &log, &both);
    EXPECT_FALSE(mode.AutoCR());
    mode.EnableTrace(1);
    mode.EnableLog(1);
    mode.EnableTrace(2);
    mode.EnableLog(3);
    Traceln(mode, 1, "both");
    Traceln(mode, 2, "trace");
    mode.AutoCR(true);
    Traceln(mode, 3, "log");
    EXPECT_EQ(bothFile.text, "both");
    EXPECT_EQ(traceFile.text, "trace");
    EXPECT_EQ(logFile.text, "log\r\n");

    // Without a both archive, a line due to both goes to each.
    mode.SetTraceArchives(&trace, &log, nullptr);
    Traceln(mode, 1, "each");
    EXPECT_EQ(traceFile.text, "traceeach\r\n");
    EXPECT_EQ(logFile.text, "log\r\neach\r\n");
}

}  // namespace
