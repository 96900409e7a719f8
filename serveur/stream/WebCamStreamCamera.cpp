#include "serveur/stream/WebCamStreamCamera.h"

#include "serveur/core/ThreadPriority.h"

namespace vorlix {

StreamSettings WebCamStreamCamera::Settings() const
{
    const CameraSettings copy = cam_.SettingsCopy();
    StreamSettings settings;
    settings.port = copy.portWebClient;
    settings.password = copy.authentificationClient;
    settings.frequencyTransfert = copy.frequencyTransfert;
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
    SetThreadPriorityFromIni(cam_.SettingsFile(), "Vorlix Client");
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
