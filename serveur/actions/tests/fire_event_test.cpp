// FireEvent: events list and history only while the window is open, the
// sound look-up with its migration and "todefine", the replay rule, and the
// Execute command reaching a real program.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/QXTrace.h"
#include "serveur/actions/FireEvent.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
namespace profile = kestrel::profile;

namespace vorlix {
namespace {

class ListWindow final : public EventsWindow {
public:
    void AddEntry(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

class RecordingPlayer final : public SoundPlayer {
public:
    bool PlayWavFile(const std::string& name) override
    {
        played.push_back(name);
        return true;
    }
    std::vector<std::string> played;
};

class FireEventTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = temp_.Path();
        context_.settingsFile = (dir_ / "Vorlix.ini").string();
        context_.pictureDir = (dir_ / "files").string();
        context_.shots = 7;
        context_.maxJpg = 500;
        context_.width = 640;
        context_.height = 480;
        context_.camera = 2;
        firing_.SetSoundPlayer(&player_);
    }

    kestrel::test::TraceCapture traces_;
    kestrel::test::TempDir temp_{"fire_event"};
    fs::path dir_;
    EventContext context_;
    EventFiring firing_;
    RecordingPlayer player_;
    ListWindow window_;
};

TEST_F(FireEventTest, ClosedWindowAddsNoHistory)
{
    profile::WriteString(context_.settingsFile, "Vorlix Sound Management", "In zone 1", "boing1.wav");
    firing_.Fire(context_, 0, EventKind::IN, 0, 1000);
    EXPECT_EQ(firing_.History(), "");
    EXPECT_EQ(player_.played, (std::vector<std::string>{"boing1.wav"}));  // the sound still plays

    firing_.SetEventsWindow(&window_);
    firing_.Fire(context_, 1, EventKind::NEAR, 0, 1001);
    const std::string history = firing_.History();
    EXPECT_NE(history.find(" Events(7)=\"Near zone 2\"\r\n"), std::string::npos) << history;
    ASSERT_FALSE(window_.lines.empty());
    EXPECT_EQ(window_.lines[0] + "\r\n", history);

    firing_.SetEventsWindow(nullptr);
    firing_.Fire(context_, 1, EventKind::NEAR, 0, 1002);
    EXPECT_EQ(firing_.History(), history);
}

TEST_F(FireEventTest, HistoryRestartsAfterNoEvents)
{
    firing_.SetEventsWindow(&window_);
    context_.noEvents = 30;
    firing_.Fire(context_, 0, EventKind::IN, 0, 5000);
    firing_.Fire(context_, 0, EventKind::AHEAD, 0, 5030);
    std::string history = firing_.History();
    EXPECT_NE(history.find("\"In zone 1\"\r\n"), std::string::npos);
    EXPECT_NE(history.find("\"In front of zone 1\"\r\n"), std::string::npos);
    firing_.Fire(context_, 0, EventKind::ALLZ, 0, 5061);
    history = firing_.History();
    EXPECT_EQ(history.find("In zone 1"), std::string::npos);
    EXPECT_NE(history.find("\"All zones\"\r\n"), std::string::npos);
    EXPECT_EQ(firing_.LastEventTime(), 5061);
}

TEST_F(FireEventTest, MissingSoundBecomesTodefineThenNotDefine)
{
    firing_.Fire(context_, 2, EventKind::IN, 0, 100);
    EXPECT_EQ(traces_.Count("[WARN ] "), 1);
    EXPECT_EQ(traces_.Count("Sound to define (In zone 3)"), 1);
    EXPECT_EQ(profile::GetString(context_.settingsFile, "Vorlix Sound Management", "In zone 3", ""), "todefine");
    firing_.Fire(context_, 2, EventKind::IN, 0, 200);
    EXPECT_EQ(traces_.Count("Sound not define (In zone 3)"), 1);
    EXPECT_TRUE(player_.played.empty());
}

TEST_F(FireEventTest, OldKeyIsMovedToTheSoundSection)
{
    profile::WriteString(context_.settingsFile, "Vorlix", "Wav file 1 left to right", "whoosh.wav");
    firing_.SetEventsWindow(&window_);
    firing_.Fire(context_, 0, EventKind::LEFT_TO_RIGHT, 0, 100);
    EXPECT_EQ(player_.played, (std::vector<std::string>{"whoosh.wav"}));
    EXPECT_EQ(profile::GetString(context_.settingsFile, "Vorlix Sound Management", "In zone 1 left to right", ""),
              "whoosh.wav");
    EXPECT_FALSE(profile::Read(context_.settingsFile, "Vorlix", "Wav file 1 left to right").has_value());
    EXPECT_EQ(traces_.Count("Z_1_LEFT_TO_RIGHT"), 1);
    EXPECT_EQ(traces_.Count("PlaySound=whoosh.wav"), 1);
    ASSERT_EQ(window_.lines.size(), 2U);
    EXPECT_EQ(window_.lines[1], "      PlaySound=whoosh.wav");
    // ALLZ has no zone: its old key has its own name
    profile::WriteString(context_.settingsFile, "Vorlix", "Wav file all zones", "all.wav");
    firing_.Fire(context_, 4, EventKind::ALLZ, 0, 200);
    EXPECT_EQ(player_.played.back(), "all.wav");
}

TEST_F(FireEventTest, ReplayRuleAcrossZonesAndDirections)
{
    for (const char* key : {"In zone 1", "In zone 2", "In zone 1 left to right"}) {
        profile::WriteString(context_.settingsFile, "Vorlix Sound Management", key, std::string(key) + ".wav");
    }
    context_.replaySound = 15;
    firing_.Fire(context_, 0, EventKind::IN, 0, 10000);
    firing_.Fire(context_, 0, EventKind::IN, 0, 10005);
    EXPECT_EQ(player_.played.size(), 1U);
    firing_.Fire(context_, 1, EventKind::IN, 0, 10006);
    firing_.Fire(context_, 0, EventKind::IN, 0, 10007);
    EXPECT_EQ(player_.played, (std::vector<std::string>{"In zone 1.wav", "In zone 2.wav", "In zone 1.wav"}));
    firing_.Fire(context_, 0, EventKind::LEFT_TO_RIGHT, 0, 10030);
    firing_.Fire(context_, 0, EventKind::IN, 0, 10031);  // the zone was just heard
    EXPECT_EQ(player_.played.back(), "In zone 1 left to right.wav");
    EXPECT_EQ(player_.played.size(), 4U);
}

TEST_F(FireEventTest, SavedSoundsPlayAgainWithinTheReplayTime)
{
    profile::WriteString(context_.settingsFile, "Vorlix Sound Management", "In zone 1", "one.wav");
    context_.replaySound = 15;
    firing_.Fire(context_, 0, EventKind::IN, 0, 10000);
    firing_.Fire(context_, 0, EventKind::IN, 0, 10001);
    ASSERT_EQ(player_.played.size(), 1U);
    // the user saved the configuration, perhaps with another sound for the zone
    profile::WriteString(context_.settingsFile, "Vorlix Sound Management", "In zone 1", "new.wav");
    firing_.ForgetLastSound();
    firing_.Fire(context_, 0, EventKind::IN, 0, 10002);
    firing_.Fire(context_, 0, EventKind::IN, 0, 10003);
    EXPECT_EQ(player_.played, (std::vector<std::string>{"one.wav", "new.wav"}));
}

std::string WaitForFile(const fs::path& path)
{
    // the program may still be writing: wait for a complete line
    std::string text;
    kestrel::test::WaitUntil([&] {
        text = kestrel::test::ReadFile(path.string());
        return text.find('\n') != std::string::npos;
    });
    return text.find('\n') != std::string::npos ? text : std::string();
}

TEST_F(FireEventTest, ExecuteStartsTheApplicationWithTheKeywords)
{
    const fs::path script = dir_ / "report.sh";
    const fs::path out = dir_ / "args.txt";
    {
        std::ofstream file(script);
        file << "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > " << out.string() << ".part\necho >> "
             << out.string() << ".part\nmv " << out.string() << ".part " << out.string() << "\n";
    }
    fs::permissions(script, fs::perms::owner_all);
    context_.executeEnabled = true;
    context_.application = script.string();
    context_.arguments = "-f %n -z %f -c %c";
    firing_.SetEventsWindow(&window_);
    firing_.Fire(context_, 3, EventKind::ALLZ, 0, 100);
    EXPECT_EQ(WaitForFile(out), "[-f][" + context_.pictureDir + "/vorlix_7.jpg][-z][0][-c][2]\n");
    EXPECT_EQ(traces_.Count("Execute " + script.string() + " -f "), 1);
    EXPECT_EQ(window_.lines.back(),
              "      Execute=" + script.string() + " -f " + context_.pictureDir + "/vorlix_7.jpg -z 0 -c 2");

    // a single-zone event: its zone and centre; the label stays one argument text
    fs::remove(out);
    context_.zone = {10, 20, 110, 220};
    context_.centreX = 55;
    context_.centreY = 66;
    context_.arguments = "%f %a %o %x %y %w %h %W %H %e \"%E\" ; rm -rf " + dir_.string() + " %";
    firing_.Fire(context_, 1, EventKind::AHEAD, 0, 200);
    EXPECT_EQ(WaitForFile(out),
              "[2][55][66][10][20][100][200][640][480][4][In front of zone 2][;][rm][-rf][" + dir_.string() + "]\n");
    EXPECT_TRUE(fs::exists(script));

    // switched off, or no application: nothing is started
    fs::remove(out);
    context_.executeEnabled = false;
    firing_.Fire(context_, 1, EventKind::AHEAD, 0, 300);
    context_.executeEnabled = true;
    context_.application.clear();
    firing_.Fire(context_, 1, EventKind::AHEAD, 0, 400);
    EXPECT_EQ(traces_.Count("Execute "), 2);
}

TEST_F(FireEventTest, ExecuteKeepsAValueWithBlanksInOneArgument)
{
    // A picture directory "my pics" used to arrive as two arguments.
    const fs::path script = dir_ / "report.sh";
    const fs::path out = dir_ / "args.txt";
    {
        std::ofstream file(script);
        file << "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > " << out.string() << ".part\necho >> "
             << out.string() << ".part\nmv " << out.string() << ".part " << out.string() << "\n";
    }
    fs::permissions(script, fs::perms::owner_all);
    context_.pictureDir = (dir_ / "my pics").string();
    context_.executeEnabled = true;
    context_.application = script.string();
    context_.arguments = "--file=%n %E z%f \"a b\" \"\" %";
    firing_.SetEventsWindow(&window_);
    firing_.Fire(context_, 0, EventKind::IN, 0, 100);
    EXPECT_EQ(WaitForFile(out), "[--file=" + context_.pictureDir + "/vorlix_7.jpg][In zone 1][z1][a b][]\n");
    EXPECT_EQ(window_.lines.back(), "      Execute=" + script.string() + " \"--file=" + context_.pictureDir +
                                        "/vorlix_7.jpg\" \"In zone 1\" z1 \"a b\" \"\"");
    EXPECT_TRUE(firing_.Children().WaitIdle(5s));
}

TEST_F(FireEventTest, ExecuteStartsNoMoreThanMaxChildrenAndSkipsTheRest)
{
    // A slow program at a steady rate of events used to pile up children.
    const fs::path script = dir_ / "slow.sh";
    const fs::path started = dir_ / "started";
    fs::create_directory(started);
    {
        std::ofstream file(script);
        file << "#!/bin/sh\ntouch " << started.string() << "/$1\nsleep 1\n";
    }
    fs::permissions(script, fs::perms::owner_all);
    context_.executeEnabled = true;
    context_.application = script.string();
    context_.arguments = "%e-%a";
    context_.maxChildren = 3;
    firing_.SetEventsWindow(&window_);
    for (int i = 0; i < 8; ++i) {
        context_.centreX = i;
        firing_.Fire(context_, 0, EventKind::IN, 0, 1000 + i * 100);
    }
    EXPECT_EQ(firing_.Children().Running(), 3);
    EXPECT_EQ(traces_.Count("Execute skipped: 3 programs still running"), 1);  // once per busy streak
    int skippedLines = 0;
    for (const std::string& line : window_.lines) {
        skippedLines += line == "      Execute skipped (3 running)" ? 1 : 0;
    }
    EXPECT_EQ(skippedLines, 5);
    ASSERT_TRUE(firing_.Children().WaitIdle(5s));
    int ran = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(started)) {
        ++ran;
    }
    EXPECT_EQ(ran, 3);
    EXPECT_TRUE(fs::exists(started / "3-0"));
    EXPECT_FALSE(fs::exists(started / "3-3"));
    // Places free again: the next event starts its program.
    context_.centreX = 9;
    firing_.Fire(context_, 0, EventKind::IN, 0, 5000);
    EXPECT_EQ(traces_.Count("Execute starts again after 5 skipped event(s)"), 1);
    EXPECT_TRUE(firing_.Children().WaitIdle(5s));
    EXPECT_TRUE(fs::exists(started / "3-9"));
}

}  // namespace
}  // namespace vorlix
