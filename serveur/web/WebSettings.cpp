#include "serveur/web/WebSettings.h"

#include <algorithm>

#include "libkestrel/profile/Profile.h"

namespace vorlix::web {

namespace profile = kestrel::profile;

WebSettings ReadWebSettings(const std::string& settingsFile, int camera)
{
    WebSettings s;
    const int defaultPort = kDefaultWebPort + std::max(camera, 0);
    s.management = profile::GetInt(settingsFile, kWebSection, "management", 0) == 1;
    s.port = profile::GetInt(settingsFile, kWebSection, "Port", defaultPort);
    if (s.port < 1 || s.port > 65535) {
        s.port = defaultPort;
    }
    s.fps = std::clamp(profile::GetInt(settingsFile, kWebSection, "fps", kDefaultFps), 1, kMaxFps);
    s.certificate = profile::GetString(settingsFile, kWebSection, "Certificate", "", 4095);
    s.key = profile::GetString(settingsFile, kWebSection, "Key", "", 4095);
    s.bind = profile::GetString(settingsFile, kWebSection, "Bind", "", 63);
    s.maxViewers =
        std::clamp(profile::GetInt(settingsFile, kWebSection, "Max viewers", kDefaultMaxViewers), 1, kMaxViewersLimit);
    return s;
}

}  // namespace vorlix::web
