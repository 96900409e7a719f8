// The camera object and the language of this build, chosen at build time:
// the core camera object when it is built, else the detached port.
#pragma once

#include <memory>

#include "serveur/app/CameraPort.h"
#include "serveur/app/ServerPaths.h"
#include "serveur/app/TrayText.h"

namespace vorlix {
class DisplayHook;
}

namespace vorlix::app {

// `display`: the main window's picture and activity bar, null without a window.
std::unique_ptr<CameraPort> MakeServerCamera(const ServerPaths& paths, int camera, DisplayHook* display = nullptr);
TranslateFn ServerTranslator(const std::string& workDir, int camera);

}  // namespace vorlix::app
