#include "serveur/app/SaveConfiguration.h"

#include <cerrno>
#include <cstring>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/core/ScheduleWord.h"
#include "serveur/mail/MailSettings.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix::app {

namespace prof = kestrel::profile;

namespace {

using namespace section;

const char* PasswordName(std::string_view section)
{
    if (section == kFtp) {
        return "The FTP password";
    }
    return section == kMail ? "The mail password" : "The viewers' password";
}

// One pass of writes; the first failure of the file is said once, a refused
// password each time.
class Writer {
public:
    Writer(const std::string& file, const ConfigForm& form) : file_(file), form_(form) {}

    const std::string& Get(const char* section, const char* key, FieldKind kind = FieldKind::kText) const
    {
        return form_.Value(section, key, kind);
    }

    void Put(const char* section, const char* key, std::string_view value)
    {
        if (value.size() > kMaxFieldText) {
            value = value.substr(0, kMaxFieldText);
        }
        Check(prof::WriteString(file_, section, key, value));
    }
    // The field of the same key, as typed.
    void Copy(const char* section, const char* key) { Put(section, key, Get(section, key)); }
    void Box(const char* section, const char* key) { Put(section, key, On(section, key) ? "1" : "0"); }
    bool On(const char* section, const char* key) const { return Get(section, key, FieldKind::kCheck) == "1"; }
    void Delete(const char* section, const char* key) { Check(prof::DeleteKey(file_, section, key)); }

    // A password field: rewritten only when something other than the
    // placeholder was typed, and only with what survives the scrambling.
    void Password(const char* section, const char* key, const char* keyText)
    {
        const std::string& typed = Get(section, key, FieldKind::kPassword);
        if (typed.empty() || typed == kPasswordPlaceholder || !Storable(section, typed)) {
            return;
        }
        std::string scrambled;
        if (!ScramblePassword(typed, keyText, scrambled)) {
            Refuse(std::string(PasswordName(section)) + " cannot be scrambled; the stored one is kept");
            return;
        }
        Put(section, key, scrambled);
    }
    void MailPassword()
    {
        const std::string& typed = Get(kMail, "Password", FieldKind::kPassword);
        if (typed.empty() || typed == kPasswordPlaceholder || !Storable(kMail, typed)) {
            return;
        }
        Check(StoreMailPassword(file_, typed));
    }

    void Schedule()
    {
        ScheduleWord word;
        word.days = 0;
        for (const ConfigField& f : ConfigFields()) {
            if (f.kind == FieldKind::kDay && form_.values[FieldIndexOf(f)] == "1") {
                word.days |= 1 << f.bit;
            }
        }
        word.outside = Get(kMain, "Schedule", FieldKind::kOutside) == "1";
        word.beginMinutes = ParseScheduleTime(Get(kMain, "Schedule", FieldKind::kBegin));
        word.endMinutes = ParseScheduleTime(Get(kMain, "Schedule", FieldKind::kEnd));
        Check(prof::WriteInt(file_, kMain, "Schedule", EncodeScheduleWord(word)));
    }

    // Only printable ASCII comes back from the scrambler as it went in.
    bool Storable(const char* section, const std::string& typed)
    {
        const std::string head = std::string(PasswordName(section));
        if (typed.size() > kMaxPlainLength) {
            Refuse(head + " is too long (at most " + std::to_string(kMaxPlainLength) +
                   " characters); the stored one is kept");
            return false;
        }
        for (const char ch : typed) {
            const auto c = static_cast<unsigned char>(ch);
            if (c < 32 || c > 126) {
                Refuse(head + " may hold printable ASCII characters only; the stored one is kept");
                return false;
            }
        }
        return true;
    }

    void Refuse(std::string why)
    {
        TRACE_WARN("%s", why.c_str());
        result_.failures.push_back(std::move(why));
    }
    SaveResult Result() && { return std::move(result_); }

private:
    static std::size_t FieldIndexOf(const ConfigField& f)
    {
        return static_cast<std::size_t>(&f - ConfigFields().data());
    }

    void Check(bool written)
    {
        if (written || fileFailed_) {
            return;
        }
        fileFailed_ = true;
        Refuse("The settings file " + file_ + " could not be written: " + std::strerror(errno));
    }

    const std::string& file_;
    const ConfigForm& form_;
    SaveResult result_;
    bool fileFailed_ = false;
};

}  // namespace

std::string RemoteDirText(const std::string& typed)
{
    return !typed.empty() && typed.back() == '/' ? typed : typed + "/";
}

SaveResult SaveConfiguration(const std::string& settingsFile, const ConfigForm& form,
                             const std::optional<WindowRect>& window, SaveTarget* target)
{
    Writer w(settingsFile, form);
    const bool gst = form.context.gstBuild;

    // 1. Video.
    if (gst) {
        w.Copy(kMain, "ResizeVideo");
        w.Put(kMain, "VideoURI", NormaliseVideoUri(w.Get(kMain, "VideoURI"), form.context.workDir));
    } else {
        w.Copy(kMain, "Frequency");
    }
    if (target != nullptr) {
        target->SaveDeviceProperties();
    }
    // 2. Detection.
    w.Copy(kMain, "MaxDiff");
    w.Copy(kMain, "Noise");
    // 3. Jpeg: "Dir" as ever, and "FilePath", which is where the pictures go;
    // the directory in use by default is not pinned into the file.
    const std::string& dir = w.Get(kMain, "FilePath");
    w.Put(kMain, "Dir", dir);
    if (dir != form.context.pictureDir || !prof::GetString(settingsFile, kMain, "FilePath", "").empty()) {
        w.Put(kMain, "FilePath", dir);
    }
    w.Copy(kMain, "Quality jpg");
    w.Copy(kMain, "Max jpg");
    // 4. Client.
    w.Copy(kMain, "Port Web client");
    w.Copy(kMain, "Refresh Picture");
    w.Copy(kMain, "Frequency Transfert");
    w.Box(kMain, "Client access");
    w.Box(kWeb, "management");
    for (const char* key : {"Port", "fps", "Max viewers", "Bind", "Certificate", "Key"}) {
        w.Copy(kWeb, key);
    }
    // 5. Trace level.
    w.Copy(kMain, "Trace level");
    // 6. Sounds, and the keys of earlier versions they replace.
    w.Delete(kMain, "Wav file");
    for (const ConfigField& f : ConfigFields()) {
        if (f.page == ConfigPage::kSounds) {
            w.Copy(f.section, f.key);
            w.Delete(kMain, f.oldKey);
            if (target != nullptr) {
                target->ForgetLastSound();
            }
        }
    }
    // 7. Trace: the detection overlay.
    w.Box(kMain, "follow detection");
    // 8. Record.
    w.Box(kAudio, "management");
    for (const char* key : {"device in", "device out", "max time", "min time", "no activity time"}) {
        w.Copy(kAudio, key);
    }
    // 9. Detection at device open.
    w.Box(kMain, "Auto Start Detection");
    // 10. Planner.
    w.Schedule();
    // 11. Client password.
    w.Password(kMain, "Authentification client", "Authentification client");
    // 12. FTP.
    w.Box(kFtp, "management");
    w.Box(kFtp, "ifproxy");
    for (const char* key : {"Port", "Proxy", "Proxy Port", "Server", "Login"}) {
        w.Copy(kFtp, key);
    }
    w.Put(kFtp, "RemoteDir", RemoteDirText(w.Get(kFtp, "RemoteDir")));
    w.Password(kFtp, "Password", "Password");
    // 13. Mail, "management" last: a started sender reads what is written before it.
    w.Box(kMail, "ifjpg");
    for (const char* key :
         {"Port", "SMTP", "Subject", "CC", "To", "SizeMax", "From", "Sensibility", "Security", "Login"}) {
        w.Copy(kMail, key);
    }
    w.MailPassword();
    w.Box(kMail, "management");
    // 14. Execute.
    w.Box(kExecute, "management");
    w.Copy(kExecute, "application");
    w.Copy(kExecute, "arguments");
    // 15. Zones, then the window where it stands now.
    if (target != nullptr) {
        target->SaveZones();
    }
    if (window) {
        w.Put(kMain, "window top", std::to_string(window->top));
        w.Put(kMain, "window left", std::to_string(window->left));
        w.Put(kMain, "window right", std::to_string(window->right));
        w.Put(kMain, "window bottom", std::to_string(window->bottom));
    }
    // 16. The camera and its workers take it all.
    if (target != nullptr) {
        target->Apply();
    }
    return std::move(w).Result();
}

}  // namespace vorlix::app
