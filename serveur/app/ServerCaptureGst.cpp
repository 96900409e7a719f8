#include "serveur/app/ServerCaptureChoice.h"
#include "serveur/capture/gstreamer/GstCaptureSystem.h"

namespace vorlix::app {

std::unique_ptr<capture::CaptureSystem> MakeServerCaptureSystem(const std::string& settingsFile)
{
    return capture::MakeGstCaptureSystem(settingsFile);
}

bool ServerHasExecute()
{
    return true;
}

}  // namespace vorlix::app
