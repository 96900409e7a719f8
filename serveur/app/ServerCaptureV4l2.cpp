#include "libkestrel/trace/TraceLevels.h"
#include "serveur/app/ServerCaptureChoice.h"

namespace vorlix::app {

std::unique_ptr<capture::CaptureSystem> MakeServerCaptureSystem(const std::string& /*settingsFile*/)
{
    TRACE_ERROR("This build has no V4L2 capture system yet");
    return nullptr;
}

bool ServerHasExecute()
{
    return false;
}

}  // namespace vorlix::app
