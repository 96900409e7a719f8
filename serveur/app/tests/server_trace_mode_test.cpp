// The server's trace modes: the remote mode reaching a trace server with its
// name and log file, and the local modes of --trace stderr and --trace file
// with warnings always on and colour markup never printed raw.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "libsorrel/CTraceMode.h"
#include "libsorrel/tests/FakeTraceServer.h"
#include "libwicket/RecordItems.h"
#include "serveur/app/ServerPaths.h"
#include "serveur/app/TraceSetup.h"

namespace {

using namespace std::chrono_literals;
using kestrel::test::TempDir;
using vorlix::app::ApplyTraceLevel;
using vorlix::app::CreateServerTraceMode;
using vorlix::app::MakeServerPaths;
using vorlix::app::TraceOutput;

class ServerTraceTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        mode_.reset();
        ::unsetenv("QXTRACED_PORT");
        SetTraceFunction(&QXTraceNull);
        SetTracelnFunction(&QXTraceNull);
        SetCheckLevelFunction(&AlwaysTrue);
        SetEnableTraceFunction(&QXEnableTraceNull);
        SetDisableTraceFunction(&QXDisableTraceNull);
        SetEnableLogFunction(&QXEnableLogNull);
        SetDisableLogFunction(&QXDisableLogNull);
    }

    void Make(TraceOutput output, int camera = 0)
    {
        const auto paths = MakeServerPaths(dir_.Path(), camera);
        vorlix::app::CreateServerDirectories(paths);
        mode_ = CreateServerTraceMode(output, paths, note_);
        ASSERT_NE(mode_, nullptr) << note_;
    }

    TempDir dir_{"vorlix_trace_setup"};
    std::unique_ptr<sorrel::CTraceMode> mode_;
    std::string note_;
};

TEST_F(ServerTraceTest, StandardErrorShowsWarningsWhateverTheTraceLevelWithoutRawMarkup)
{
    Make(TraceOutput::kStderr);
    testing::internal::CaptureStderr();
    ApplyTraceLevel(0);
    TRACE_WARN("no camera on %s", "/dev/video0");
    TRACE_ERROR("picture not written");
    TRACE_TRACE("Thread jpg begin");
    TRACE_LEVEL(kestrel::kLevelUser2, "zone matches");
    const std::string quiet = testing::internal::GetCapturedStderr();
    EXPECT_NE(quiet.find("[WARN ] "), std::string::npos) << quiet;
    EXPECT_NE(quiet.find("): no camera on /dev/video0\n"), std::string::npos) << quiet;
    EXPECT_NE(quiet.find("[ERROR] "), std::string::npos) << quiet;
    EXPECT_EQ(quiet.find("Thread jpg begin"), std::string::npos);
    EXPECT_EQ(quiet.find("zone matches"), std::string::npos);
    EXPECT_EQ(quiet.find("COLOR"), std::string::npos) << "markup printed raw on a file";
    EXPECT_EQ(quiet.find('\x1b'), std::string::npos) << "terminal colours on a file";

    testing::internal::CaptureStderr();
    ApplyTraceLevel(3);
    TRACE_TRACE("Thread jpg begin");
    TRACE_LEVEL(kestrel::kLevelUser2, "zone matches");
    const std::string busy = testing::internal::GetCapturedStderr();
    EXPECT_NE(busy.find("Trace level activated\n"), std::string::npos);
    EXPECT_NE(busy.find("Thread jpg begin\n"), std::string::npos);
    EXPECT_NE(busy.find("zone matches\n"), std::string::npos);
    EXPECT_EQ(busy.find("zone matches\nzone matches"), std::string::npos) << "a line due to both came twice";
}

TEST_F(ServerTraceTest, FileModeWritesRotatingFilesInTheCamerasTraceDirectory)
{
    Make(TraceOutput::kFile, 2);
    ApplyTraceLevel(0);
    TRACE_WARN("disk %d%% full", 93);
    TRACE_INFO("not shown at level 0");
    const std::string written = dir_.Read("traces_2/Vorlix.0");
    EXPECT_NE(written.find("[WARN ] "), std::string::npos) << written;
    EXPECT_NE(written.find("): disk 93% full\n"), std::string::npos) << written;
    EXPECT_EQ(written.find("COLOR"), std::string::npos);
    EXPECT_EQ(written.find("not shown"), std::string::npos);
}

TEST_F(ServerTraceTest, AnUnwritableTraceDirectoryFallsBackToStandardError)
{
    // "traces" is a file here, so nothing can be made in it (even by root).
    const auto paths = MakeServerPaths(dir_.Path(), 0);
    dir_.Write("traces", "not a directory");
    mode_ = CreateServerTraceMode(TraceOutput::kFile, paths, note_);
    ASSERT_NE(mode_, nullptr);
    EXPECT_NE(note_.find("tracing to standard error instead"), std::string::npos) << note_;
    testing::internal::CaptureStderr();
    TRACE_WARN("still seen");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("still seen"), std::string::npos);
}

TEST_F(ServerTraceTest, TheRemoteModeLogsInByCameraAndAsksForItsLogFile)
{
    sorrel_test::FakeTraceServer server;
    ::setenv("QXTRACED_PORT", server.Service().c_str(), 1);
    Make(TraceOutput::kServer, 2);
    ASSERT_TRUE(server.WaitForPayloads(2));
    wicket::RecordItems login(server.Payloads()[0]);
    EXPECT_EQ(login.Text(), "LOGIN");
    EXPECT_EQ(login.Text(), " ");
    EXPECT_EQ(login.Text(), "Vorlix_2");
    wicket::RecordItems logFile(server.Payloads()[1]);
    EXPECT_EQ(logFile.Text(), "LOGFILE");
    logFile.Text();
    EXPECT_EQ(logFile.Int(), 4);
    logFile.Text();
    EXPECT_EQ(logFile.Text(), "traces_2/Vorlix");

    // The levels of "Trace level" go there; warnings are not forced on.
    ApplyTraceLevel(1);
    TRACE_WARN("seen remotely");
    TRACE_LEVEL(kestrel::kLevelUser1, "user level 1 stays off");
    EXPECT_TRUE(kestrel::test::WaitUntil([&] {
        const auto lines = server.Lines();
        return !lines.empty() && lines.back().find("seen remotely") != std::string::npos;
    }));
    for (const std::string& line : server.Lines()) {
        EXPECT_EQ(line.find("user level 1"), std::string::npos);
    }
    ApplyTraceLevel(0);
    EXPECT_EQ(mode_->IsTraceEnabled(kestrel::kLevelWarn), 0);
}

TEST_F(ServerTraceTest, WithoutATraceServerTheStartIsNotHeldUp)
{
    wicket::CListener closed;
    closed.Listen(0, "127.0.0.1");
    const std::string port = std::to_string(closed.Port());
    closed.Close();
    ::setenv("QXTRACED_PORT", port.c_str(), 1);
    const auto start = std::chrono::steady_clock::now();
    Make(TraceOutput::kServer);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    const auto stop = std::chrono::steady_clock::now();
    mode_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - stop, 1500ms) << "the listener did not end";
}

TEST(RemoteLogNameTest, RelativeToTheServersDirectory)
{
    EXPECT_EQ(vorlix::app::RemoteLogName(MakeServerPaths("/var/lib/vorlix", 0)), "traces/Vorlix");
    EXPECT_EQ(vorlix::app::RemoteLogName(MakeServerPaths("/var/lib/vorlix", 3)), "traces_3/Vorlix");
}

}  // namespace
