// The trace server's protocol without sockets: login first, lines printed
// and logged by kind, log files confined to the log directory and shared by
// name, level commands and level lists, and bad records refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "libwicket/ProtoRecord.h"
#include "libwicket/RecordItems.h"
#include "tools/qxtraced/LogPath.h"
#include "tools/qxtraced/Options.h"
#include "tools/qxtraced/TraceSession.h"

namespace {

using kestrel::test::TempDir;
using qxtraced::LogFiles;
using qxtraced::ProtocolError;
using qxtraced::TraceSession;
using wicket::RecordBuilder;

std::string Login(const std::string& name)
{
    return RecordBuilder().Text("LOGIN").Text(" ").Text(name).Framed();
}
std::string Line(char kind, const std::string& text)
{
    return RecordBuilder().Char(kind).Text(text).Framed();
}
std::string LogFile(const std::string& name, int slices)
{
    return RecordBuilder().Text("LOGFILE").Text("\x03").Int(slices).Text("\x03").Text(name).Framed();
}
// The texts of the one-text records in `bytes`.
std::vector<std::string> Replies(const std::string& bytes)
{
    wicket::RecordReader reader;
    reader.Feed(bytes);
    std::vector<std::string> texts;
    std::string payload;
    while (reader.Next(payload)) {
        texts.push_back(wicket::RecordItems(payload).Text());
    }
    return texts;
}

class SessionTest : public ::testing::Test {
protected:
    TraceSession& Make(const std::string& peer = "127.0.0.1:40000")
    {
        TraceSession::Events events;
        events.print = [this](const TraceSession& s, const std::string& line) {
            printed_.push_back(s.Title() + ": " + line);
        };
        events.notice = [this](const TraceSession& s, const std::string& text) {
            notices_.push_back(s.Title() + ": " + text);
        };
        sessions_.push_back(std::make_unique<TraceSession>(peer, logs_, std::move(events)));
        return *sessions_.back();
    }

    TempDir dir_{"qxtraced_session"};
    LogFiles logs_{dir_.Path()};
    std::vector<std::unique_ptr<TraceSession>> sessions_;
    std::vector<std::string> printed_;
    std::vector<std::string> notices_;
};

TEST_F(SessionTest, LoginIsAnsweredWithAck)
{
    TraceSession& s = Make();
    s.Receive(Login("Vorlix_2"));
    EXPECT_TRUE(s.LoggedIn());
    EXPECT_EQ(s.Name(), "Vorlix_2");
    EXPECT_EQ(Replies(s.TakeOutgoing()), std::vector<std::string>{"ACK"});
    EXPECT_TRUE(s.TakeOutgoing().empty());
}

TEST_F(SessionTest, LinesArePrintedAndLoggedByTheirKind)
{
    TraceSession& s = Make();
    s.Receive(Login("Vorlix") + LogFile("traces/Vorlix", 4));
    EXPECT_EQ(Replies(s.TakeOutgoing()), (std::vector<std::string>{"ACK", "ACK"}));
    s.Receive(RecordBuilder().Text("TITLE").Text("\x03").Text("Camera 0").Framed());
    s.Receive(Line(2, "trace only") + Line(1, "log only") + Line(3, "both"));
    EXPECT_EQ(printed_, (std::vector<std::string>{"Camera 0: trace only", "Camera 0: both"}));
    EXPECT_EQ(dir_.Read("traces/Vorlix.0"), "log only\nboth\n");
    EXPECT_EQ(s.LogPath(), dir_.File("traces/Vorlix"));
    EXPECT_EQ(s.Lines(), 3u);
}

TEST_F(SessionTest, RecordsMayArriveInAnyPieces)
{
    TraceSession& s = Make();
    const std::string stream = Login("a") + Line(2, "one") + Line(2, "two");
    for (const char byte : stream) {
        s.Receive(std::string_view(&byte, 1));
    }
    EXPECT_EQ(printed_, (std::vector<std::string>{"a: one", "a: two"}));
}

TEST_F(SessionTest, LogFileNamesStayInsideTheLogDirectory)
{
    TraceSession& s = Make();
    s.Receive(Login("x") + LogFile("../../../tmp/escape", 2) + Line(1, "a"));
    EXPECT_EQ(s.LogPath(), dir_.File("tmp/escape"));
    EXPECT_EQ(dir_.Read("tmp/escape.0"), "a\n");
    s.Receive(LogFile("/etc/passwd", 2) + Line(1, "b"));
    EXPECT_EQ(s.LogPath(), dir_.File("etc/passwd"));
    EXPECT_EQ(dir_.Read("etc/passwd.0"), "b\n");
    s.Receive(LogFile("traces\\Vorlix", 2));
    EXPECT_EQ(s.LogPath(), dir_.File("traces/Vorlix"));
    s.TakeOutgoing();
    // Nothing usable left: refused, and the log lines are dropped.
    s.Receive(LogFile("../..", 2) + Line(1, "c"));
    EXPECT_EQ(Replies(s.TakeOutgoing()), std::vector<std::string>{"REFUSED"});
    EXPECT_TRUE(s.LogPath().empty());
}

TEST_F(SessionTest, ASymbolicLinkIsNotFollowedOutOfTheDirectory)
{
    const TempDir outside("qxtraced_outside");
    ASSERT_EQ(::symlink(outside.Path().c_str(), dir_.File("link").c_str()), 0);
    TraceSession& s = Make();
    s.Receive(Login("x") + LogFile("link/log", 2) + Line(1, "kept out"));
    EXPECT_EQ(Replies(s.TakeOutgoing()), (std::vector<std::string>{"ACK", "REFUSED"}));
    EXPECT_EQ(outside.Read("log.0"), "");
}

TEST_F(SessionTest, TwoClientsOfOneLogFileShareItsSlices)
{
    TraceSession& a = Make();
    TraceSession& b = Make();
    a.Receive(Login("a") + LogFile("shared", 2) + Line(1, "from a"));
    b.Receive(Login("b") + LogFile("shared", 2) + Line(1, "from b"));
    a.Receive(Line(1, "a again"));
    EXPECT_EQ(logs_.OpenFiles(), 1u);
    EXPECT_EQ(dir_.Read("shared.0"), "from a\nfrom b\na again\n");
    sessions_.clear();
    EXPECT_EQ(logs_.OpenFiles(), 0u);
}

TEST_F(SessionTest, CommandsCarryTheirLevelAfterEtx)
{
    TraceSession& s = Make();
    s.Receive(Login("x"));
    s.TakeOutgoing();
    s.SendCommand("ENABLETRACE", "241");
    s.SendCommand("LISTLEVELDESC");
    EXPECT_EQ(Replies(s.TakeOutgoing()), (std::vector<std::string>{"ENABLETRACE\x03"
                                                                   "241",
                                                                   "LISTLEVELDESC"}));
}

TEST_F(SessionTest, LevelListsArePrintedEntryByEntry)
{
    TraceSession& s = Make();
    s.Receive(Login("cam"));
    s.SendCommand("LISTLEVELDESC");
    RecordBuilder list;
    for (const auto& [level, traceOn, logOn, value] :
         {std::tuple{102, 0, 1, "detection\x03zone matches"}, std::tuple{241, 1, 0, "trace\x03"}}) {
        list.Text("LEVELDESC").Text("\x03").Int(level).Text("\x03").Int(traceOn).Text("\x03").Int(logOn);
        list.Text("\x03").Text(value).Text("\x04");
    }
    s.Receive(list.Framed());
    s.SendCommand("LISTLEVELDESC");
    s.Receive(RecordBuilder().Framed());  // no described levels
    EXPECT_EQ(notices_,
              (std::vector<std::string>{"cam: level 102 trace off, log on: detection - zone matches",
                                        "cam: level 241 trace on, log off: trace", "cam: no described levels"}));
}

TEST_F(SessionTest, BadRecordsEndTheSession)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a line before login", Line(2, "x")},
        {"another record before login", RecordBuilder().Text("TITLE").Framed()},
        {"a 100 MB record", std::string("\x00\x00\x40\x06", 4) + "xxxx"},
        {"a text running past its record", std::string("\x03\x00\x00\x00\x09"
                                                       "ab",
                                                       7)},
        {"a second login", Login("a") + Login("b")},
        {"a broken level list", Login("a") + RecordBuilder().Text("LEVELDESC").Text("\x03").Framed()},
    };
    for (const auto& [what, bytes] : cases) {
        TraceSession& s = Make();
        EXPECT_THROW(s.Receive(bytes), ProtocolError) << what;
    }
    // A truncated record waits for the rest; nothing is printed meanwhile.
    TraceSession& s = Make();
    const std::string line = Line(2, "not yet");
    s.Receive(Login("a") + line.substr(0, line.size() - 2));
    EXPECT_TRUE(printed_.empty());
}

TEST(LogPathTest, NamesAreConfined)
{
    EXPECT_EQ(qxtraced::ConfineLogName("/srv/logs", "traces_2/Vorlix"), "/srv/logs/traces_2/Vorlix");
    EXPECT_EQ(qxtraced::ConfineLogName("/srv/logs", "a/./b//c"), "/srv/logs/a/b/c");
    EXPECT_EQ(qxtraced::ConfineLogName("", "x"), "./x");
    EXPECT_EQ(qxtraced::ConfineLogName("/srv/logs", ""), std::nullopt);
    EXPECT_EQ(qxtraced::ConfineLogName("/srv/logs", "a\nb"), std::nullopt);
    EXPECT_EQ(qxtraced::ConfineLogName("/srv/logs", std::string(2000, 'a')), std::nullopt);
}

TEST(OptionsTest, CommandLine)
{
    std::string error;
    const std::vector<std::string> args = {"--port", "0",  "-d", "/tmp/l",  "-e",    "241", "--disable-log", "100",
                                           "--list", "-m", "3",  "--color", "never", "-b",  "0.0.0.0"};
    const auto line = qxtraced::ParseCommandLine(args, error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(line->server.port, 0);
    EXPECT_EQ(line->server.logDirectory, "/tmp/l");
    EXPECT_EQ(line->server.bind, "0.0.0.0");
    EXPECT_EQ(line->server.maxClients, 3u);
    EXPECT_EQ(line->colour, qxtraced::ColourChoice::kNever);
    using Command = std::pair<std::string, std::string>;
    EXPECT_EQ(line->server.loginCommands,
              (std::vector<Command>{{"ENABLETRACE", "241"}, {"DISABLELOG", "100"}, {"LISTLEVELDESC", ""}}));
    EXPECT_EQ(qxtraced::ParseCommandLine(std::vector<std::string>{}, error)->server.port, 5370);

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--port", "70000"}, {"-e", "256"}, {"-e"}, {"--frobnicate"}, {"--color", "pink"}, {"-m", "0"}}) {
        EXPECT_FALSE(qxtraced::ParseCommandLine(bad, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
