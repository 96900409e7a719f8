#include "serveur/app/ServerCaptureChoice.h"
#include "serveur/capture/gstreamer/GstCaptureSystem.h"

namespace vorlix::app {

std::unique_ptr<capture::CaptureSystem> MakeServerCaptureSystem(const std::string& settingsFile)
{
    return capture::MakeGstCaptureSystem(settingsFile);
}

SourceProber ServerSourceProber()
{
    return [](const std::string& address) { return ProbeVideoSource(address, std::chrono::seconds(10)); };
}

bool ServerHasExecute()
{
    return true;
}

}  // namespace vorlix::app
