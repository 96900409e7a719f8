// The configuration dialog's settings without any window: what the pages show
// on opening, and "save" into the settings file with its rules (passwords,
// times, the remote directory, the picture directory, old sound keys), the
// order in which the running server is reached, and failures said in words.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/app/ConfigTable.h"
#include "serveur/app/SaveConfiguration.h"
#include "serveur/core/ScheduleWord.h"
#include "serveur/core/WebCam.h"
#include "serveur/mail/MailSettings.h"
#include "serveur/scrambler/PasswordScrambler.h"
#include "serveur/web/WebSettings.h"

namespace {

using namespace vorlix::app;
namespace prof = kestrel::profile;
using vorlix::ScramblePassword;
using vorlix::UnscramblePassword;

constexpr const char* kMain = "Vorlix";
constexpr const char* kFtp = "Vorlix FTP";
constexpr const char* kMail = "Vorlix MAIL";

std::string Scrambled(const std::string& plain, const std::string& key)
{
    std::string out;
    EXPECT_TRUE(ScramblePassword(plain, key, out));
    return out;
}

std::string Plain(const std::string& file, const char* section, const char* key, const char* keyText)
{
    std::string out;
    const std::string stored = prof::GetString(file, section, key, "");
    return UnscramblePassword(stored, keyText, out) ? out : "<unreadable>";
}

// Every key of every section, as stored.
std::map<std::string, std::string> AllKeys(const std::string& file)
{
    std::map<std::string, std::string> keys;
    for (const std::string& section : prof::SectionNames(file)) {
        for (const std::string& key : prof::KeyNames(file, section)) {
            std::string name = section;
            name.append("/").append(key);
            keys[name] = prof::Read(file, section, key).value_or("<absent>");
        }
    }
    return keys;
}

class ConfigSave : public ::testing::Test {
protected:
    kestrel::test::TempDir dir{"vorlix_config"};
    std::string ini = (std::filesystem::path(dir.Path()) / "Vorlix.ini").string();

    FormContext Context(bool gst = true) const
    {
        FormContext c;
        c.workDir = dir.Path();
        c.pictureDir = dir.Path() + "/files";
        c.gstBuild = gst;
        return c;
    }
    ConfigForm Open(bool gst = true) const { return ReadConfigForm(ini, Context(gst)); }
    SaveResult Save(const ConfigForm& form, SaveTarget* target = nullptr)
    {
        return SaveConfiguration(ini, form, std::nullopt, target);
    }

    // A file as a user of some years would have it: every page filled, both
    // passwords and the mail password set.
    void WriteFullFile()
    {
        const std::map<std::pair<std::string, std::string>, std::string> keys = {
            {{kMain, "ResizeVideo"}, "1"},
            {{kMain, "VideoURI"}, "rtsp://127.0.0.1:8554/cam"},
            {{kMain, "FilePath"}, "/srv/pictures"},
            {{kMain, "Max jpg"}, "200"},
            {{kMain, "Quality jpg"}, "75"},
            {{kMain, "Client access"}, "1"},
            {{kMain, "Port Web client"}, "7001"},
            {{kMain, "Refresh Picture"}, "30"},
            {{kMain, "Frequency Transfert"}, "250"},
            {{kMain, "Auto Start Detection"}, "1"},
            {{kMain, "Noise"}, "40"},
            {{kMain, "MaxDiff"}, "800"},
            {{kMain, "Schedule"}, std::to_string((510 << 20) | (1080 << 9) | 62)},
            {{kMain, "Trace level"}, "2"},
            {{kMain, "follow detection"}, "1"},
            {{kMain, "NbSelection"}, "2"},
            {{kMain, "x0_1"}, "10"},
            {{"Vorlix Sound Management", "In zone 1"}, "boing1.wav"},
            {{"Vorlix Sound Management", "All zones"}, "all.wav"},
            {{"Vorlix Audio Management", "management"}, "1"},
            {{"Vorlix Audio Management", "device in"}, "2"},
            {{"Vorlix Audio Management", "device out"}, "1"},
            {{"Vorlix Audio Management", "min time"}, "5"},
            {{"Vorlix Audio Management", "max time"}, "600"},
            {{"Vorlix Audio Management", "no activity time"}, "10"},
            {{kFtp, "management"}, "1"},
            {{kFtp, "Server"}, "127.0.0.1"},
            {{kFtp, "RemoteDir"}, "pub/"},
            {{kFtp, "Login"}, "cam"},
            {{kFtp, "Port"}, "2121"},
            {{kFtp, "ifproxy"}, "0"},
            {{kFtp, "Proxy"}, ""},
            {{kFtp, "Proxy Port"}, "80"},
            {{kMail, "management"}, "1"},
            {{kMail, "SMTP"}, "127.0.0.1"},
            {{kMail, "Port"}, "2525"},
            {{kMail, "From"}, "cam@vorlix.test"},
            {{kMail, "To"}, "owner@vorlix.test"},
            {{kMail, "CC"}, ""},
            {{kMail, "SizeMax"}, "300"},
            {{kMail, "Subject"}, "Someone"},
            {{kMail, "ifjpg"}, "1"},
            {{kMail, "Sensibility"}, "2"},
            {{kMail, "Security"}, "1"},
            {{kMail, "Login"}, "mailer"},
            {{kMail, "Polling"}, "3600"},
            {{"Vorlix Execute", "management"}, "1"},
            {{"Vorlix Execute", "application"}, "/usr/bin/logger"},
            {{"Vorlix Execute", "arguments"}, "-t vorlix %n"},
        };
        for (const auto& [where, value] : keys) {
            ASSERT_TRUE(prof::WriteString(ini, where.first, where.second, value));
        }
        prof::WriteString(ini, kMain, "Authentification client", Scrambled("secret", "Authentification client"));
        prof::WriteString(ini, kFtp, "Password", Scrambled("ftp-pass", "Password"));
        ASSERT_TRUE(vorlix::StoreMailPassword(ini, "mail-pass"));
    }
};

TEST_F(ConfigSave, OpeningAndSavingUnchangedKeepsEveryKeyAndAllThreePasswords)
{
    WriteFullFile();
    const auto before = AllKeys(ini);
    const ConfigForm form = Open();
    EXPECT_EQ(form.Value(kMain, "Authentification client", FieldKind::kPassword), kPasswordPlaceholder);
    EXPECT_EQ(form.Value(kFtp, "Password", FieldKind::kPassword), kPasswordPlaceholder);
    EXPECT_EQ(form.Value(kMail, "Password", FieldKind::kPassword), kPasswordPlaceholder);

    ASSERT_TRUE(Save(form).Saved());
    const auto after = AllKeys(ini);
    for (const auto& [key, value] : before) {
        ASSERT_TRUE(after.contains(key)) << key << " was removed";
        EXPECT_EQ(after.at(key), value) << key;
    }
    EXPECT_EQ(Plain(ini, kMain, "Authentification client", "Authentification client"), "secret");
    EXPECT_EQ(Plain(ini, kFtp, "Password", "Password"), "ftp-pass");
    EXPECT_EQ(vorlix::LoadMailSettings(ini).password, "mail-pass");
}

TEST_F(ConfigSave, AnEmptiedPasswordKeepsTheStoredOneAndANewOneIsStoredScrambled)
{
    WriteFullFile();
    ConfigForm form = Open();
    form.Set(kMain, "Authentification client", "", FieldKind::kPassword);
    form.Set(kFtp, "Password", "new ftp", FieldKind::kPassword);
    form.Set(kMail, "Password", "", FieldKind::kPassword);
    ASSERT_TRUE(Save(form).Saved());
    EXPECT_EQ(Plain(ini, kMain, "Authentification client", "Authentification client"), "secret");
    EXPECT_NE(prof::GetString(ini, kFtp, "Password", ""), "new ftp") << "never stored in plain text";
    EXPECT_EQ(Plain(ini, kFtp, "Password", "Password"), "new ftp");
    EXPECT_EQ(vorlix::LoadMailSettings(ini).password, "mail-pass");

    // No password stored: the field opens empty, not with the placeholder.
    prof::DeleteKey(ini, kMain, "Authentification client");
    EXPECT_EQ(Open().Value(kMain, "Authentification client", FieldKind::kPassword), "");
}

TEST_F(ConfigSave, APasswordTooLongToScrambleIsRefusedInWordsAndTheStoredOneKept)
{
    WriteFullFile();
    ConfigForm form = Open();
    form.Set(kMain, "Authentification client", std::string(vorlix::kMaxPlainLength + 1, 'x'), FieldKind::kPassword);
    const SaveResult result = Save(form);
    ASSERT_EQ(result.failures.size(), 1u);
    EXPECT_NE(result.failures[0].find("too long"), std::string::npos) << result.failures[0];
    EXPECT_EQ(Plain(ini, kMain, "Authentification client", "Authentification client"), "secret");
}

TEST_F(ConfigSave, APasswordThatWouldNotComeBackIsRefusedInWords)
{
    WriteFullFile();
    ConfigForm form = Open();
    form.Set(kMain, "Authentification client", "caf\xc3\xa9", FieldKind::kPassword);
    form.Set(kFtp, "Password", "tab\there", FieldKind::kPassword);
    form.Set(kMail, "Password", "caf\xc3\xa9", FieldKind::kPassword);
    const SaveResult result = Save(form);
    ASSERT_EQ(result.failures.size(), 3u);
    EXPECT_EQ(result.failures[0],
              "The viewers' password may hold printable ASCII characters only; the stored one is kept");
    EXPECT_NE(result.failures[1].find("The FTP password"), std::string::npos) << result.failures[1];
    EXPECT_NE(result.failures[2].find("The mail password"), std::string::npos) << result.failures[2];
    EXPECT_EQ(Plain(ini, kMain, "Authentification client", "Authentification client"), "secret");
    EXPECT_EQ(Plain(ini, kFtp, "Password", "Password"), "ftp-pass");
    EXPECT_EQ(vorlix::LoadMailSettings(ini).password, "mail-pass");
}

TEST_F(ConfigSave, QualityIsWrittenAsTypedAndTheCameraTakesAtMostOneHundred)
{
    ConfigForm form = Open();
    form.Set(kMain, "Quality jpg", "150");
    ASSERT_TRUE(Save(form).Saved());
    EXPECT_EQ(prof::GetString(ini, kMain, "Quality jpg", ""), "150");
    vorlix::WebCam cam;
    cam.LoadConfiguration(0, dir.Path());
    EXPECT_EQ(cam.SettingsCopy().qualityJpg, 100);
}

TEST_F(ConfigSave, PlannerTimesAreHoursWithOptionalMinutesCappedAtAWholeDay)
{
    ConfigForm form = Open();
    EXPECT_EQ(form.Value(kMain, "Schedule", FieldKind::kBegin), "00:00") << "default: all day";
    EXPECT_EQ(form.Value(kMain, "Schedule", FieldKind::kEnd), "24:00");
    form.Set(kMain, "Schedule", "8", FieldKind::kBegin);
    form.Set(kMain, "Schedule", "25:30", FieldKind::kEnd);
    ASSERT_TRUE(Save(form).Saved());
    const vorlix::ScheduleWord word = vorlix::DecodeScheduleWord(prof::GetInt(ini, kMain, "Schedule", 0));
    EXPECT_EQ(word.beginMinutes, 480);
    EXPECT_EQ(word.endMinutes, 1440);
    EXPECT_EQ(Open().Value(kMain, "Schedule", FieldKind::kBegin), "08:00");

    // Monday to Friday, 08:30 to 18:00, inside the selection.
    form = Open();
    for (const ConfigField& f : ConfigFields()) {
        if (f.kind == FieldKind::kDay) {
            form.values[static_cast<std::size_t>(&f - ConfigFields().data())] = f.bit >= 1 && f.bit <= 5 ? "1" : "0";
        }
    }
    form.Set(kMain, "Schedule", "0", FieldKind::kOutside);
    form.Set(kMain, "Schedule", "08:30", FieldKind::kBegin);
    form.Set(kMain, "Schedule", "18", FieldKind::kEnd);
    ASSERT_TRUE(Save(form).Saved());
    EXPECT_EQ(prof::GetInt(ini, kMain, "Schedule", 0), (510 << 20) | (1080 << 9) | 62);
}

TEST_F(ConfigSave, RemoteDirectoryEndsInASlash)
{
    EXPECT_EQ(RemoteDirText("pub"), "pub/");
    EXPECT_EQ(RemoteDirText("pub/"), "pub/");
    EXPECT_EQ(RemoteDirText(""), "/");
    ConfigForm form = Open();
    form.Set(kFtp, "RemoteDir", "pub");
    ASSERT_TRUE(Save(form).Saved());
    EXPECT_EQ(prof::GetString(ini, kFtp, "RemoteDir", ""), "pub/");
}

TEST_F(ConfigSave, UntickingMailWritesZeroAndTheOtherMailKeysAllTheSame)
{
    WriteFullFile();
    ConfigForm form = Open();
    form.Set(kMail, "management", "0", FieldKind::kCheck);
    form.Set(kMail, "Subject", "Changed");
    form.Set(kMail, "Security", "2", FieldKind::kChoice);
    ASSERT_TRUE(Save(form).Saved());
    EXPECT_EQ(prof::GetString(ini, kMail, "management", ""), "0");
    EXPECT_EQ(prof::GetString(ini, kMail, "Subject", ""), "Changed");
    EXPECT_EQ(prof::GetString(ini, kMail, "Security", ""), "2");
    EXPECT_FALSE(vorlix::MailEnabled(ini));
}

TEST_F(ConfigSave, SavingAFileWithoutMailKeysKeepsTheMailDefaults)
{
    ASSERT_TRUE(Save(Open()).Saved());
    const vorlix::MailSettings mail = vorlix::LoadMailSettings(ini);
    EXPECT_EQ(mail.sizeMax, 500) << "not an empty text read as 0 KiB";
    EXPECT_EQ(mail.port, 25);
    EXPECT_EQ(mail.sensibility, 1);
    EXPECT_EQ(mail.subject, "Detection mouvement Vorlix");
    EXPECT_FALSE(mail.management);
    EXPECT_EQ(prof::GetInt(ini, kFtp, "Port", 0), 21);
    EXPECT_EQ(prof::GetInt(ini, kFtp, "Proxy Port", 0), 80);
    EXPECT_EQ(prof::GetInt(ini, kMain, "Port Web client", 0), 6666);
    EXPECT_EQ(prof::GetInt(ini, kMain, "Schedule", 0), vorlix::kDefaultSchedule);
}

TEST_F(ConfigSave, TheWebViewFieldsShowTheirDefaultsAndReachTheWebView)
{
    FormContext third = Context();
    third.camera = 2;
    ConfigForm form = ReadConfigForm(ini, third);
    EXPECT_EQ(form.Value("Vorlix Web", "Port"), "8082") << "a port of its own per camera";
    EXPECT_EQ(form.Value("Vorlix Web", "fps"), "5");
    EXPECT_EQ(form.Value("Vorlix Web", "management", FieldKind::kCheck), "0");
    form.Set("Vorlix Web", "management", "1", FieldKind::kCheck);
    form.Set("Vorlix Web", "Port", "8443");
    form.Set("Vorlix Web", "Max viewers", "7");
    form.Set("Vorlix Web", "Bind", "127.0.0.1");
    ASSERT_TRUE(Save(form).Saved());
    const vorlix::web::WebSettings web = vorlix::web::ReadWebSettings(ini, 2);
    EXPECT_TRUE(web.management);
    EXPECT_EQ(web.port, 8443);
    EXPECT_EQ(web.maxViewers, 7);
    EXPECT_EQ(web.bind, "127.0.0.1");
    EXPECT_EQ(web.fps, 5);
    EXPECT_FALSE(web.Https());
}

// Each page's values, set to something other than what they held, come back
// from the file as set: the whole table is walked, in both builds.
TEST_F(ConfigSave, EveryFieldOfEveryPageRoundTripsThroughTheFile)
{
    for (const bool gst : {true, false}) {
        SCOPED_TRACE(gst ? "vorlix" : "vorlix_vfw");
        std::filesystem::remove(ini);
        ConfigForm form = Open(gst);
        const auto fields = ConfigFields();
        std::map<std::size_t, std::string> passwords;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const ConfigField& f = fields[i];
            std::string& v = form.values[i];
            switch (f.kind) {
                case FieldKind::kCheck:
                case FieldKind::kDay:
                case FieldKind::kOutside:
                    v = v == "1" ? "0" : "1";
                    break;
                case FieldKind::kNumber:
                    v = std::to_string(100 + static_cast<int>(i));
                    break;
                case FieldKind::kChoice:
                    v = v == "2" ? "1" : "2";
                    break;
                case FieldKind::kBegin:
                    v = "07:15";
                    break;
                case FieldKind::kEnd:
                    v = "19:45";
                    break;
                case FieldKind::kPassword:
                    v = "pw" + std::to_string(i);
                    passwords[i] = v;
                    break;
                case FieldKind::kText:
                    v = std::string(f.key) == "VideoURI" ? "http://127.0.0.1:9/cam.mjpg" : "text " + std::to_string(i);
                    if (std::string(f.key) == "RemoteDir") {
                        v += "/";
                    }
                    break;
            }
        }
        ASSERT_TRUE(Save(form).Saved());
        const ConfigForm back = Open(gst);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const ConfigField& f = fields[i];
            SCOPED_TRACE(std::string(f.section) + "/" + f.key + " control " + std::to_string(f.control));
            if (!FieldShown(f, gst)) {
                continue;
            }
            if (f.kind == FieldKind::kPassword) {
                EXPECT_EQ(back.values[i], kPasswordPlaceholder);
                continue;
            }
            EXPECT_EQ(back.values[i], form.values[i]);
        }
        EXPECT_EQ(Plain(ini, kMain, "Authentification client", "Authentification client"),
                  passwords.at(FieldIndex(kMain, "Authentification client", FieldKind::kPassword)));
        EXPECT_EQ(Plain(ini, kFtp, "Password", "Password"),
                  passwords.at(FieldIndex(kFtp, "Password", FieldKind::kPassword)));
        EXPECT_EQ(vorlix::LoadMailSettings(ini).password,
                  passwords.at(FieldIndex(kMail, "Password", FieldKind::kPassword)));
    }
}

TEST_F(ConfigSave, TheBuildDecidesBetweenResizeVideoAndFrequency)
{
    ConfigForm form = Open(false);
    EXPECT_EQ(form.Value(kMain, "Frequency"), "90") << "the default of the one table of ranges";
    form.Set(kMain, "Frequency", "120");
    form.Set(kMain, "ResizeVideo", "1");
    form.Set(kMain, "VideoURI", "clip.mp4");
    ASSERT_TRUE(Save(form).Saved());
    EXPECT_EQ(prof::GetString(ini, kMain, "Frequency", ""), "120");
    EXPECT_FALSE(prof::Read(ini, kMain, "ResizeVideo")) << "vorlix_vfw has no such field";
    EXPECT_FALSE(prof::Read(ini, kMain, "VideoURI"));
}

TEST_F(ConfigSave, VideoAddressPlainPathBecomesAFileAddress)
{
    EXPECT_EQ(NormaliseVideoUri("rtsp://cam.local:554/live", "/w"), "rtsp://cam.local:554/live");
    EXPECT_EQ(NormaliseVideoUri("  http://127.0.0.1/cam  ", "/w"), "http://127.0.0.1/cam");
    EXPECT_EQ(NormaliseVideoUri("file:///srv/a.mp4", "/w"), "file:///srv/a.mp4");
    EXPECT_EQ(NormaliseVideoUri("/srv/clips/a.mp4", "/w"), "file:///srv/clips/a.mp4");
    EXPECT_EQ(NormaliseVideoUri("my clip.mp4", "/w"), "file:///w/my%20clip.mp4");
    EXPECT_EQ(NormaliseVideoUri("a#b?.mp4", "/w"), "file:///w/a%23b%3F.mp4") << "no part read as a fragment or query";
    EXPECT_EQ(NormaliseVideoUri("", "/w"), "");

    ConfigForm form = Open();
    form.Set(kMain, "VideoURI", "clip.mp4");
    ASSERT_TRUE(Save(form).Saved());
    EXPECT_EQ(prof::GetString(ini, kMain, "VideoURI", ""), "file://" + dir.Path() + "/clip.mp4");
}

TEST_F(ConfigSave, TheDirectoryIsWrittenWhereThePicturesGoAsWellAsUnderDir)
{
    ConfigForm form = Open();
    EXPECT_EQ(form.Value(kMain, "FilePath"), dir.Path() + "/files") << "shows the directory in use";
    ASSERT_TRUE(Save(form).Saved());
    EXPECT_EQ(prof::GetString(ini, kMain, "Dir", ""), dir.Path() + "/files");
    EXPECT_FALSE(prof::Read(ini, kMain, "FilePath")) << "the default directory is not pinned";

    form.Set(kMain, "FilePath", dir.Path() + "/elsewhere");
    ASSERT_TRUE(Save(form).Saved());
    EXPECT_EQ(prof::GetString(ini, kMain, "FilePath", ""), dir.Path() + "/elsewhere");
    EXPECT_EQ(prof::GetString(ini, kMain, "Dir", ""), dir.Path() + "/elsewhere");
    vorlix::WebCam cam;
    cam.LoadConfiguration(0, dir.Path());
    EXPECT_EQ(cam.PictureDir(), dir.Path() + "/elsewhere");
}

TEST_F(ConfigSave, OldSoundKeysAreShownThenReplaced)
{
    prof::WriteString(ini, kMain, "Wav file 2", "old2.wav");
    prof::WriteString(ini, kMain, "Wav file", "older.wav");
    ConfigForm form = Open();
    EXPECT_EQ(form.Value("Vorlix Sound Management", "In zone 2"), "old2.wav");
    ASSERT_TRUE(Save(form).Saved());
    EXPECT_EQ(prof::GetString(ini, "Vorlix Sound Management", "In zone 2", ""), "old2.wav");
    EXPECT_FALSE(prof::Read(ini, kMain, "Wav file 2"));
    EXPECT_FALSE(prof::Read(ini, kMain, "Wav file"));
}

// What the running server is asked, and what the file holds at each step.
class RecordingTarget : public SaveTarget {
public:
    explicit RecordingTarget(const std::string& ini) : ini_(ini) {}
    void SaveDeviceProperties() override
    {
        calls.push_back("properties");
        propertiesBeforeMail = !prof::Read(ini_, kMail, "management").has_value();
    }
    void SaveZones() override
    {
        calls.push_back("zones");
        // As the camera does: the window rectangle of its settings copy.
        prof::WriteInt(ini_, kMain, "window top", 1);
    }
    void ForgetLastSound() override
    {
        ++forgets;
        if (calls.empty() || calls.back() != "sound") {
            calls.push_back("sound");
        }
    }
    void Apply() override
    {
        calls.push_back("apply");
        mailAtApply = prof::GetString(ini_, kMail, "management", "");
    }
    std::vector<std::string> calls;
    int forgets = 0;
    bool propertiesBeforeMail = false;
    std::string mailAtApply;

private:
    std::string ini_;
};

TEST_F(ConfigSave, TheServerIsReachedInOrderAndTheWindowWhereItStandsWins)
{
    ConfigForm form = Open();
    form.Set(kMail, "management", "1", FieldKind::kCheck);
    RecordingTarget target(ini);
    ASSERT_TRUE(SaveConfiguration(ini, form, WindowRect{10, 20, 330, 260}, &target).Saved());
    EXPECT_EQ(target.calls, (std::vector<std::string>{"properties", "sound", "zones", "apply"}));
    EXPECT_EQ(target.forgets, 5) << "the last sound is forgotten with each sound saved";
    EXPECT_TRUE(target.propertiesBeforeMail) << "the device's properties are step 1";
    EXPECT_EQ(target.mailAtApply, "1") << "the workers are reloaded with everything written";
    EXPECT_EQ(prof::GetInt(ini, kMain, "window top", 0), 20);
    EXPECT_EQ(prof::GetInt(ini, kMain, "window left", 0), 10);
    EXPECT_EQ(prof::GetInt(ini, kMain, "window right", 0), 330);
    EXPECT_EQ(prof::GetInt(ini, kMain, "window bottom", 0), 260);
}

TEST_F(ConfigSave, AFileThatCannotBeWrittenIsSaidOnceInWords)
{
    const ConfigForm form = Open();
    const std::string nowhere = dir.Path() + "/missing/Vorlix.ini";
    const SaveResult result = SaveConfiguration(nowhere, form, std::nullopt, nullptr);
    ASSERT_EQ(result.failures.size(), 1u);
    EXPECT_NE(result.failures[0].find("could not be written"), std::string::npos) << result.failures[0];
    EXPECT_NE(result.failures[0].find(nowhere), std::string::npos);
}

TEST_F(ConfigSave, TheTableHasTwelvePagesInTabOrderAndEveryFieldAPage)
{
    const auto pages = ConfigPages();
    ASSERT_EQ(pages.size(), static_cast<std::size_t>(kConfigPageCount));
    const char* labels[] = {"Video",   "Jpeg", "Client", "Detection", "Sounds", "Record",
                            "Planner", "FTP",  "Mail",   "Execute",   "Trace",  "Update"};
    for (int i = 0; i < kConfigPageCount; ++i) {
        EXPECT_STREQ(pages[static_cast<std::size_t>(i)].label, labels[i]);
        EXPECT_EQ(static_cast<int>(pages[static_cast<std::size_t>(i)].page), i);
    }
    EXPECT_THROW(FieldIndex(kMain, "No such key", FieldKind::kText), std::out_of_range);
}

}  // namespace
