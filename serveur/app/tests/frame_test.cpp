// The server frame without a window: command line, paths, schedule, device
// open and close, tray status, program end.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/QXTrace.h"
#include "serveur/app/CommandLine.h"
#include "serveur/app/ScheduleCheck.h"
#include "serveur/app/ServerApp.h"
#include "serveur/app/TraceSetup.h"
#include "serveur/app/TrayText.h"
#include "serveur/app/tests/AppDoubles.h"

namespace fs = std::filesystem;
using namespace vorlix::app;
using namespace vorlix::app::testing;

namespace {

constexpr int kWeekdays8To18 = (480 << 20) | (1080 << 9) | 0x3E;

}  // namespace

TEST(CommandLineTest, CameraNumberFollowsAtoiAndOptionsAreSkipped)
{
    auto parse = [](std::vector<std::string> a) { return ParseCommandLine(a); };
    EXPECT_EQ(parse({"3"}).camera, 3);
    EXPECT_EQ(parse({"--headless", "3"}).camera, 3);
    EXPECT_TRUE(parse({"--headless", "3"}).headless);
    EXPECT_EQ(parse({"0"}).camera, 0);
    EXPECT_EQ(parse({"letters"}).camera, 0);
    EXPECT_EQ(parse({}).camera, 0);
    EXPECT_EQ(parse({"-2"}).camera, 0);
    EXPECT_EQ(parse({"4x"}).camera, 4);
    EXPECT_EQ(parse({"5"}).camera, 5);
    EXPECT_EQ(parse({"--verbose"}).trace, TraceOutput::kStderr);
    EXPECT_EQ(parse({"--trace", "file", "2"}).trace, TraceOutput::kFile);
    EXPECT_EQ(parse({"--trace", "file", "2"}).camera, 2);
    EXPECT_EQ(parse({"--trace=stderr"}).trace, TraceOutput::kStderr);
    EXPECT_EQ(parse({"3"}).trace, TraceOutput::kServer);
    EXPECT_FALSE(parse({"--trace", "syslog"}).error.empty());
    EXPECT_FALSE(parse({"--trace"}).error.empty());
}

TEST(CommandLineTest, HelpVersionAndPasswordAreCommandsAndUnknownOptionsErrors)
{
    auto parse = [](std::vector<std::string> a) { return ParseCommandLine(a); };
    // "-h" used to be taken as camera 0 and start a server in the current directory.
    EXPECT_EQ(parse({"-h"}).command, Command::kHelp);
    EXPECT_EQ(parse({"--help"}).command, Command::kHelp);
    EXPECT_EQ(parse({"--version", "--help"}).command, Command::kHelp);
    EXPECT_EQ(parse({"--version"}).command, Command::kVersion);
    EXPECT_EQ(parse({"3"}).command, Command::kRun);
    const CommandLine password = parse({"--set-password", "2"});
    EXPECT_EQ(password.command, Command::kSetPassword);
    EXPECT_EQ(password.camera, 2);
    EXPECT_TRUE(password.error.empty());
    EXPECT_EQ(parse({"--set-password"}).camera, 0);
    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {"--hepl"}, {"-x"}, {"--headless", "--port=7000"}, {"-"}, {"1", "2"}, {"--help", "--bogus"}}) {
        const CommandLine line = parse(wrong);
        EXPECT_FALSE(line.error.empty()) << wrong.back();
    }
    EXPECT_EQ(parse({"--hepl"}).error, "unknown option \"--hepl\"");
    EXPECT_TRUE(parse({"-2"}).error.empty());  // a number, camera 0
    const std::string usage = UsageText("vorlix");
    for (const char* option : {"--help", "--version", "--set-password", "--trace", "--headless", "CAMERA"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(VersionText().rfind("vorlix ", 0), 0U);
    EXPECT_NE(VersionText(), "vorlix unknown\n");
}

TEST(ServerPathsTest, CameraThreeHasItsOwnFilesAndCameraZeroTheDefaults)
{
    const ServerPaths three = MakeServerPaths("/w", 3);
    EXPECT_EQ(three.settingsFile, "/w/Vorlix_3.ini");
    EXPECT_EQ(three.traceDir, "/w/traces_3");
    EXPECT_EQ(three.traceBase, "/w/traces_3/Vorlix");
    EXPECT_EQ(three.pictureDir, "/w/files_3");
    EXPECT_EQ(three.traceName, "Vorlix_3");
    const ServerPaths zero = MakeServerPaths("/w", 0);
    EXPECT_EQ(zero.settingsFile, "/w/Vorlix.ini");
    EXPECT_EQ(zero.traceBase, "/w/traces/Vorlix");
    EXPECT_EQ(zero.pictureDir, "/w/files");
    EXPECT_EQ(zero.traceName, "Vorlix");
}

TEST(ScheduleTest, DecodesPackedValuesAndAnswersByDayAndTime)
{
    const ScheduleRange all = DecodeSchedule(737407);
    EXPECT_EQ(all.days, 0x7Fu);
    EXPECT_FALSE(all.outside);
    EXPECT_EQ(all.begin, 0);
    EXPECT_EQ(all.end, 1440);
    EXPECT_EQ(EncodeSchedule({0x3E, false, 510, 1080}), (510 << 20) | (1080 << 9) | 62);
    EXPECT_EQ(EncodeSchedule({0x3E, false, 510, 5000}), EncodeSchedule({0x3E, false, 510, 1440}));

    auto at = [](int wday, int h, int m) {
        std::tm t{};
        t.tm_wday = wday;
        t.tm_hour = h;
        t.tm_min = m;
        return t;
    };
    EXPECT_FALSE(CameraWanted(kWeekdays8To18, at(6, 10, 0)));  // Saturday
    EXPECT_FALSE(CameraWanted(kWeekdays8To18, at(0, 10, 0)));  // Sunday
    EXPECT_TRUE(CameraWanted(kWeekdays8To18, at(1, 8, 0)));    // begin is inside
    EXPECT_TRUE(CameraWanted(kWeekdays8To18, at(5, 18, 0)));   // end is inside
    EXPECT_FALSE(CameraWanted(kWeekdays8To18, at(5, 18, 1)));
    const int outside = kWeekdays8To18 | 0x80;
    EXPECT_TRUE(CameraWanted(outside, at(2, 7, 59)));
    EXPECT_FALSE(CameraWanted(outside, at(2, 12, 0)));
    EXPECT_FALSE(CameraWanted(outside, at(6, 7, 0)));  // the day bit still counts
    EXPECT_TRUE(CameraWanted(737407, at(6, 23, 59)));
}

TEST(TrayTextTest, FollowsClientsCaptureAndDetection)
{
    auto tray = [](const TrayState& s, int n = 0) {
        return MakeTrayStatus(s, n, [](std::string_view t) { return std::string(t); });
    };
    EXPECT_EQ(tray({false, 0, false, false, false, {}, {}}).text, "close");
    EXPECT_EQ(tray({false, 0, false, false, false, {}, {}}, 2).icon, 143);

    TrayStatus s = tray({true, 1, true, false, false, {}, {}});
    EXPECT_EQ(s.text, "1 client\nVorlix is OFF");
    EXPECT_EQ(s.icon, 136);
    s = tray({true, 3, true, true, false, {}, {}}, 4);
    EXPECT_EQ(s.text, "3 clients\nMotion is OFF");
    EXPECT_EQ(s.icon, 140);
    s = tray({true, 2, true, true, true, {}, {}});
    EXPECT_EQ(s.text, "2 clients");

    s = tray({true, 0, true, true, true, {}, {}}, 4);
    EXPECT_EQ(s.text, "no client");
    EXPECT_EQ(s.icon, 150);
    s = tray({true, 0, false, false, true, {}, {}}, 4);
    EXPECT_EQ(s.text, "Remote Access is OFF\nVorlix is OFF");
    EXPECT_EQ(s.icon, 145);
    s = tray({true, 0, true, true, false, {}, {}});
    EXPECT_EQ(s.text, "no client\nMotion is OFF");
    EXPECT_EQ(s.icon, 141);

    // A source that sends nothing is said rather than "watching".
    s = tray({true, 0, true, true, true, true, {}});
    EXPECT_EQ(s.text, "no client\nNo picture from the camera");
    EXPECT_EQ(s.icon, 141);
    s = tray({true, 2, true, true, true, true, {}});
    EXPECT_EQ(s.text, "2 clients\nNo picture from the camera");
    s = tray({true, 0, true, false, true, true, {}});
    EXPECT_EQ(s.text, "no client\nVorlix is OFF");
}

TEST(TrayTextTest, LostPicturesAreSaidWhateverElseTheLineSays)
{
    const auto tr = [](std::string_view t) {
        return t == "Pictures not written" ? std::string("Bilder nicht geschrieben") : std::string(t);
    };
    TrayStatus s = MakeTrayStatus({true, 0, true, true, true, false, "No space left on device"}, 0, tr);
    EXPECT_EQ(s.text, "no client\nBilder nicht geschrieben (No space left on device)");
    EXPECT_EQ(s.icon, 146);
    s = MakeTrayStatus({true, 2, true, true, false, false, "Permission denied"}, 1, tr);
    EXPECT_EQ(s.text, "2 clients\nMotion is OFF\nBilder nicht geschrieben (Permission denied)");
    EXPECT_EQ(MakeTrayStatus({false, 0, false, false, false, false, "x"}, 0, tr).text, "close");
}

TEST(TrayTextTest, EveryWordIsTranslated)
{
    const TrayStatus s = MakeTrayStatus({true, 2, true, false, false, {}, {}}, 0, [](std::string_view t) {
        return t == "clients"         ? std::string("Klienten")
               : t == "Vorlix is OFF" ? std::string("Vorlix AUS")
                                      : std::string(t);
    });
    EXPECT_EQ(s.text, "2 Klienten\nVorlix AUS");
}

TEST(ServerStartTest, CameraFiveIsRefusedWithMaxFourAndExitsZero)
{
    Harness h(5);
    const std::optional<int> code = h.app->Start();
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0);
    ASSERT_EQ(h.messages.boxes.size(), 1u);
    EXPECT_EQ(h.messages.boxes[0].text, "max=4");
    EXPECT_EQ(h.messages.boxes[0].caption, "threshold Vorlix");
    EXPECT_EQ(h.cam.builtFor, -1);
    EXPECT_FALSE(fs::exists(h.dir.path / "traces_5"));
    EXPECT_TRUE(h.app->Exiting());
}

TEST(ServerStartTest, CameraThreeUsesItsSettingsAndDirectories)
{
    Harness h(3);
    EXPECT_FALSE(h.app->Start().has_value());
    EXPECT_EQ(h.cam.builtFor, 3);
    EXPECT_EQ(h.cam.builtSettings, (h.dir.path / "Vorlix_3.ini").string());
    EXPECT_TRUE(fs::is_directory(h.dir.path / "traces_3"));
    EXPECT_TRUE(fs::is_directory(h.dir.path / "files_3"));
    EXPECT_EQ(h.app->Tray().icon, 144);  // off until the first schedule check
}

TEST(ServerStartTest, FirstScheduleCheckAfterOneSecondThenEveryMinute)
{
    Harness h;
    ASSERT_FALSE(h.app->Start().has_value());
    EXPECT_EQ(h.app->LastScheduleDelayMs(), kFirstScheduleDelayMs);
    EXPECT_FALSE(h.cam.capturing);
    h.app->OnScheduleTimer();
    EXPECT_TRUE(h.cam.capturing);
    EXPECT_EQ(h.app->LastScheduleDelayMs(), kScheduleDelayMs);
    EXPECT_EQ(h.cam.thresholdCalls, 1);
    h.app->OnScheduleTimer();  // already running: nothing reopened
    EXPECT_EQ(h.cam.startCaptureCalls, 1);
    h.app->ReloadConfiguration();
    EXPECT_EQ(h.cam.reloads, 1);
    EXPECT_EQ(h.app->LastScheduleDelayMs(), kReconfiguredDelayMs);
}

TEST(ServerStartTest, SaturdayOutsideWeekdayScheduleLeavesDeviceClosed)
{
    Harness h(0, FixedClock(6, 10, 0));
    h.cam.schedule = kWeekdays8To18;
    ASSERT_FALSE(h.app->Start().has_value());
    h.app->OnScheduleTimer();
    EXPECT_FALSE(h.cam.capturing);
    EXPECT_EQ(h.cam.startCaptureCalls, 0);
    const TrayStatus tray = h.app->Tray();
    EXPECT_NE(tray.text.find("Vorlix is OFF"), std::string::npos);
    EXPECT_EQ(tray.icon, kIconOff);
}

TEST(ServerStartTest, ScheduleClosesARunningDeviceWhenTheRangeEnds)
{
    Harness h(0, FixedClock(6, 10, 0));
    ASSERT_FALSE(h.app->Start().has_value());
    h.app->OpenDevice();
    h.cam.schedule = kWeekdays8To18;
    h.cam.shots = 1234;
    h.app->OnScheduleTimer();
    EXPECT_FALSE(h.cam.capturing);
    EXPECT_EQ(kestrel::profile::GetInt((h.dir.path / "Vorlix.ini").string(), "Vorlix", "Current shots", -1), 234);
}

TEST(ServerStartTest, AutoStartZeroOpensWithDetectionOff)
{
    Harness h;
    h.cam.autoStart = false;
    ASSERT_FALSE(h.app->Start().has_value());
    h.app->OnScheduleTimer();
    EXPECT_TRUE(h.cam.capturing);
    EXPECT_FALSE(h.cam.detection);
    EXPECT_TRUE(h.app->DetectionStopped());
    EXPECT_EQ(h.app->Tray().text, "no client\nMotion is OFF");
    h.app->DetectionStart();
    EXPECT_TRUE(h.cam.detection);
    EXPECT_EQ(h.app->Tray().text, "no client");
    EXPECT_EQ(h.app->Tray().icon, kIconWatching);
    h.app->DetectionStop();
    EXPECT_FALSE(h.cam.detection);
}

TEST(ServerStartTest, UnavailableDeviceShowsTheBoxAndIsRetriedByTheSchedule)
{
    Harness h;
    h.cam.captureOk = false;
    ASSERT_FALSE(h.app->Start().has_value());
    h.app->OnScheduleTimer();
    h.app->OnScheduleTimer();
    EXPECT_EQ(h.cam.startCaptureCalls, 2);
    ASSERT_EQ(h.messages.boxes.size(), 2u);
    EXPECT_EQ(h.messages.boxes[0].text, "Connection on video device \n unavailable!!");
    EXPECT_EQ(h.messages.boxes[0].caption, "Device Error");
    EXPECT_FALSE(h.app->Exiting());
}

TEST(ServerStartTest, StreamStartFailureWarnsAndTheServerGoesOn)
{
    Harness h;
    h.cam.streamStartOk = false;
    ASSERT_FALSE(h.app->Start().has_value());
    ASSERT_EQ(h.messages.boxes.size(), 1u);
    EXPECT_EQ(h.messages.boxes[0].text, "error during server installation");
    EXPECT_EQ(h.messages.boxes[0].caption, "Server warning");
    h.app->OnScheduleTimer();
    EXPECT_TRUE(h.cam.capturing);
    EXPECT_NE(h.app->Tray().text.find("Remote Access is OFF"), std::string::npos);
}

TEST(ServerStartTest, NoStreamWithoutClientAccess)
{
    Harness h;
    h.cam.clientAccess = false;
    ASSERT_FALSE(h.app->Start().has_value());
    EXPECT_FALSE(h.cam.streaming);
    EXPECT_TRUE(h.messages.boxes.empty());
}

TEST(MenuCommandsTest, SaveImageAndReferenceImageReachTheCamera)
{
    Harness h;
    ASSERT_FALSE(h.app->Start().has_value());
    h.app->SaveImage();
    h.app->CreateReferenceImage();
    EXPECT_EQ(h.cam.saveRequests, 1);
    EXPECT_EQ(h.cam.referenceResets, 1);
}

TEST(ProgramEndTest, ExitClosesSavesShotsAndDestroysTheCamera)
{
    Harness h;
    h.cam.shots = 507;
    ASSERT_FALSE(h.app->Start().has_value());
    h.app->OnScheduleTimer();
    h.app->Exit();
    EXPECT_TRUE(h.app->Exiting());
    EXPECT_FALSE(h.cam.capturing);
    EXPECT_TRUE(h.cam.destroyed);
    EXPECT_FALSE(h.cam.streaming);
    EXPECT_FALSE(h.app->ScheduleDue().has_value());
    EXPECT_EQ(kestrel::profile::GetInt((h.dir.path / "Vorlix.ini").string(), "Vorlix", "Current shots", -1), 7);
    EXPECT_EQ(h.app->Tray().text, "close");
}

TEST(ProgramEndTest, APictureWrittenWhileTheCaptureStopsIsCountedInTheSavedCounter)
{
    // Its file is on disk: a counter saved without it would have the next
    // start write over that picture.
    Harness h;
    h.cam.shots = 11;
    h.cam.shotsOnStop = 12;
    ASSERT_FALSE(h.app->Start().has_value());
    h.app->OnScheduleTimer();
    h.app->Exit();
    EXPECT_EQ(kestrel::profile::GetInt((h.dir.path / "Vorlix.ini").string(), "Vorlix", "Current shots", -1), 12);
}

TEST(ProgramEndTest, AFailingDeviceCloseDoesNotStopTheEnd)
{
    Harness h;
    h.cam.stopThrows = true;
    h.cam.maxJpg = 0;  // a zero slot count must not divide by zero
    h.cam.shots = 42;
    ASSERT_FALSE(h.app->Start().has_value());
    h.app->OnScheduleTimer();
    EXPECT_NO_THROW(h.app->Exit());
    EXPECT_TRUE(h.cam.destroyed);
    EXPECT_EQ(kestrel::profile::GetInt((h.dir.path / "Vorlix.ini").string(), "Vorlix", "Current shots", -1), 42);
}
