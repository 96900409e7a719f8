// Settings file, first start, paths, schedule word, language files, thread priority.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "libkestrel/profile/Profile.h"
#include "serveur/core/CameraPaths.h"
#include "serveur/core/ScheduleWord.h"
#include "serveur/core/ThreadPriority.h"
#include "serveur/core/Translate.h"
#include "serveur/core/WebCam.h"
#include "serveur/core/tests/TestSupport.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix {
namespace {

namespace prof = kestrel::profile;
using test::TempDir;
using test::TraceCapture;

TEST(FirstStart, EmptyDirectoryGetsExactlyTheFirstStartKeys)
{
    TempDir dir;
    WebCam cam;
    cam.LoadConfiguration(0, dir.Path());
    const std::string ini = dir.File("Vorlix.ini");
    ASSERT_TRUE(std::filesystem::exists(ini));
    EXPECT_EQ(prof::SectionNames(ini),
              (std::vector<std::string>{"Vorlix", "Vorlix Sound Management", "Vorlix Audio Management"}));
    EXPECT_EQ(prof::KeyNames(ini, "Vorlix"), (std::vector<std::string>{"NbSelection", "xy_0", "Auto Start Detection"}));
    EXPECT_EQ(prof::KeyNames(ini, "Vorlix Sound Management"), (std::vector<std::string>{"In zone 1", "Replay Sound"}));
    EXPECT_EQ(prof::GetString(ini, "Vorlix Sound Management", "In zone 1", ""), "boing1.wav");
    EXPECT_EQ(prof::GetInt(ini, "Vorlix Sound Management", "Replay Sound", 0), 15);
    EXPECT_EQ(prof::KeyNames(ini, "Vorlix Audio Management"),
              (std::vector<std::string>{"management", "device in", "device out", "min time", "max time",
                                        "no activity time"}));
    EXPECT_EQ(prof::GetInt(ini, "Vorlix Audio Management", "max time", 0), 600);
    const CameraSettings s = cam.SettingsCopy();
    EXPECT_EQ(s.autoStartDetection, 1);
    EXPECT_EQ(s.portWebClient, 6666);
    EXPECT_EQ(s.maxJpg, 500);
    EXPECT_EQ(s.schedule, 737407);
    EXPECT_EQ(prof::GetInt(ini, "Vorlix Audio Management", "no activity time", 0), 10);
    EXPECT_EQ(cam.ZoneCount(), 1);
    EXPECT_TRUE(cam.Zone(0).whole);
    EXPECT_FALSE(s.priority.has_value());

    // A second start writes nothing new.
    const std::string before = dir.Read("Vorlix.ini");
    WebCam again;
    again.LoadConfiguration(0, dir.Path());
    EXPECT_EQ(dir.Read("Vorlix.ini"), before);
}

TEST(CameraLayout, CameraNumberChoosesFilesAndDirectories)
{
    TempDir dir;
    const CameraPaths p = MakeCameraPaths(dir.Path(), 3);
    EXPECT_EQ(p.settingsFile, dir.File("Vorlix_3.ini"));
    EXPECT_EQ(p.tracesDir, dir.File("traces_3"));
    EXPECT_EQ(p.traceBase, dir.File("traces_3/Vorlix"));
    EXPECT_EQ(p.filesDir, dir.File("files_3"));
    PrepareCameraDirectories(p, p.filesDir);
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("traces_3")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("files_3")));

    const CameraPaths zero = MakeCameraPaths(dir.Path(), 0);
    EXPECT_EQ(zero.settingsFile, dir.File("Vorlix.ini"));
    EXPECT_EQ(zero.tracesDir, dir.File("traces"));
    EXPECT_EQ(zero.filesDir, dir.File("files"));
    EXPECT_EQ(CameraFromArgument("3"), 3);
    EXPECT_EQ(CameraFromArgument("0"), 0);
    EXPECT_EQ(CameraFromArgument("abc"), 0);
    EXPECT_EQ(CameraFromArgument(nullptr), 0);

    WebCam cam;
    cam.LoadConfiguration(3, dir.Path());
    EXPECT_TRUE(std::filesystem::exists(dir.File("Vorlix_3.ini")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("Vorlix.ini")));
    EXPECT_EQ(cam.PictureDir(), dir.File("files_3"));
    prof::WriteString(dir.File("Vorlix_3.ini"), "Vorlix", "FilePath", "/srv/pics");
    cam.LoadConfiguration(3, dir.Path());
    EXPECT_EQ(cam.PictureDir(), "/srv/pics");
}

TEST(CameraLayout, IndexPageCopiedWithoutOverwriting)
{
    TempDir dir;
    std::filesystem::create_directory(dir.File("files_1"));
    {
        std::ofstream(dir.File("index.php")) << "parent";
    }
    const CameraPaths p = MakeCameraPaths(dir.Path(), 1);
    PrepareCameraDirectories(p, p.filesDir);
    EXPECT_EQ(dir.Read("files_1/index.php"), "parent");
    {
        std::ofstream(dir.File("index.php")) << "newer";
    }
    PrepareCameraDirectories(p, p.filesDir);
    EXPECT_EQ(dir.Read("files_1/index.php"), "parent");
}

TEST(GeneralKeys, ValuesAndLimits)
{
    TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    prof::WriteInt(ini, "Vorlix", "Quality jpg", 150);
    prof::WriteInt(ini, "Vorlix", "Port Web client", 7000);
    prof::WriteInt(ini, "Vorlix", "Current shots", 42);
    prof::WriteInt(ini, "Vorlix", "Priority", 3);
    std::string scrambled;
    ASSERT_TRUE(ScramblePassword("secret", "Authentification client", scrambled));
    prof::WriteString(ini, "Vorlix", "Authentification client", scrambled);
    WebCam cam;
    cam.LoadConfiguration(0, dir.Path());
    CameraSettings s = cam.SettingsCopy();
    EXPECT_EQ(s.qualityJpg, 100);
    EXPECT_EQ(s.portWebClient, 7000);
    EXPECT_EQ(cam.shots.load(), 42);
    EXPECT_EQ(s.priority, 3);
    EXPECT_EQ(s.authentificationClient, "secret");
    EXPECT_EQ(NormalisedJpegQuality(-1), 100);
    EXPECT_EQ(NormalisedJpegQuality(99), 99);
    EXPECT_EQ(NormalisedJpegQuality(0), 0);

    cam.shots.store(1234);
    cam.SaveShotCounter();
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "Current shots", 0), 234);
}

TEST(SoundMigration, OldWavKeysMoveToSoundSection)
{
    TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    prof::WriteInt(ini, "Vorlix", "NbSelection", 1);
    prof::WriteString(ini, "Vorlix", "Wav file 1", "old1.wav");
    prof::WriteString(ini, "Vorlix", "Wav file", "old.wav");
    WebCam cam;
    cam.LoadConfiguration(0, dir.Path());
    EXPECT_EQ(prof::GetString(ini, "Vorlix Sound Management", "In zone 1", ""), "old1.wav");
    EXPECT_FALSE(prof::Read(ini, "Vorlix", "Wav file 1").has_value());
    EXPECT_EQ(prof::GetString(ini, "Vorlix", "Wav file", ""), "old.wav");  // one move per load

    TempDir other;
    const std::string ini2 = other.File("Vorlix.ini");
    prof::WriteInt(ini2, "Vorlix", "NbSelection", 1);
    prof::WriteString(ini2, "Vorlix", "Wav file", "old.wav");
    WebCam cam2;
    cam2.LoadConfiguration(0, other.Path());
    EXPECT_EQ(prof::GetString(ini2, "Vorlix Sound Management", "In zone", ""), "old.wav");
    EXPECT_FALSE(prof::Read(ini2, "Vorlix", "Wav file").has_value());
}

TEST(ZoneLoading, TooManyZonesAndWildCornersAreMended)
{
    TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    prof::WriteInt(ini, "Vorlix", "NbSelection", 12);
    prof::WriteInt(ini, "Vorlix", "x0_0", -5);
    prof::WriteInt(ini, "Vorlix", "y0_0", 10);
    prof::WriteInt(ini, "Vorlix", "x1_0", 9000);
    prof::WriteInt(ini, "Vorlix", "y1_0", 20);
    prof::WriteInt(ini, "Vorlix", "x0_9", 1);  // slot 9 is never a zone
    TraceCapture traces;
    WebCam cam;
    cam.LoadConfiguration(0, dir.Path());
    EXPECT_EQ(cam.ZoneCount(), 9);
    EXPECT_EQ(cam.Zone(0), (ZoneCorners{0, 10, 0, 20, false}));
    EXPECT_EQ(cam.Zone(9), ZoneCorners{});
    bool nbTraced = false, cornerTraced = false;
    for (const auto& l : traces.Take()) {
        if (l.text.find("\"NbSelection\" of [Vorlix] = \"12\" is outside 0..9: 9 used") != std::string::npos) {
            nbTraced = true;
        }
        if (l.text.find("Zone 1 corners -5,10 9000,20 outside 0..4096 taken as 0,10 0,20") != std::string::npos) {
            cornerTraced = true;
        }
    }
    EXPECT_TRUE(nbTraced);
    EXPECT_TRUE(cornerTraced);
}

TEST(ZoneSaving, WritesZonesAndDeletesTheRest)
{
    TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    prof::WriteInt(ini, "Vorlix", "NbSelection", 3);
    for (int i = 0; i < 3; ++i) {
        prof::WriteInt(ini, "Vorlix", "x1_" + std::to_string(i), 5);
    }
    WebCam cam;
    cam.LoadConfiguration(0, dir.Path());
    cam.SetCaptureRunning(true);
    ASSERT_TRUE(cam.ResizeBuffers(100, 50));
    cam.SetZone(0, {0, 0, 100, 50, false});
    cam.SetZone(1, {10, 10, 20, 20, false});
    cam.SetZoneCount(2);
    cam.SaveZones();
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "NbSelection", 0), 2);
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "xy_0", -1), 1);
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "xy_1", -1), 0);
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "x1_1", 0), 20);
    for (const char* k : {"x0_2", "y0_2", "x1_2", "y1_2", "xy_2"}) {
        EXPECT_FALSE(prof::Read(ini, "Vorlix", k)) << k;
    }
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "window top", 0), 251);
}

TEST(ScheduleWordTest, DecodeAndEncode)
{
    const ScheduleWord all = DecodeScheduleWord(737407);
    EXPECT_EQ(all.days, 0x7F);
    EXPECT_FALSE(all.outside);
    EXPECT_EQ(all.beginMinutes, 0);
    EXPECT_EQ(all.endMinutes, 1440);
    EXPECT_EQ(EncodeScheduleWord(all), 737407);
    EXPECT_EQ(ScheduleTimeText(all.endMinutes), "24:00");

    ScheduleWord office;
    office.days = 0x3E;  // Monday to Friday
    office.beginMinutes = ParseScheduleTime("08:30");
    office.endMinutes = ParseScheduleTime("18");
    EXPECT_EQ(EncodeScheduleWord(office), (510 << 20) | (1080 << 9) | 62);
    EXPECT_EQ(DecodeScheduleWord(EncodeScheduleWord(office)), office);
    EXPECT_EQ(ScheduleTimeText(510), "08:30");

    ScheduleWord late;
    late.endMinutes = 2000;
    late.outside = true;
    EXPECT_EQ(DecodeScheduleWord(EncodeScheduleWord(late)).endMinutes, 1440);
    EXPECT_TRUE(DecodeScheduleWord(EncodeScheduleWord(late)).outside);
    EXPECT_EQ(ParseScheduleTime("30:00"), 1440);
}

TEST(LanguageFiles, EscapingAndDecoding)
{
    EXPECT_EQ(EscapeKey("A=B"), "A%3dB");
    EXPECT_EQ(EscapeKey("50%\r\n"), "50%25%0d%0a");
    EXPECT_EQ(UnescapeValue("Moteur+en+marche"), "Moteur en marche");
    EXPECT_EQ(UnescapeValue("%e0 %41"), "\xE0 A");
    EXPECT_EQ(UnescapeValue("100%"), "100%");  // a cut escape stays as it is
}

TEST(LanguageFiles, TranslateLooksUpEscapedKeyAndRecordsMissingTexts)
{
    TempDir dir;
    prof::WriteString(dir.File("fr.ini"), "msgstr", "A%3dB", "A+egal+%e0+B");
    Language fr(dir.Path(), "fr");
    EXPECT_EQ(fr.Translate("A=B"), "A egal \xE0 B");
    EXPECT_EQ(fr.Translate("Motion is OFF"), "Motion is OFF");
    EXPECT_EQ(prof::GetString(dir.File("lang.ini"), "fr", "Motion is OFF", ""), "to traduct...");

    Language en(dir.Path(), "en");
    EXPECT_EQ(en.Translate("Motion is ON"), "Motion is ON");
    EXPECT_FALSE(prof::Read(dir.File("lang.ini"), "en", "Motion is ON").has_value());
}

TEST(LanguageFiles, LanguageFromSettingsElseLocale)
{
    TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    prof::WriteString(ini, "Vorlix", "LANG", "de");
    EXPECT_EQ(LanguageFromSettings(ini), "de");
    prof::WriteString(ini, "Vorlix", "LANG", "");
    ::setenv("LC_ALL", "it_IT.UTF-8", 1);
    EXPECT_EQ(LanguageFromSettings(ini), "it");
    ::setenv("LC_ALL", "pt_BR.UTF-8", 1);
    EXPECT_EQ(LanguageFromSettings(ini), "en");
    ::unsetenv("LC_ALL");
}

TEST(ThreadPriorityTest, NiceOfCallingThread)
{
    EXPECT_EQ(NiceFromPriority(1), 15);
    EXPECT_EQ(NiceFromPriority(4), 0);
    EXPECT_EQ(NiceFromPriority(7), -15);
    TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    const int before = ::getpriority(PRIO_PROCESS, tid);
    EXPECT_TRUE(SetThreadPriorityFromIni(ini, "Vorlix Client"));  // absent: unchanged
    EXPECT_EQ(::getpriority(PRIO_PROCESS, tid), before);
    prof::WriteInt(ini, "Vorlix FTP", "Priority", 1);
    std::thread worker([&] {
        const auto wtid = static_cast<id_t>(::syscall(SYS_gettid));
        // The scale is absolute: idle is nice 15 whatever the process was started with;
        // only a process already nicer than that may be refused the step back.
        if (SetThreadPriorityFromIni(ini, "Vorlix FTP")) {
            EXPECT_EQ(::getpriority(PRIO_PROCESS, wtid), 15);
        } else {
            EXPECT_GT(before, 15);
        }
    });
    worker.join();
    EXPECT_EQ(::getpriority(PRIO_PROCESS, tid), before);  // other threads untouched
}

}  // namespace
}  // namespace vorlix

namespace vorlix {
namespace {

TEST(Reload, NewKeysAreTakenAndTheRunningShotCounterStays)
{
    test::TempDir dir;
    WebCam cam;
    cam.LoadConfiguration(2, dir.Path());
    cam.shots.store(37);  // pictures taken since the counter was last saved
    const std::string ini = dir.File("Vorlix_2.ini");
    prof::WriteInt(ini, "Vorlix", "Current shots", 5);
    prof::WriteInt(ini, "Vorlix", "Quality jpg", 75);
    prof::WriteInt(ini, "Vorlix", "Noise", 12);
    prof::WriteInt(ini, "Vorlix", "Port Web client", 7001);
    cam.ReloadConfiguration();
    EXPECT_EQ(cam.shots.load(), 37);
    EXPECT_EQ(cam.Noise(), 12);
    const CameraSettings s = cam.SettingsCopy();
    EXPECT_EQ(s.qualityJpg, 75);
    EXPECT_EQ(s.portWebClient, 7001);
    EXPECT_EQ(cam.SettingsFile(), ini);
    EXPECT_EQ(cam.Paths().camera, 2);

    // A fresh load takes the saved counter.
    WebCam fresh;
    fresh.LoadConfiguration(2, dir.Path());
    EXPECT_EQ(fresh.shots.load(), 5);
}

}  // namespace
}  // namespace vorlix
