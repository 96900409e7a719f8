// The remote modes against a trace server of the test: login, log file and
// title records, one record per line with its kind, the server's commands,
// the level list, the answers to LOGFILE while the listener reads, the
// reconnection and its back-off, and garbage from the server.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "libsorrel/QXPRemoteTraceMode.h"
#include "libsorrel/QXRemoteTraceMode.h"
#include "libsorrel/tests/FakeTraceServer.h"
#include "libsorrel/tests/RecordingMode.h"
#include "libwicket/CListener.h"
#include "libwicket/RecordItems.h"

namespace {

using namespace std::chrono_literals;
using kestrel::test::WaitUntil;
using sorrel::CTraceMode;
using sorrel::QXPRemoteTraceMode;
using sorrel::QXRemoteTraceMode;
using sorrel::RemoteTiming;
using sorrel_test::FakeTraceServer;
using sorrel_test::RecordingMode;

RemoteTiming Fast()
{
    RemoteTiming timing;
    timing.connectAttempts = 3;
    timing.attemptPause = 20ms;
    timing.connectTimeout = 500ms;
    timing.ioTimeout = 2000ms;
    timing.firstBackoff = 50ms;
    timing.doublingLimit = 200ms;
    timing.firstConnectWait = 2000ms;
    return timing;
}

void Traceln(CTraceMode& mode, int level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    mode.Trace(level, format, args, true);
    va_end(args);
}

// A port nobody listens on: listen, note it, close.
std::string DeadService()
{
    wicket::CListener listener;
    listener.Listen(0, "127.0.0.1");
    return std::to_string(listener.Port());
}

class RemoteModeTest : public ::testing::Test {
protected:
    void SetUp() override { errors_.EnableTrace(0); }
    void TearDown() override { sorrel_test::RestoreDefaultHooks(); }

    bool ErrorReported(const std::string& text)
    {
        // The listener reports on its own thread, under the error mode's lock.
        errors_.Lock();
        const std::vector<sorrel_test::Line> lines = errors_.lines;
        errors_.Unlock();
        for (const auto& line : lines) {
            if (line.text.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    RecordingMode errors_{CTraceMode::kErrorSlot};
};

TEST_F(RemoteModeTest, ConnectsLogsInAndAsksForItsLogFile)
{
    FakeTraceServer server;
    ASSERT_TRUE(server.Listening());
    QXRemoteTraceMode mode(CTraceMode::kUnregistered, "Vorlix_2", "traces_2/Vorlix", 4, "127.0.0.1",
                           server.Service().c_str(), nullptr, true, Fast());
    ASSERT_TRUE(mode.Connected());
    EXPECT_EQ(mode.FailureState(), 0);
    ASSERT_TRUE(server.WaitForPayloads(2));
    const auto payloads = server.Payloads();
    wicket::RecordItems login(payloads[0]);
    EXPECT_EQ(login.Text(), "LOGIN");
    EXPECT_EQ(login.Text(), " ");
    EXPECT_EQ(login.Text(), "Vorlix_2");
    wicket::RecordItems logFile(payloads[1]);
    EXPECT_EQ(logFile.Text(), "LOGFILE");
    EXPECT_EQ(logFile.Text(), "\x03");
    EXPECT_EQ(logFile.Int(), 4);
    EXPECT_EQ(logFile.Text(), "\x03");
    EXPECT_EQ(logFile.Text(), "traces_2/Vorlix");

    EXPECT_TRUE(mode.SetTitle("Camera 2"));
    ASSERT_TRUE(server.WaitForPayloads(3));
    wicket::RecordItems title(server.Payloads()[2]);
    EXPECT_EQ(title.Text(), "TITLE");
    EXPECT_EQ(title.Text(), "\x03");
    EXPECT_EQ(title.Text(), "Camera 2");
}

TEST_F(RemoteModeTest, EachLineIsOneRecordWithItsKind)
{
    FakeTraceServer server;
    QXRemoteTraceMode mode(CTraceMode::kUnregistered, "t", "log", 2, "127.0.0.1", server.Service().c_str(), nullptr,
                           true, Fast());
    mode.EnableTrace(100);
    mode.EnableLog(100);
    mode.EnableTrace(241);
    mode.EnableLog(101);
    Traceln(mode, 100, "both %d", 1);
    Traceln(mode, 241, "[TRACE] trace only");
    Traceln(mode, 101, "log only");
    Traceln(mode, 102, "nowhere");
    ASSERT_TRUE(WaitUntil([&] { return server.Lines().size() >= 3; }));
    EXPECT_EQ(server.Lines(), (std::vector<std::string>{"3:both 1", "2:[TRACE] trace only", "1:log only"}));
}

TEST_F(RemoteModeTest, WithoutATraceServerTheConstructionGivesUpAndReportsTwice)
{
    RemoteTiming timing = Fast();
    timing.connectAttempts = 10;
    timing.attemptPause = 100ms;
    const auto start = std::chrono::steady_clock::now();
    QXRemoteTraceMode mode(CTraceMode::kUnregistered, "t", "log", 2, "127.0.0.1", DeadService().c_str(), nullptr, true,
                           timing);
    const auto took = std::chrono::steady_clock::now() - start;
    // Ten attempts: nine pauses between them.
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 1800ms);
    EXPECT_FALSE(mode.Connected());
    EXPECT_EQ(mode.FailureState(), 0);
    EXPECT_TRUE(ErrorReported("QXRemoteTraceMode::ResetOutput An error occured"));
    EXPECT_TRUE(ErrorReported("QXRemoteTraceMode::QXRemoteTraceMode  ResetOutput failed"));
    // Lines are dropped; no retry happens without a failed output.
    mode.EnableTrace(5);
    Traceln(mode, 5, "dropped");
    EXPECT_FALSE(mode.Connected());
}

TEST_F(RemoteModeTest, ARefusedLoginLeavesTheModeDisconnected)
{
    FakeTraceServer server({.loginReply = "NACK", .logFileReply = "ACK", .afterLogin = {}});
    QXRemoteTraceMode mode(CTraceMode::kUnregistered, "t", "log", 2, "127.0.0.1", server.Service().c_str(), nullptr,
                           true, Fast());
    EXPECT_FALSE(mode.Connected());
    EXPECT_EQ(mode.GetBasicSocket(), nullptr);
    EXPECT_TRUE(ErrorReported("QXRemoteTraceMode::ResetOutput An error occured"));
    EXPECT_TRUE(ErrorReported("qxtraced has refused the connection"));
    EXPECT_TRUE(ErrorReported("QXRemoteTraceMode::QXRemoteTraceMode  ResetOutput failed"));
}

TEST_F(RemoteModeTest, ARefusedLogFileIsReportedAndTheConnectionStays)
{
    FakeTraceServer server({.loginReply = "ACK", .logFileReply = "Directory refused", .afterLogin = {}});
    QXRemoteTraceMode mode(CTraceMode::kUnregistered, "t", "../etc/log", 2, "127.0.0.1", server.Service().c_str(),
                           nullptr, true, Fast());
    EXPECT_TRUE(mode.Connected());
    EXPECT_EQ(mode.FailureState(), 0);
    EXPECT_TRUE(ErrorReported("Unable to setup log file"));
}

TEST_F(RemoteModeTest, ACommandAheadOfTheLogFileAnswerIsCarriedOutNotTakenForTheAnswer)
{
    FakeTraceServer server({.loginReply = "ACK",
                            .logFileReply = "ACK",
                            .afterLogin = {"ENABLETRACE\x03"
                                           "241",
                                           "ENABLELOG\x03"
                                           "100"}});
    QXRemoteTraceMode mode(CTraceMode::kUnregistered, "t", "log", 2, "127.0.0.1", server.Service().c_str(), nullptr,
                           true, Fast());
    EXPECT_TRUE(mode.Connected());
    EXPECT_EQ(mode.IsTraceEnabled(241), 1);
    EXPECT_EQ(mode.IsLogEnabled(100), 1);
    EXPECT_FALSE(ErrorReported("Unable to setup log file"));

    FakeTraceServer listening({.loginReply = "ACK",
                               .logFileReply = "ACK",
                               .afterLogin = {"ENABLETRACE\x03"
                                              "242"}});
    QXPRemoteTraceMode other(CTraceMode::kUnregistered, "t", "log", 2, "127.0.0.1", listening.Service().c_str(),
                             nullptr, Fast());
    EXPECT_TRUE(other.Connected());
    EXPECT_TRUE(WaitUntil([&] { return other.IsTraceEnabled(242) == 1; }));
    EXPECT_FALSE(ErrorReported("Unable to setup log file"));
}

TEST_F(RemoteModeTest, ALostServerMarksTheOutputAndTracingReconnectsWhenItIsBack)
{
    auto server = std::make_unique<FakeTraceServer>();
    const int port = server->Port();
    QXRemoteTraceMode mode(CTraceMode::kUnregistered, "t", "log", 2, "127.0.0.1", std::to_string(port).c_str(), nullptr,
                           true, Fast());
    mode.EnableTrace(5);
    ASSERT_TRUE(mode.Connected());
    server.reset();
    // Sending into the closed connection fails within a few lines.
    for (int i = 0; i < 50 && mode.FailureState() == 0; ++i) {
        Traceln(mode, 5, "into the void %d", i);
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_NE(mode.FailureState(), 0);
    EXPECT_FALSE(mode.Connected());
    server = std::make_unique<FakeTraceServer>(FakeTraceServer::Options{}, port);
    ASSERT_TRUE(server->Listening());
    // The first retries come at once (0 and 0 seconds).
    Traceln(mode, 5, "back");
    EXPECT_TRUE(mode.Connected());
    EXPECT_EQ(mode.FailureState(), 0);
    ASSERT_TRUE(WaitUntil([&] { return !server->Lines().empty(); }));
    EXPECT_EQ(server->Lines().back(), "2:back");
}

class ListeningModeTest : public RemoteModeTest {};

TEST_F(ListeningModeTest, TheServersCommandsSwitchLevels)
{
    FakeTraceServer server;
    QXPRemoteTraceMode mode(CTraceMode::kUnregistered, "t", "log", 2, "127.0.0.1", server.Service().c_str(), nullptr,
                            Fast());
    ASSERT_TRUE(mode.Connected()) << "the constructor waits for the first connection";
    server.SendText(
        "ENABLETRACE\x03"
        "241");
    EXPECT_TRUE(WaitUntil([&] { return mode.IsTraceEnabled(241) == 1; }));
    server.SendText("ENABLETRACE");
    EXPECT_TRUE(WaitUntil([&] { return mode.IsTraceEnabled(0) == 1; }));
    server.SendText(
        "ENABLELOG\x03"
        "102");
    EXPECT_TRUE(WaitUntil([&] { return mode.IsLogEnabled(102) == 1; }));
    server.SendText(
        "DISABLETRACE\x03"
        "241");
    server.SendText(
        "DISABLELOG\x03"
        "102");
    server.SendText(
        "UNKNOWN\x03"
        "7");
    server.SendText("");
    EXPECT_TRUE(WaitUntil([&] { return mode.IsTraceEnabled(241) == 0 && mode.IsLogEnabled(102) == 0; }));
    EXPECT_EQ(mode.IsTraceEnabled(7), 0);
    // The switched level reaches the server.
    server.SendText(
        "ENABLETRACE\x03"
        "241");
    ASSERT_TRUE(WaitUntil([&] { return mode.IsTraceEnabled(241) == 1; }));
    Traceln(mode, 241, "now visible");
    EXPECT_TRUE(WaitUntil([&] { return !server.Lines().empty() && server.Lines().back() == "2:now visible"; }));
}

TEST_F(ListeningModeTest, TheLevelListIsOneRecordWithAnEntryPerDescribedLevel)
{
    FakeTraceServer server;
    QXPRemoteTraceMode mode(CTraceMode::kUnregistered, "t", "log", 2, "127.0.0.1", server.Service().c_str(), nullptr,
                            Fast());
    ASSERT_TRUE(mode.Connected());
    mode.SetLevelDescription(102, "detection", "zone matches");
    mode.SetLevelDescription(241, "trace", "threads and clients");
    mode.EnableTrace(241);
    mode.EnableLog(102);
    const std::size_t before = server.Payloads().size();
    server.SendText("LISTLEVELDESC");
    ASSERT_TRUE(server.WaitForPayloads(before + 1));
    wicket::RecordItems list(server.Payloads()[before]);
    for (const auto& [level, traceOn, logOn, value] :
         {std::tuple{102, 0, 1, std::string("detection\x03zone matches")},
          std::tuple{241, 1, 0, std::string("trace\x03threads and clients")}}) {
        EXPECT_EQ(list.Text(), "LEVELDESC");
        EXPECT_EQ(list.Text(), "\x03");
        EXPECT_EQ(list.Int(), level);
        EXPECT_EQ(list.Text(), "\x03");
        EXPECT_EQ(list.Int(), traceOn);
        EXPECT_EQ(list.Text(), "\x03");
        EXPECT_EQ(list.Int(), logOn);
        EXPECT_EQ(list.Text(), "\x03");
        EXPECT_EQ(list.Text(), value);
        EXPECT_EQ(list.Text(), "\x04");
    }
    EXPECT_THROW(list.Text(), kestrel::CArchiveException) << "two entries, no more";
}

TEST_F(ListeningModeTest, AnswersToLogFileGoToTheListenerNotToTheCaller)
{
    FakeTraceServer server;
    QXPRemoteTraceMode mode(CTraceMode::kUnregistered, "t", "log", 2, "127.0.0.1", server.Service().c_str(), nullptr,
                            Fast());
    ASSERT_TRUE(mode.Connected());
    ASSERT_TRUE(WaitUntil([&] { return server.Commands().size() >= 2; }));  // LOGIN, LOGFILE
    // A refusal, and a command right behind it: neither is lost.
    server.SetLogFileReply("NO");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(mode.SetLogFile("other", 3, false));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "the caller waited for an answer";
    server.SendText(
        "ENABLETRACE\x03"
        "9");
    EXPECT_TRUE(WaitUntil([&] { return ErrorReported("Unable to setup log file"); }));
    EXPECT_TRUE(WaitUntil([&] { return mode.IsTraceEnabled(9) == 1; }));
    EXPECT_EQ(mode.FailureState(), 0);
    EXPECT_TRUE(mode.Connected());
}

TEST_F(ListeningModeTest, ALostConnectionIsMadeAgain)
{
    FakeTraceServer server;
    QXPRemoteTraceMode mode(CTraceMode::kUnregistered, "t", "log", 2, "127.0.0.1", server.Service().c_str(), nullptr,
                            Fast());
    ASSERT_TRUE(mode.Connected());
    mode.EnableTrace(5);
    Traceln(mode, 5, "before");
    ASSERT_TRUE(WaitUntil([&] { return server.Lines().size() == 1; }));
    server.DropClient();
    EXPECT_TRUE(WaitUntil([&] { return server.Connections() == 2 && mode.Connected(); }));
    Traceln(mode, 5, "after");
    EXPECT_TRUE(WaitUntil([&] { return server.Lines().size() == 2; }));
    EXPECT_EQ(server.Lines(), (std::vector<std::string>{"2:before", "2:after"}));
}

TEST_F(ListeningModeTest, GarbageTruncatedAndOversizedRecordsFromTheServerAreRefused)
{
    FakeTraceServer server;
    QXPRemoteTraceMode mode(CTraceMode::kUnregistered, "t", "log", 2, "127.0.0.1", server.Service().c_str(), nullptr,
                            Fast());
    ASSERT_TRUE(mode.Connected());
    const std::string huge("\x00\x00\x40\x06", 4);  // 100 MiB and a bit
    const std::string notAText = wicket::RecordBuilder().Int(-1).Framed();
    const std::string truncated = wicket::RecordBuilder()
                                      .Text(
                                          "ENABLETRACE\x03"
                                          "5")
                                      .Framed()
                                      .substr(0, 9);
    int connections = 1;
    for (const std::string& bad : {huge + "xxxx", notAText, std::string("\xff\xff\xff\xff garbage")}) {
        server.SendRaw(bad);
        ++connections;
        ASSERT_TRUE(WaitUntil([&] { return server.Connections() == connections && mode.Connected(); }))
            << "no new connection after bad bytes";
    }
    // A record cut short by the end of the connection is never carried out.
    server.SendRaw(truncated);
    server.DropClient();
    ASSERT_TRUE(WaitUntil([&] { return server.Connections() == connections + 1 && mode.Connected(); }));
    EXPECT_EQ(mode.IsTraceEnabled(5), 0);
    EXPECT_TRUE(mode.ListenerRunning());
    // And the listener still obeys.
    server.SendText(
        "ENABLETRACE\x03"
        "6");
    EXPECT_TRUE(WaitUntil([&] { return mode.IsTraceEnabled(6) == 1; }));
}

TEST_F(ListeningModeTest, TracingDoesNotWaitForAConnectionBeingMade)
{
    // A peer that takes the connection and never answers the login: the
    // listener waits for the answer, tracing threads do not.
    wicket::CListener mute;
    ASSERT_TRUE(mute.Listen(0, "127.0.0.1"));
    RemoteTiming timing = Fast();
    timing.ioTimeout = 3000ms;
    timing.firstConnectWait = 0ms;
    QXPRemoteTraceMode mode(CTraceMode::kUnregistered, "t", "log", 2, "127.0.0.1", std::to_string(mute.Port()).c_str(),
                            nullptr, timing);
    wicket::AcceptedPeer peer;
    ASSERT_TRUE(WaitUntil([&] { return mute.Accept(peer) == wicket::CListener::AcceptResult::kAccepted; }));
    mode.EnableTrace(5);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) {
        Traceln(mode, 5, "while the login waits %d", i);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_FALSE(mode.Connected());
}

TEST_F(ListeningModeTest, TheBackOffDoublesFrom15To960Seconds)
{
    // The real schedule on a clock of the test's, one quick attempt a cycle.
    RemoteTiming timing;
    timing.connectAttempts = 1;
    timing.connectTimeout = 200ms;
    timing.firstConnectWait = 0ms;
    std::mutex lock;
    std::vector<long> slept;
    timing.backoffSleeper = [&](std::chrono::milliseconds delay) {
        const std::lock_guard guard(lock);
        slept.push_back(static_cast<long>(delay.count()));
        return slept.size() < 10;
    };
    QXPRemoteTraceMode mode(CTraceMode::kUnregistered, "t", "log", 2, "127.0.0.1", DeadService().c_str(), nullptr,
                            timing);
    ASSERT_TRUE(WaitUntil([&] { return !mode.ListenerRunning(); }, 10s));
    const std::lock_guard guard(lock);
    EXPECT_EQ(slept, (std::vector<long>{15000, 30000, 60000, 120000, 240000, 480000, 960000, 960000, 960000, 960000}));
}

TEST_F(ListeningModeTest, EndingTheModeEndsItsListenerWithinASecond)
{
    {
        // Waiting out a back-off of the real length.
        RemoteTiming timing;
        timing.connectAttempts = 1;
        timing.firstConnectWait = 500ms;
        auto mode = std::make_unique<QXPRemoteTraceMode>(CTraceMode::kUnregistered, "t", "log", 2, "127.0.0.1",
                                                         DeadService().c_str(), nullptr, timing);
        ASSERT_TRUE(mode->ListenerRunning());
        const auto start = std::chrono::steady_clock::now();
        mode.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    }
    {
        // Reading a live connection.
        FakeTraceServer server;
        auto mode = std::make_unique<QXPRemoteTraceMode>(CTraceMode::kUnregistered, "t", "log", 2, "127.0.0.1",
                                                         server.Service().c_str(), nullptr, Fast());
        ASSERT_TRUE(mode->Connected());
        const auto start = std::chrono::steady_clock::now();
        mode.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    }
    {
        // Between the ten connection attempts of a cycle.
        RemoteTiming timing;
        timing.firstConnectWait = 500ms;
        auto mode = std::make_unique<QXPRemoteTraceMode>(CTraceMode::kUnregistered, "t", "log", 2, "127.0.0.1",
                                                         DeadService().c_str(), nullptr, timing);
        const auto start = std::chrono::steady_clock::now();
        mode.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    }
}

}  // namespace
