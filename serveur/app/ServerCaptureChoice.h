// The capture layer of this program: GStreamer for vorlix, V4L2 for vorlix_vfw.
#pragma once

#include <memory>
#include <string>

#include "serveur/app/SourceProbe.h"
#include "serveur/capture/CaptureSystem.h"

namespace vorlix::app {

std::unique_ptr<capture::CaptureSystem> MakeServerCaptureSystem(const std::string& settingsFile);
// How a camera address is tried; empty in vorlix_vfw, which takes no address.
SourceProber ServerSourceProber();
// vorlix_vfw has no Execute action.
bool ServerHasExecute();

}  // namespace vorlix::app
