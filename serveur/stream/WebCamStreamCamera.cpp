#include "serveur/stream/WebCamStreamCamera.h"

#include "libkestrel/profile/Profile.h"
#include "serveur/core/SettingsSections.h"
#include "serveur/core/ThreadPriority.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix {

StreamSettings WebCamStreamCamera::Settings() const
{
    const CameraSettings copy = cam_.SettingsCopy();
    StreamSettings settings;
    settings.port = copy.portWebClient;
    settings.password = copy.authentificationClient;
    settings.frequencyTransfert = copy.frequencyTransfert;
    // Not kept by the camera object: read from its settings file. A password
    // key that is present but cannot be unscrambled must not mean "none".
    const std::string& file = cam_.SettingsFile();
    settings.maxClients = kestrel::profile::GetInt(file, section::kMain, "Max clients", settings.maxClients);
    const std::string scrambled = kestrel::profile::GetString(file, section::kMain, "Authentification client", "");
    std::string plain;
    settings.passwordUnreadable =
        !scrambled.empty() && !UnscramblePassword(scrambled, "Authentification client", plain);
    return settings;
}

void WebCamStreamCamera::AddEventText(const std::string& text)
{
    if (sink_) {
        sink_(cam_.Translate(text));
    }
}

void WebCamStreamCamera::ApplyStreamThreadPriority()
{
    SetThreadPriorityFromIni(cam_.SettingsFile(), section::kClient);
}

WebCamStreamServer::WebCamStreamServer(WebCam& cam, WebCamStreamCamera::EventSink sink)
    : cam_(cam), camera_(cam, std::move(sink)), server_(camera_)
{
}

WebCamStreamServer::~WebCamStreamServer()
{
    server_.StopStreamServer();
}

int WebCamStreamServer::StartIfEnabled()
{
    if (cam_.SettingsCopy().clientAccess != 1) {
        return 0;
    }
    return server_.StartStreamServer();
}

}  // namespace vorlix
