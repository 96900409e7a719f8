// The camera object's configuration: settings file, first-start defaults,
// zones and the old sound keys.
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/core/SettingRanges.h"
#include "serveur/core/SettingsSections.h"
#include "serveur/core/WebCam.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix {

namespace prof = kestrel::profile;

namespace {
using section::kAudio;
using section::kExecute;
using section::kMain;
using section::kSound;

std::string CurrentDirectory()
{
    std::string buf(PATH_MAX, '\0');
    if (::getcwd(buf.data(), buf.size()) == nullptr) {
        return ".";
    }
    buf.resize(std::char_traits<char>::length(buf.c_str()));
    return buf;
}

std::optional<int> OptionalInt(const std::string& f, const char* section, const char* key)
{
    const int v = prof::GetInt(f, section, key, kSentinel);
    return v == kSentinel ? std::nullopt : std::optional<int>(v);
}

int Ranged(const std::string& f, const char* section, const char* key, std::optional<int> fallback = std::nullopt)
{
    return ReadRangedInt(f, section, key, fallback);
}

// A packed word whose times lie beyond 24:00 or whose unused bit is set was
// not written by this program: the default schedule is used instead.
int ReadSchedule(const std::string& f)
{
    const int packed = Ranged(f, kMain, "Schedule");
    const ScheduleWord word = DecodeScheduleWord(packed);
    if ((packed & 0x100) != 0 || word.beginMinutes > 1440 || word.endMinutes > 1440) {
        TRACE_WARN("Setting \"Schedule\" of [Vorlix] = \"%d\" is not a schedule: %d used", packed, kDefaultSchedule);
        return kDefaultSchedule;
    }
    if (word.days == 0) {
        TRACE_WARN("Setting \"Schedule\" of [Vorlix] = \"%d\" selects no day: the camera stays closed", packed);
    }
    return packed;
}

bool NoZoneKeys(const std::string& f, const std::string& n)
{
    for (const char* k : {"xy_", "x0_", "y0_", "x1_", "y1_"}) {
        if (prof::Read(f, kMain, k + n)) {
            return false;
        }
    }
    return true;
}

// The drawing rule: a corner below 0 or beyond 4096 becomes 0.
int ClampCorner(int v)
{
    return (v < 0 || v > kMaxZoneCorner) ? 0 : v;
}
}  // namespace

std::string WebCam::PictureDir() const
{
    std::lock_guard lock(settingsMutex_);
    return settings_.filePath.empty() ? paths_.filesDir : settings_.filePath;
}

CameraSettings WebCam::SettingsCopy() const
{
    std::lock_guard lock(settingsMutex_);
    return settings_;
}

std::shared_ptr<const CameraSettings> WebCam::SettingsSnapshot() const
{
    std::lock_guard lock(settingsMutex_);
    return published_;
}

CameraFacts WebCam::Facts() const
{
    CameraFacts facts;
    facts.settingsFile = paths_.settingsFile;
    facts.camera = paths_.camera;
    std::lock_guard lock(settingsMutex_);
    facts.settings = published_;
    facts.pictureDir = settings_.filePath.empty() ? paths_.filesDir : settings_.filePath;
    return facts;
}

void WebCam::StoreSettings(const CameraSettings& s)
{
    {
        std::lock_guard lock(settingsMutex_);
        settings_ = s;
        published_ = std::make_shared<const CameraSettings>(s);
    }
    MirrorFrameSettings(s);
}

void WebCam::UpdateSettings(const std::function<void(CameraSettings&)>& change)
{
    CameraSettings copy;
    {
        std::lock_guard lock(settingsMutex_);
        change(settings_);
        copy = settings_;
        published_ = std::make_shared<const CameraSettings>(copy);
    }
    MirrorFrameSettings(copy);
}

void WebCam::MirrorFrameSettings(const CameraSettings& s)
{
    maxJpg_.store(s.maxJpg);
    noise_.store(s.noise);
    maxDiff_.store(s.maxDiff);
    referenceSeconds_.store(s.referenceImage);
    followDetection_.store(s.followDetection != 0);
}

void WebCam::LoadConfiguration(int camera, const std::string& workDir)
{
    paths_ = MakeCameraPaths(workDir.empty() ? CurrentDirectory() : workDir, camera);
    ReadConfiguration(true);
}

void WebCam::ReloadConfiguration()
{
    ReadConfiguration(false);
}

void WebCam::ReadConfiguration(bool takeShotCounter)
{
    const std::string& f = paths_.settingsFile;
    CameraSettings s;
    // First start of camera n > 0: a port of its own, so side-by-side cameras bind.
    if (paths_.camera > 0 && !prof::Read(f, kMain, "NbSelection") && !prof::Read(f, kMain, "Port Web client")) {
        prof::WriteInt(f, kMain, "Port Web client", DefaultStreamPort(paths_.camera));
    }
    s.portWebClient = Ranged(f, kMain, "Port Web client", DefaultStreamPort(paths_.camera));
    s.clientAccess = Ranged(f, kMain, "Client access");
    const std::string scrambled = prof::GetString(f, kMain, "Authentification client", "");
    if (!scrambled.empty()) {
        std::string plain;
        if (UnscramblePassword(scrambled, "Authentification client", plain)) {
            s.authentificationClient = plain;
        } else {
            TRACE_WARN("Authentification client unreadable, no password");
        }
    }
    s.frequencyTransfert = Ranged(f, kMain, "Frequency Transfert");
    s.refreshPicture = Ranged(f, kMain, "Refresh Picture");
    s.currentShots = Ranged(f, kMain, "Current shots");
    s.maxJpg = Ranged(f, kMain, "Max jpg");
    s.qualityJpg = NormalisedJpegQuality(Ranged(f, kMain, "Quality jpg"));
    s.filePath = prof::GetString(f, kMain, "FilePath", "");
    s.windowTop = Ranged(f, kMain, "window top");
    s.windowLeft = Ranged(f, kMain, "window left");
    s.windowRight = Ranged(f, kMain, "window right");
    s.windowBottom = Ranged(f, kMain, "window bottom");
    s.display = Ranged(f, kMain, "Display");
    s.editor = prof::GetString(f, kMain, "Editor", "notepad");
    s.lang = prof::GetString(f, kMain, "LANG", "", 31);
    s.priority = OptionalInt(f, kMain, "Priority");
    s.traceLevel = Ranged(f, kMain, "Trace level");
    s.videoDevice = Ranged(f, kMain, "VideoDevice");
    s.videoFormat = Ranged(f, kMain, "VideoFormat");
    s.fps = Ranged(f, kMain, "fps");
    s.frequency = Ranged(f, kMain, "Frequency");
    s.schedule = ReadSchedule(f);
    s.clientPriority = OptionalInt(f, section::kClient, "Priority");
    if (takeShotCounter) {
        shots.store(s.currentShots);
    }
    StoreSettings(s);
    language_.Set(paths_.workDir, s.lang.empty() ? LanguageFromLocale() : LanguageFromSettings(f));
    auto words = std::make_shared<LabelWords>(LabelWords{Translate("IN"), Translate("ALLZ"), Translate("SOMEZ")});
    {
        const std::lock_guard lock(settingsMutex_);
        labelWords_ = std::move(words);
    }
    LoadDetectionSettings();
}

void WebCam::LoadZones(const CameraSettings& s)
{
    const std::string& f = paths_.settingsFile;
    ZoneSnapshot snap;
    snap.count = s.nbSelection;
    for (int i = 0; i < snap.count; ++i) {
        const std::string n = std::to_string(i);
        auto& z = snap.slots[static_cast<std::size_t>(i)];
        z.whole = prof::GetInt(f, kMain, "xy_" + n, 0) == 1;
        if (snap.count == 1 && i == 0 && NoZoneKeys(f, n)) {
            // One zone and nothing stored for it: the whole picture, as on a first start.
            z.whole = true;
        }
        const int raw[4] = {prof::GetInt(f, kMain, "x0_" + n, 0), prof::GetInt(f, kMain, "y0_" + n, 0),
                            prof::GetInt(f, kMain, "x1_" + n, 0), prof::GetInt(f, kMain, "y1_" + n, 0)};
        z.x0 = ClampCorner(raw[0]);
        z.y0 = ClampCorner(raw[1]);
        z.x1 = ClampCorner(raw[2]);
        z.y1 = ClampCorner(raw[3]);
        if (z.x0 != raw[0] || z.y0 != raw[1] || z.x1 != raw[2] || z.y1 != raw[3]) {
            TRACE_WARN("Zone %d corners %d,%d %d,%d outside 0..%d taken as %d,%d %d,%d", i + 1, raw[0], raw[1], raw[2],
                       raw[3], kMaxZoneCorner, z.x0, z.y0, z.x1, z.y1);
        }
    }
    zones_.SetAll(snap);
    savedWidth_.store(s.savedWidth);
    savedHeight_.store(s.savedHeight);
}

void WebCam::LoadDetectionSettings()
{
    const std::string& f = paths_.settingsFile;
    CameraSettings s = SettingsCopy();
    s.execute.management = Ranged(f, kExecute, "management");
    s.execute.maxChildren = Ranged(f, kExecute, "max children");
    s.execute.application = prof::GetString(f, kExecute, "application", "", 254);
    s.execute.arguments = prof::GetString(f, kExecute, "arguments", "", 254);

    int nb = 0;
    if (!prof::Read(f, kMain, "NbSelection")) {
        // First start: one zone over the whole picture, detection on, a sound for it.
        prof::WriteString(f, kMain, "NbSelection", "1");
        prof::WriteString(f, kMain, "xy_0", "1");
        prof::WriteString(f, kMain, "Auto Start Detection", "1");
        prof::WriteString(f, kSound, "In zone 1", "boing1.wav");
        nb = 1;
    } else {
        nb = Ranged(f, kMain, "NbSelection");
    }
    s.nbSelection = nb;
    s.savedWidth = Ranged(f, kMain, "width");
    s.savedHeight = Ranged(f, kMain, "height");
    LoadZones(s);

    s.noise = Ranged(f, kMain, "Noise");
    s.maxDiff = Ranged(f, kMain, "MaxDiff");
    s.autoStartDetection = Ranged(f, kMain, "Auto Start Detection");
    s.resizeVideo = Ranged(f, kMain, "ResizeVideo");
    s.referenceImage = Ranged(f, kMain, "Reference Image");

    // Sound keys of earlier versions.
    if (prof::GetString(f, kSound, "In zone 1", "").empty() && prof::GetString(f, kSound, "In zone", "").empty()) {
        const std::string wav1 = prof::GetString(f, kMain, "Wav file 1", "");
        if (!wav1.empty()) {
            prof::WriteString(f, kSound, "In zone 1", wav1);
            prof::DeleteKey(f, kMain, "Wav file 1");
        } else {
            const std::string wav = prof::GetString(f, kMain, "Wav file", "");
            if (!wav.empty()) {
                prof::WriteString(f, kSound, "In zone", wav);
                prof::DeleteKey(f, kMain, "Wav file");
            }
        }
    }
    s.followDetection = Ranged(f, kMain, "follow detection");
    if (!prof::Read(f, kSound, "Replay Sound")) {
        prof::WriteInt(f, kSound, "Replay Sound", 15);
    }
    s.replaySound = Ranged(f, kSound, "Replay Sound");
    if (!prof::Read(f, kAudio, "device in")) {
        prof::WriteString(f, kAudio, "management", "0");
        prof::WriteString(f, kAudio, "device in", "0");
        prof::WriteString(f, kAudio, "device out", "0");
        prof::WriteString(f, kAudio, "min time", "5");
        prof::WriteString(f, kAudio, "max time", "600");
        prof::WriteString(f, kAudio, "no activity time", "10");
    }
    s.noEvents = Ranged(f, kMain, "no events");
    StoreSettings(s);
}

void WebCam::SaveZones()
{
    const std::string& f = paths_.settingsFile;
    const ZoneSnapshot snap = zones_.Snapshot();
    const int width = Width(), height = Height();
    for (int i = 0; i < kMaxZones; ++i) {
        const std::string n = std::to_string(i);
        if (i < snap.count) {
            const auto& z = snap.slots[static_cast<std::size_t>(i)];
            prof::WriteInt(f, kMain, "x0_" + n, z.x0);
            prof::WriteInt(f, kMain, "y0_" + n, z.y0);
            prof::WriteInt(f, kMain, "x1_" + n, z.x1);
            prof::WriteInt(f, kMain, "y1_" + n, z.y1);
            const bool whole = z.x0 == 0 && z.y0 == 0 && z.x1 == width && z.y1 == height;
            prof::WriteString(f, kMain, "xy_" + n, whole ? "1" : "0");
        } else {
            for (const char* k : {"x0_", "y0_", "x1_", "y1_", "xy_"}) {
                prof::DeleteKey(f, kMain, k + n);
            }
        }
    }
    const CameraSettings s = SettingsCopy();
    prof::WriteInt(f, kMain, "NbSelection", snap.count);
    prof::WriteInt(f, kMain, "window top", s.windowTop);
    prof::WriteInt(f, kMain, "window left", s.windowLeft);
    prof::WriteInt(f, kMain, "window right", s.windowRight);
    prof::WriteInt(f, kMain, "window bottom", s.windowBottom);
    prof::WriteInt(f, kMain, "VideoDevice", s.videoDevice);
    prof::WriteInt(f, kMain, "VideoFormat", s.videoFormat);
}

void WebCam::SaveShotCounter()
{
    prof::WriteInt(paths_.settingsFile, kMain, "Current shots", shots.load() % std::max(MaxJpg(), 1));
}

}  // namespace vorlix
