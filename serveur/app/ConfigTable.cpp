#include "serveur/app/ConfigTable.h"

#include <strings.h>
#include <cctype>
#include <optional>
#include <stdexcept>

#include "libkestrel/profile/Profile.h"
#include "serveur/core/ScheduleWord.h"
#include "serveur/core/SettingRanges.h"
#include "serveur/web/WebSettings.h"

namespace vorlix::app {

namespace prof = kestrel::profile;

namespace {

using namespace section;

using P = ConfigPage;
using K = FieldKind;

constexpr PageInfo kPages[] = {
    {"Video", P::kVideo, 142},         {"Jpeg", P::kJpeg, 143},     {"Client", P::kClient, 144},
    {"Detection", P::kDetection, 145}, {"Sounds", P::kSounds, 149}, {"Record", P::kRecord, 159},
    {"Planner", P::kPlanner, 150},     {"FTP", P::kFtp, 154},       {"Mail", P::kMail, 157},
    {"Execute", P::kExecute, 158},     {"Trace", P::kTrace, 146},   {"Update", P::kUpdate, 147},
};

// clang-format off
const ConfigField kFields[] = {
    {P::kVideo, 1045, "Resize video", kMain, "ResizeVideo", K::kNumber, "", nullptr, 0, Build::kGstOnly},
    {P::kVideo, 1045, "Video frequency", kMain, "Frequency", K::kNumber, "", nullptr, 0, Build::kV4l2Only},
    {P::kVideo, 1200, "Camera address or video file", kMain, "VideoURI", K::kText, "", nullptr, 0, Build::kGstOnly},

    {P::kJpeg, 1049, "Working directory", kMain, "FilePath", K::kText},
    {P::kJpeg, 1003, "Max of jpg on disc", kMain, "Max jpg", K::kNumber},
    {P::kJpeg, 1004, "Jpg quality", kMain, "Quality jpg", K::kNumber},

    {P::kClient, 1064, "Authorize remote connection", kMain, "Client access", K::kCheck},
    {P::kClient, 1002, "Port server", kMain, "Port Web client", K::kNumber},
    {P::kClient, 1056, "Password", kMain, "Authentification client", K::kPassword},
    {P::kClient, 1010, "Refresh Image without detection(sec)", kMain, "Refresh Picture", K::kNumber},
    {P::kClient, 1011, "Frequency transfert (ms)", kMain, "Frequency Transfert", K::kNumber},

    // The browser view, beside the viewers' stream.
    {P::kClient, 1210, "Authorize the web view", kWeb, "management", K::kCheck},
    {P::kClient, 1211, "Web port", kWeb, "Port", K::kNumber},
    {P::kClient, 1212, "Web pictures per second", kWeb, "fps", K::kNumber},
    {P::kClient, 1213, "Web viewers at once", kWeb, "Max viewers", K::kNumber},
    {P::kClient, 1214, "Web address to listen on (empty: all)", kWeb, "Bind", K::kText},
    {P::kClient, 1215, "HTTPS certificate (PEM file)", kWeb, "Certificate", K::kText},
    {P::kClient, 1216, "HTTPS key (PEM file)", kWeb, "Key", K::kText},

    {P::kDetection, 1034, "Start Auto detection", kMain, "Auto Start Detection", K::kCheck},
    {P::kDetection, 1041, "Noise authorized for one pixel", kMain, "Noise", K::kNumber},
    {P::kDetection, 1043, "Max of changes numbers", kMain, "MaxDiff", K::kNumber},

    {P::kSounds, 1046, "Sounds to play", kSound, "In zone 1", K::kText, "", "Wav file 1"},
    {P::kSounds, 1049, "In zone 2", kSound, "In zone 2", K::kText, "", "Wav file 2"},
    {P::kSounds, 1050, "In zone 3", kSound, "In zone 3", K::kText, "", "Wav file 3"},
    {P::kSounds, 1054, "All zones", kSound, "All zones", K::kText, "", "Wav file all zones"},
    {P::kSounds, 1058, "Zones 1 2", kSound, "Zones 1 2", K::kText, "", "Wav file 1 2"},

    {P::kRecord, 1127, "Authorize Record", kAudio, "management", K::kCheck},
    {P::kRecord, 1129, "Device in", kAudio, "device in", K::kNumber},
    {P::kRecord, 1131, "Device out", kAudio, "device out", K::kNumber},
    {P::kRecord, 1133, "Min", kAudio, "min time", K::kNumber},
    {P::kRecord, 1135, "Max", kAudio, "max time", K::kNumber},
    {P::kRecord, 1137, "Silence before stop", kAudio, "no activity time", K::kNumber},

    {P::kPlanner, 1065, "Monday", kMain, "Schedule", K::kDay, "", nullptr, 1},
    {P::kPlanner, 1066, "Tuesday", kMain, "Schedule", K::kDay, "", nullptr, 2},
    {P::kPlanner, 1067, "Wednesday", kMain, "Schedule", K::kDay, "", nullptr, 3},
    {P::kPlanner, 1068, "Thursday", kMain, "Schedule", K::kDay, "", nullptr, 4},
    {P::kPlanner, 1069, "Friday", kMain, "Schedule", K::kDay, "", nullptr, 5},
    {P::kPlanner, 1070, "Sunday", kMain, "Schedule", K::kDay, "", nullptr, 0},
    {P::kPlanner, 1071, "Saturday", kMain, "Schedule", K::kDay, "", nullptr, 6},
    {P::kPlanner, 1088, "Out of the time selection", kMain, "Schedule", K::kOutside},
    {P::kPlanner, 1075, "Begin time", kMain, "Schedule", K::kBegin},
    {P::kPlanner, 1076, "End time", kMain, "Schedule", K::kEnd},

    {P::kFtp, 1095, "Authorize ftp", kFtp, "management", K::kCheck},
    {P::kFtp, 1106, "Proxy", kFtp, "ifproxy", K::kCheck},
    {P::kFtp, 1104, "Proxy address", kFtp, "Proxy", K::kText},
    {P::kFtp, 1105, "Proxy port", kFtp, "Proxy Port", K::kNumber},
    {P::kFtp, 1099, "Server ftp", kFtp, "Server", K::kText},
    {P::kFtp, 1098, "Remote directory", kFtp, "RemoteDir", K::kText},
    {P::kFtp, 1100, "Login", kFtp, "Login", K::kText},
    {P::kFtp, 1102, "Password", kFtp, "Password", K::kPassword},
    {P::kFtp, 1096, "Port", kFtp, "Port", K::kNumber},

    {P::kMail, 1107, "Authorize Mail", kMail, "management", K::kCheck},
    {P::kMail, 1113, "Attach the pictures", kMail, "ifjpg", K::kCheck},
    {P::kMail, 1102, "From", kMail, "From", K::kText, "vorlix@localhost"},
    {P::kMail, 1118, "To", kMail, "To", K::kText},
    {P::kMail, 1101, "CC", kMail, "CC", K::kText},
    // Shown with its default: an empty text would be stored and read as 0 KiB.
    {P::kMail, 1119, "Size max (KB)", kMail, "SizeMax", K::kNumber, "500"},
    {P::kMail, 1112, "Subj.", kMail, "Subject", K::kText, "Detection mouvement Vorlix"},
    {P::kMail, 1109, "Port", kMail, "Port", K::kNumber, "25"},
    {P::kMail, 1108, "SMTP", kMail, "SMTP", K::kText},
    {P::kMail, 1121, "Sensibility", kMail, "Sensibility", K::kNumber, "1"},
    {P::kMail, 1201, "Security", kMail, "Security", K::kChoice, "0", nullptr, 0, Build::kBoth,
     "None|STARTTLS|TLS"},
    {P::kMail, 1202, "Mail login", kMail, "Login", K::kText},
    {P::kMail, 1203, "Mail password", kMail, "Password", K::kPassword},

    {P::kExecute, 1122, "Authorize Application", kExecute, "management", K::kCheck},
    {P::kExecute, 1124, "Application", kExecute, "application", K::kText},
    {P::kExecute, 1126, "Arguments", kExecute, "arguments", K::kText},

    {P::kTrace, 1053, "trace level", kMain, "Trace level", K::kNumber},
    {P::kTrace, 1037, "Trace center of the detection", kMain, "follow detection", K::kCheck},
};
// clang-format on

bool Same(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The default of a number: the one owner of its range where it has one.
std::string ShownDefault(const ConfigField& f, const FormContext& context)
{
    if (Same(f.section, kMain) && Same(f.key, "Port Web client")) {
        return std::to_string(DefaultStreamPort(context.camera));
    }
    if (Same(f.section, kWeb)) {
        const web::WebSettings defaults;
        if (Same(f.key, "Port")) {
            return std::to_string(web::kDefaultWebPort + context.camera);
        }
        if (Same(f.key, "fps")) {
            return std::to_string(defaults.fps);
        }
        if (Same(f.key, "Max viewers")) {
            return std::to_string(defaults.maxViewers);
        }
    }
    if (*f.fallback != '\0') {
        return f.fallback;
    }
    for (const IntSetting& s : IntSettings()) {
        if (Same(s.section, f.section) && Same(s.key, f.key)) {
            return std::to_string(s.fallback);
        }
    }
    return f.kind == K::kCheck ? "0" : "";
}

}  // namespace

std::span<const PageInfo> ConfigPages()
{
    return kPages;
}

std::span<const ConfigField> ConfigFields()
{
    return kFields;
}

std::size_t FieldIndex(std::string_view section, std::string_view key, FieldKind kind)
{
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
        const ConfigField& f = kFields[i];
        if (Same(f.section, section) && Same(f.key, key) && (f.kind == kind || kind == K::kText)) {
            return i;
        }
    }
    throw std::out_of_range("no configuration field " + std::string(section) + "/" + std::string(key));
}

const std::string& ConfigForm::Value(std::string_view section, std::string_view key, FieldKind kind) const
{
    return values.at(FieldIndex(section, key, kind));
}

void ConfigForm::Set(std::string_view section, std::string_view key, std::string value, FieldKind kind)
{
    values.at(FieldIndex(section, key, kind)) = std::move(value);
}

bool FieldShown(const ConfigField& field, bool gstBuild)
{
    switch (field.build) {
        case Build::kGstOnly:
            return gstBuild;
        case Build::kV4l2Only:
            return !gstBuild;
        case Build::kBoth:
            break;
    }
    return true;
}

ConfigForm ReadConfigForm(const std::string& settingsFile, const FormContext& context)
{
    ConfigForm form;
    form.context = context;
    const ScheduleWord schedule = DecodeScheduleWord(ReadRangedInt(settingsFile, kMain, "Schedule"));
    for (const ConfigField& f : kFields) {
        const std::optional<std::string> stored = prof::Read(settingsFile, f.section, f.key);
        std::string shown;
        switch (f.kind) {
            case K::kText:
            case K::kNumber:
            case K::kChoice:
                shown = stored ? *stored : ShownDefault(f, context);
                if (f.oldKey != nullptr && (!stored || stored->empty())) {
                    shown = prof::GetString(settingsFile, kMain, f.oldKey, "");
                }
                if (Same(f.key, "FilePath") && shown.empty()) {
                    shown = context.pictureDir;
                }
                if (shown.size() > kMaxFieldText) {
                    shown.resize(kMaxFieldText);
                }
                break;
            case K::kCheck: {
                const int on = prof::GetInt(settingsFile, f.section, f.key, std::stoi(ShownDefault(f, context)));
                // The stream server runs only for exactly 1; the others for any non-zero.
                shown = (Same(f.key, "Client access") ? on == 1 : on != 0) ? "1" : "0";
                break;
            }
            case K::kPassword:
                shown = stored && !stored->empty() ? kPasswordPlaceholder : "";
                break;
            case K::kDay:
                shown = (schedule.days >> f.bit & 1) != 0 ? "1" : "0";
                break;
            case K::kOutside:
                shown = schedule.outside ? "1" : "0";
                break;
            case K::kBegin:
                shown = ScheduleTimeText(schedule.beginMinutes);
                break;
            case K::kEnd:
                shown = ScheduleTimeText(schedule.endMinutes);
                break;
        }
        form.values.push_back(std::move(shown));
    }
    return form;
}

std::string NormaliseVideoUri(std::string_view typed, const std::string& workDir)
{
    std::size_t b = 0, e = typed.size();
    while (b < e && (typed[b] == ' ' || typed[b] == '\t')) {
        ++b;
    }
    while (e > b && (typed[e - 1] == ' ' || typed[e - 1] == '\t')) {
        --e;
    }
    std::string text(typed.substr(b, e - b));
    if (text.empty()) {
        return text;
    }
    const auto colon = text.find("://");
    if (colon != std::string::npos && colon > 0) {
        bool scheme = true;
        for (std::size_t i = 0; i < colon; ++i) {
            const char c = text[i];
            scheme = scheme && (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.');
        }
        if (scheme) {
            return text;
        }
    }
    const std::string path = text.front() == '/' ? text : workDir + "/" + text;
    // Bytes that would end or change the address are escaped.
    std::string uri = "file://";
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) != 0 || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            uri += ch;
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri;
}

}  // namespace vorlix::app
