#include "serveur/app/ServerCaptureChoice.h"
#include "serveur/capture/v4l2/V4l2CaptureSystem.h"

namespace vorlix::app {

std::unique_ptr<capture::CaptureSystem> MakeServerCaptureSystem(const std::string& settingsFile)
{
    return capture::MakeV4l2CaptureSystem(settingsFile);
}

SourceProber ServerSourceProber()
{
    return {};
}

bool ServerHasExecute()
{
    return false;
}

}  // namespace vorlix::app
