#include "serveur/core/CameraSettings.h"

#include "libkestrel/profile/Profile.h"

namespace vorlix {

namespace prof = kestrel::profile;

std::map<std::string, int> ReadFormatProperties(const std::string& settingsFile)
{
    std::map<std::string, int> out;
    for (const char* name : kFormatProperties) {
        const int v = prof::GetInt(settingsFile, "Vorlix Format", name, kSentinel);
        if (v != kSentinel) {
            out[name] = v;
        }
    }
    return out;
}

void WriteFormatProperties(const std::string& settingsFile, const std::map<std::string, int>& values)
{
    for (const auto& [name, v] : values) {
        prof::WriteInt(settingsFile, "Vorlix Format", name, v);
    }
}

int NormalisedJpegQuality(int quality)
{
    return (quality > 99 || quality < 0) ? 100 : quality;
}

namespace {
std::optional<int> OptionalInt(const std::string& file, const char* section, const char* key)
{
    const int v = prof::GetInt(file, section, key, kSentinel);
    return v == kSentinel ? std::nullopt : std::optional<int>(v);
}
}  // namespace

FtpSettings ReadFtpSettings(const std::string& f)
{
    FtpSettings s;
    const char* sec = "Vorlix FTP";
    s.management = prof::GetInt(f, sec, "management", 0);
    s.server = prof::GetString(f, sec, "Server", "");
    s.remoteDir = prof::GetString(f, sec, "RemoteDir", "");
    s.login = prof::GetString(f, sec, "Login", "");
    s.password = prof::GetString(f, sec, "Password", "");
    s.port = prof::GetInt(f, sec, "Port", 21);
    s.service = prof::GetInt(f, sec, "Service", 1);
    s.ifproxy = prof::GetInt(f, sec, "ifproxy", 0);
    s.proxy = prof::GetString(f, sec, "Proxy", "");
    s.proxyPort = prof::GetInt(f, sec, "Proxy Port", 80);
    s.priority = OptionalInt(f, sec, "Priority");
    return s;
}

MailSettings ReadMailSettings(const std::string& f)
{
    MailSettings s;
    const char* sec = "Vorlix MAIL";
    s.management = prof::GetInt(f, sec, "management", 0);
    s.smtp = prof::GetString(f, sec, "SMTP", "");
    s.port = prof::GetInt(f, sec, "Port", 25);
    s.from = prof::GetString(f, sec, "From", s.from);
    s.to = prof::GetString(f, sec, "To", "");
    s.cc = prof::GetString(f, sec, "CC", "");
    s.subject = prof::GetString(f, sec, "Subject", s.subject);
    s.sizeMax = prof::GetInt(f, sec, "SizeMax", 500);
    s.ifjpg = prof::GetInt(f, sec, "ifjpg", 0);
    s.sensibility = prof::GetInt(f, sec, "Sensibility", 1);
    s.polling = prof::GetInt(f, sec, "Polling", 86400);
    s.timeBeforeAnotherMail = prof::GetInt(f, sec, "Time before another mail", 300);
    s.priority = OptionalInt(f, sec, "Priority");
    return s;
}

}  // namespace vorlix
