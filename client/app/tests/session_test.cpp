// One viewer's connection driven tick by tick against a scripted server:
// the saved password answers once per series and then the user is asked,
// "save it" keeps the typed one, live and history frames reach the window,
// a lost connection is shown once, and the server choice numbers its hosts.
#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "client/app/ViewerSession.h"
#include "client/reader/tests/ScriptedPeer.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix::client {
namespace {

namespace profile = kestrel::profile;
using kestrel::test::TempDir;
using kestrel::test::WaitUntil;
using testing::HistoryFrame;
using testing::LiveFrame;
using testing::ResponseHead;
using testing::ScriptedPeer;

class RecordingUi final : public ViewerUi {
public:
    void ShowLiveFrame(std::span<const std::uint8_t> jpeg) override { live.emplace_back(jpeg.begin(), jpeg.end()); }
    std::optional<PasswordEntry> AskPassword() override
    {
        ++asked;
        if (session != nullptr) {
            session->Tick(*this);  // the dialog's own event loop ticks meanwhile
        }
        if (answers.empty()) {
            return std::nullopt;
        }
        std::optional<PasswordEntry> answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowHistory() override { ++histories; }
    void ShowDisconnected(bool pictureWasShown) override { disconnected.push_back(pictureWasShown); }
    void ShowStatus(const std::string& text) override { statuses.push_back(text); }

    ViewerSession* session = nullptr;
    std::vector<std::string> live;
    int asked = 0;
    std::deque<std::optional<PasswordEntry>> answers;
    int histories = 0;
    std::vector<bool> disconnected;
    std::vector<std::string> statuses;
};

std::string Identity(const std::string& text)
{
    return text;
}

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Put("Host 1", "127.0.0.1");
        Put("Port 1", std::to_string(peer_.Port()));
    }
    void Put(const std::string& key, const std::string& value)
    {
        ASSERT_TRUE(profile::WriteString(ini_, "cl", key, value));
    }
    // Ticks until `done`, at most 3 s.
    bool TickUntil(const std::function<bool()>& done)
    {
        return WaitUntil([&] {
            session_.Tick(ui_);
            return done();
        });
    }
    // The answer the server should receive for `password` and `challenge`.
    static std::string Answer(const std::string& password, int challenge)
    {
        std::string scrambled;
        EXPECT_TRUE(ScramblePassword(password, std::to_string(challenge), scrambled));
        return "Password: " + scrambled + "\r\n";
    }

    TempDir dir_;
    std::string ini_ = ViewerSettings::PathIn(dir_.Path());
    ScriptedPeer peer_;
    ViewerSession session_{ViewerSettings(ini_), &Identity};
    RecordingUi ui_;
};

TEST(SessionStartTest, WithoutHostTheViewerStaysUnconnectedAndSaysSo)
{
    const TempDir dir;
    ViewerSession session(ViewerSettings(ViewerSettings::PathIn(dir.Path())), &Identity);
    EXPECT_FALSE(session.Start());
    EXPECT_FALSE(session.Connected());
    RecordingUi ui;
    session.Tick(ui);
    session.Tick(ui);
    EXPECT_EQ(ui.statuses, (std::vector<std::string>{"client is not connected", "client is not connected"}));
    EXPECT_TRUE(ui.disconnected.empty());
}

TEST_F(SessionTest, SavedPasswordAnswersOnceThenTheUserIsAsked)
{
    ASSERT_TRUE(ViewerSettings(ini_).StorePassword(1, "saved"));
    ASSERT_TRUE(session_.Start());
    ASSERT_TRUE(peer_.Accept());
    EXPECT_EQ(session_.StoredPassword(), "saved");

    peer_.Send(ResponseHead() + "AskPassword: 42\r\n");
    ASSERT_TRUE(TickUntil([&] { return session_.PasswordTried(); }));
    EXPECT_EQ(peer_.Receive(Answer("saved", 42).size()), Answer("saved", 42));
    EXPECT_EQ(ui_.asked, 0);
    EXPECT_EQ(ui_.statuses.back(),
              "The client is connected, for the moment it does not have images, check on the server that detection is "
              "launched");

    // Wrong: the second request opens the dialog; the typed one is sent.
    ui_.answers.push_back(PasswordEntry{"typed", false});
    peer_.Send("AskPassword: 42\r\n");
    ASSERT_TRUE(TickUntil([&] { return ui_.asked == 1; }));
    EXPECT_EQ(peer_.Receive(Answer("typed", 42).size()), Answer("typed", 42));

    // Typed without "save it": the saved one gets one more try first.
    peer_.Send("AskPassword: 42\r\n");
    ASSERT_TRUE(TickUntil([&] { return session_.PasswordTried(); }));
    EXPECT_EQ(peer_.Receive(Answer("saved", 42).size()), Answer("saved", 42));
    EXPECT_EQ(ui_.asked, 1);
    EXPECT_EQ(ViewerSettings(ini_).Password(1), "saved");
}

TEST_F(SessionTest, SaveItKeepsTheTypedPasswordForThisHost)
{
    ASSERT_TRUE(session_.Start());
    ASSERT_TRUE(peer_.Accept());
    ui_.session = &session_;
    ui_.answers.push_back(PasswordEntry{"typed and kept", true});
    // Two requests at once: the tick inside the open dialog must not open a
    // second one; the second request is answered after it, with the kept
    // password.
    peer_.Send(ResponseHead() + "AskPassword: -5\r\nAskPassword: -5\r\n");
    ASSERT_TRUE(TickUntil([&] { return ui_.asked == 1; }));
    ASSERT_TRUE(TickUntil([&] { return session_.PasswordTried(); }));
    EXPECT_EQ(ui_.asked, 1);
    const std::string answer = Answer("typed and kept", -5);
    EXPECT_EQ(peer_.Receive(2 * answer.size()), answer + answer);
    EXPECT_EQ(session_.StoredPassword(), "typed and kept");
    EXPECT_EQ(ViewerSettings(ini_).Password(1), "typed and kept");
}

TEST_F(SessionTest, CancelledDialogSendsNothing)
{
    ASSERT_TRUE(session_.Start());
    ASSERT_TRUE(peer_.Accept());
    peer_.Send(ResponseHead() + "AskPassword: 7\r\n");
    ASSERT_TRUE(TickUntil([&] { return ui_.asked == 1; }));
    EXPECT_EQ(peer_.Receive(1, std::chrono::milliseconds(100)), "");
}

TEST_F(SessionTest, FramesReachTheWindowAndALossIsShownOnce)
{
    ASSERT_TRUE(session_.Start());
    ASSERT_TRUE(peer_.Accept());
    peer_.Send(ResponseHead() + LiveFrame("jpeg one") + HistoryFrame(12, 500, "then", "old one"));
    ASSERT_TRUE(TickUntil([&] { return ui_.histories == 1; }));
    EXPECT_EQ(ui_.live, std::vector<std::string>{"jpeg one"});
    EXPECT_EQ(session_.PictureLength(), 8U);
    EXPECT_EQ(session_.HistoryLength(), 7U);
    ui_.statuses.clear();
    session_.Tick(ui_);
    EXPECT_TRUE(ui_.statuses.empty());  // a picture is shown: no ticker

    peer_.CloseConnection();
    ASSERT_TRUE(TickUntil([&] { return !ui_.disconnected.empty(); }));
    session_.Tick(ui_);
    session_.Tick(ui_);
    EXPECT_EQ(ui_.disconnected, std::vector<bool>{true});
    EXPECT_FALSE(session_.Connected());
    EXPECT_EQ(session_.PictureLength(), 0U);
    EXPECT_EQ(ui_.statuses.back(), "client is not connected");
}

TEST_F(SessionTest, LossBeforeAnyPictureStillGivesOpenBack)
{
    ASSERT_TRUE(session_.Start());
    ASSERT_TRUE(peer_.Accept());
    peer_.CloseConnection();
    ASSERT_TRUE(TickUntil([&] { return !ui_.disconnected.empty(); }));
    EXPECT_EQ(ui_.disconnected, std::vector<bool>{false});
}

TEST_F(SessionTest, CloseDropsTheConnectionAndForgetsTheTry)
{
    ASSERT_TRUE(ViewerSettings(ini_).StorePassword(1, "saved"));
    ASSERT_TRUE(session_.Start());
    ASSERT_TRUE(peer_.Accept());
    peer_.Send(ResponseHead() + "AskPassword: 1\r\n");
    ASSERT_TRUE(TickUntil([&] { return session_.PasswordTried(); }));
    session_.Close();
    EXPECT_FALSE(session_.Connected());
    EXPECT_FALSE(session_.PasswordTried());
    EXPECT_EQ(peer_.Receive(Answer("saved", 1).size()), Answer("saved", 1));
    EXPECT_TRUE(peer_.ClosedByViewer());
}

TEST_F(SessionTest, HistoryRequestsGoOutAsLines)
{
    ASSERT_TRUE(session_.Start());
    ASSERT_TRUE(peer_.Accept());
    session_.RequestHistory("newer");
    session_.RequestHistory("13");
    EXPECT_EQ(peer_.Receive(29), "History: newer\r\nHistory: 13\r\n");
}

TEST_F(SessionTest, ServerChoiceNumbersNewHostsAndReusesKnownOnes)
{
    const ScriptedPeer other;
    ASSERT_TRUE(session_.ConnectChosen("localhost", std::to_string(other.Port())));
    EXPECT_EQ(profile::GetString(ini_, "cl", "Host 2", ""), "localhost");
    EXPECT_EQ(profile::GetString(ini_, "cl", "Port 2", ""), std::to_string(other.Port()));

    ASSERT_TRUE(ViewerSettings(ini_).StorePassword(1, "first"));
    ASSERT_TRUE(session_.ConnectChosen("127.0.0.1", std::to_string(peer_.Port())));
    EXPECT_EQ(session_.StoredPassword(), "first");
    EXPECT_EQ(ViewerSettings(ini_).Hosts(), (std::vector<std::string>{"127.0.0.1", "localhost"}));

    // A listed host with a new port keeps its number; the port is overwritten.
    EXPECT_FALSE(session_.ConnectChosen("localhost", "1"));
    EXPECT_EQ(profile::GetString(ini_, "cl", "Port 2", ""), "1");
    EXPECT_EQ(session_.StatusText().rfind("Unable to connect to remote host (localhost:1)=", 0), 0U);
    EXPECT_EQ(session_.StoredPassword(), "first");  // host 2 has none saved: kept
}

}  // namespace
}  // namespace vorlix::client
