#include "serveur/core/CameraSettings.h"

#include "libkestrel/profile/Profile.h"
#include "serveur/core/SettingRanges.h"
#include "serveur/core/SettingsSections.h"

namespace vorlix {

namespace prof = kestrel::profile;

std::map<std::string, int> ReadFormatProperties(const std::string& settingsFile)
{
    std::map<std::string, int> out;
    for (const char* name : kFormatProperties) {
        const int v = prof::GetInt(settingsFile, section::kFormat, name, kSentinel);
        if (v != kSentinel) {
            out[name] = v;
        }
    }
    return out;
}

void WriteFormatProperties(const std::string& settingsFile, const std::map<std::string, int>& values)
{
    for (const auto& [name, v] : values) {
        prof::WriteInt(settingsFile, section::kFormat, name, v);
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
    const char* sec = section::kFtp;
    s.management = prof::GetInt(f, sec, "management", 0);
    s.server = prof::GetString(f, sec, "Server", "");
    s.remoteDir = prof::GetString(f, sec, "RemoteDir", "");
    s.login = prof::GetString(f, sec, "Login", "");
    s.password = prof::GetString(f, sec, "Password", "");
    s.port = ReadRangedInt(f, sec, "Port");
    s.service = prof::GetInt(f, sec, "Service", 1);
    s.ifproxy = prof::GetInt(f, sec, "ifproxy", 0);
    s.proxy = prof::GetString(f, sec, "Proxy", "");
    s.proxyPort = ReadRangedInt(f, sec, "Proxy Port");
    s.priority = OptionalInt(f, sec, "Priority");
    return s;
}

}  // namespace vorlix
