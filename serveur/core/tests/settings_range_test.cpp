// Numeric settings out of their range or not numbers: mended at load with one warning each.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/core/CameraSettings.h"
#include "serveur/core/SettingRanges.h"
#include "serveur/core/WebCam.h"
#include "serveur/core/tests/TestSupport.h"

namespace vorlix {
namespace {

namespace prof = kestrel::profile;
using test::TempDir;
using test::TraceCapture;

struct BadValue {
    const char* key;
    const char* written;
    int expected;
};

int Loaded(const CameraSettings& s, const std::string& key)
{
    if (key == "Port Web client") {
        return s.portWebClient;
    }
    if (key == "Frequency Transfert") {
        return s.frequencyTransfert;
    }
    if (key == "Current shots") {
        return s.currentShots;
    }
    if (key == "Max jpg") {
        return s.maxJpg;
    }
    if (key == "NbSelection") {
        return s.nbSelection;
    }
    if (key == "Schedule") {
        return s.schedule;
    }
    if (key == "Noise") {
        return s.noise;
    }
    ADD_FAILURE() << "no field for " << key;
    return 0;
}

class BadSetting : public ::testing::TestWithParam<BadValue> {};

TEST_P(BadSetting, IsReplacedAndSaidOnceWithKeyValueReadAndValueUsed)
{
    const BadValue& bad = GetParam();
    TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    prof::WriteString(ini, "Vorlix", "NbSelection", "1");
    prof::WriteString(ini, "Vorlix", "xy_0", "1");
    prof::WriteString(ini, "Vorlix", bad.key, bad.written);
    TraceCapture traces;
    WebCam cam;
    cam.LoadConfiguration(0, dir.Path());
    EXPECT_EQ(Loaded(cam.SettingsCopy(), bad.key), bad.expected);
    const std::string said = std::string("\"") + bad.key + "\" of [Vorlix] = \"" + bad.written + "\"";
    EXPECT_EQ(traces.Count(said, kestrel::kLevelWarn), 1) << said;
    const std::vector<std::string> warnings = traces.MessagesAt(kestrel::kLevelWarn);
    bool valueUsed = false;
    for (const std::string& w : warnings) {
        if (w.find(said) != std::string::npos && w.find(std::to_string(bad.expected) + " used") != std::string::npos) {
            valueUsed = true;
        }
    }
    EXPECT_TRUE(valueUsed) << said;
    // The file keeps what the user wrote: only the camera's copy is mended.
    EXPECT_EQ(prof::GetString(ini, "Vorlix", bad.key, ""), bad.written);
}

INSTANTIATE_TEST_SUITE_P(
    Load, BadSetting,
    ::testing::Values(BadValue{"Port Web client", "-5", 6666}, BadValue{"Port Web client", "70000", 6666},
                      BadValue{"Port Web client", "abc", 6666}, BadValue{"Port Web client", "0", 6666},
                      BadValue{"Frequency Transfert", "-1", 100}, BadValue{"Current shots", "2147483646", 0},
                      BadValue{"Current shots", "-7", 0}, BadValue{"Max jpg", "abc", 500},
                      BadValue{"Max jpg", "-3", 500}, BadValue{"Max jpg", "0", 500},
                      BadValue{"Max jpg", "99999999999", 1000000}, BadValue{"NbSelection", "-3", 1},
                      BadValue{"NbSelection", "12", 9}, BadValue{"Schedule", "abc", 737407},
                      BadValue{"Schedule", "-1", 737407}, BadValue{"Noise", "300", 255},
                      BadValue{"Noise", "12abc", 50}));

TEST(GoodSetting, IsTakenWithoutAWord)
{
    TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    prof::WriteString(ini, "Vorlix", "NbSelection", "1");
    prof::WriteString(ini, "Vorlix", "Port Web client", " 8080 ");
    prof::WriteString(ini, "Vorlix", "Max jpg", "+3");
    prof::WriteString(ini, "Vorlix", "Frequency Transfert", "0");
    prof::WriteString(ini, "Vorlix", "Current shots", "2");
    TraceCapture traces;
    WebCam cam;
    cam.LoadConfiguration(0, dir.Path());
    const CameraSettings s = cam.SettingsCopy();
    EXPECT_EQ(s.portWebClient, 8080);
    EXPECT_EQ(s.maxJpg, 3);
    EXPECT_EQ(s.frequencyTransfert, 0);
    EXPECT_EQ(s.currentShots, 2);
    EXPECT_EQ(cam.shots.load(), 2);
    EXPECT_EQ(traces.Count("Setting \"", kestrel::kLevelWarn), 0);
}

TEST(BadZoneCount, KeepsDetectionOnOverTheWholePicture)
{
    // A zone count below 0 used to leave no zone at all: nothing was ever detected.
    TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    prof::WriteString(ini, "Vorlix", "NbSelection", "-3");
    WebCam cam;
    cam.LoadConfiguration(0, dir.Path());
    EXPECT_EQ(cam.ZoneCount(), 1);
    EXPECT_TRUE(cam.Zone(0).whole);
}

TEST(BadShotCounter, NamesThePictureOfSlotOne)
{
    // 2147483646 overflowed on the first picture; -7 named vorlix_-1.jpg.
    for (const char* written : {"2147483646", "-7"}) {
        TempDir dir;
        const std::string ini = dir.File("Vorlix.ini");
        prof::WriteString(ini, "Vorlix", "Current shots", written);
        prof::WriteString(ini, "Vorlix", "Max jpg", "5");
        WebCam cam;
        cam.LoadConfiguration(0, dir.Path());
        EXPECT_EQ(cam.shots.load(), 0) << written;
    }
}

TEST(ScheduleWordCheck, TimesBeyondADayAreNotASchedule)
{
    TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    prof::WriteString(ini, "Vorlix", "NbSelection", "1");
    prof::WriteInt(ini, "Vorlix", "Schedule", (2000 << 20) | (1080 << 9) | 62);
    TraceCapture traces;
    WebCam cam;
    cam.LoadConfiguration(0, dir.Path());
    EXPECT_EQ(cam.SettingsCopy().schedule, 737407);
    EXPECT_EQ(traces.Count("is not a schedule", kestrel::kLevelWarn), 1);

    prof::WriteInt(ini, "Vorlix", "Schedule", (510 << 20) | (1080 << 9));
    traces.Clear();
    cam.ReloadConfiguration();
    EXPECT_EQ(cam.SettingsCopy().schedule, (510 << 20) | (1080 << 9));
    EXPECT_EQ(traces.Count("selects no day", kestrel::kLevelWarn), 1);
}

TEST(FirstStartPort, CameraNGetsAPortOfItsOwn)
{
    TempDir dir;
    for (int n = 0; n <= 4; ++n) {
        WebCam cam;
        cam.LoadConfiguration(n, dir.Path());
        EXPECT_EQ(cam.SettingsCopy().portWebClient, 6666 + n) << n;
    }
    EXPECT_FALSE(prof::Read(dir.File("Vorlix.ini"), "Vorlix", "Port Web client").has_value());
    EXPECT_EQ(prof::GetInt(dir.File("Vorlix_3.ini"), "Vorlix", "Port Web client", 0), 6669);

    // A port the user chose is kept, also on a first start.
    TempDir other;
    prof::WriteInt(other.File("Vorlix_2.ini"), "Vorlix", "Port Web client", 7000);
    WebCam chosen;
    chosen.LoadConfiguration(2, other.Path());
    EXPECT_EQ(chosen.SettingsCopy().portWebClient, 7000);
    EXPECT_EQ(prof::GetInt(other.File("Vorlix_2.ini"), "Vorlix", "Port Web client", 0), 7000);

    // A bad port of camera 2 falls back to camera 2's own default.
    prof::WriteString(other.File("Vorlix_2.ini"), "Vorlix", "Port Web client", "99999");
    chosen.ReloadConfiguration();
    EXPECT_EQ(chosen.SettingsCopy().portWebClient, 6668);
}

TEST(RangeTable, EveryDefaultLiesInItsRangeAndEveryKeyIsFound)
{
    for (const IntSetting& s : IntSettings()) {
        EXPECT_LE(s.min, s.max) << s.key;
        EXPECT_GE(s.fallback, s.min) << s.key;
        EXPECT_LE(s.fallback, s.max) << s.key;
        EXPECT_EQ(&IntSettingOf(s.section, s.key), &s) << s.key;
    }
    EXPECT_EQ(IntSettingOf("VORLIX", "max jpg").fallback, 500);
    EXPECT_THROW(IntSettingOf("Vorlix", "no such key"), std::out_of_range);
}

TEST(CheckInt, RepairsEachSideAsItsEntrySays)
{
    const IntSetting clamp{"s", "k", 5, 1, 10, Repair::kClamp};
    const IntSetting def{"s", "k", 5, 1, 10, Repair::kDefault};
    const IntSetting below{"s", "k", 5, 1, 10, Repair::kDefaultBelow};
    EXPECT_EQ(CheckInt(clamp, "0", 5).value, 1);
    EXPECT_EQ(CheckInt(clamp, "11", 5).value, 10);
    EXPECT_EQ(CheckInt(def, "11", 5).value, 5);
    EXPECT_EQ(CheckInt(below, "-1", 5).value, 5);
    EXPECT_EQ(CheckInt(below, "11", 5).value, 10);
    EXPECT_EQ(CheckInt(below, "-99999999999999999999999", 5).value, 5);
    EXPECT_EQ(CheckInt(clamp, "99999999999999999999999", 5).value, 10);
    EXPECT_FALSE(CheckInt(clamp, std::nullopt, 7).mended);
    EXPECT_EQ(CheckInt(clamp, std::nullopt, 7).value, 7);
    for (const char* notNumber : {"", " ", "-", "+", "1 2", "0x10", "1.5", "ten"}) {
        const CheckedInt c = CheckInt(clamp, std::string(notNumber), 5);
        EXPECT_TRUE(c.mended) << notNumber;
        EXPECT_EQ(c.value, 5) << notNumber;
        EXPECT_EQ(c.why, "not a number");
    }
    const CheckedInt ok = CheckInt(clamp, std::string("\t7 "), 5);
    EXPECT_FALSE(ok.mended);
    EXPECT_EQ(ok.value, 7);
}

}  // namespace
}  // namespace vorlix

namespace vorlix {
namespace {

TEST(FtpPorts, OutsideTheirRangeTheyAreTheUsualPortsAndSaid)
{
    test::TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    prof::WriteString(ini, "Vorlix FTP", "Port", "70000");
    prof::WriteString(ini, "Vorlix FTP", "Proxy Port", "proxy");
    const test::TraceCapture traces;
    const FtpSettings ftp = ReadFtpSettings(ini);
    EXPECT_EQ(ftp.port, 21);
    EXPECT_EQ(ftp.proxyPort, 80);
    EXPECT_TRUE(traces.Contains("\"Port\" of [Vorlix FTP] = \"70000\"", kestrel::kLevelWarn));
    EXPECT_TRUE(traces.Contains("\"Proxy Port\" of [Vorlix FTP] = \"proxy\"", kestrel::kLevelWarn));
    prof::WriteString(ini, "Vorlix FTP", "Port", "2121");
    EXPECT_EQ(ReadFtpSettings(ini).port, 2121);
}

}  // namespace
}  // namespace vorlix
