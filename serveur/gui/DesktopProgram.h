// The desktop server program: the frame under a main window, a tray icon and
// Qt's event loop. This header stays free of Qt so the program's entry can
// choose between the desktop and the headless loop.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "libkestrel/framework/UniqueFd.h"
#include "serveur/app/CameraPort.h"
#include "serveur/app/CommandLine.h"
#include "serveur/app/ServerPaths.h"
#include "serveur/app/SourceProbe.h"
#include "serveur/app/TrayText.h"

namespace vorlix {
class DisplayHook;
}

namespace vorlix::gui {

struct DesktopStart {
    app::CommandLine line;
    std::string workDir;
    bool traceModeCreated = false;
    // The camera object with the window's display on its road.
    std::function<std::unique_ptr<app::CameraPort>(const app::ServerPaths&, int, DisplayHook*)> makeCamera;
    std::function<std::string(const std::string&, const std::string&)> startEditor;
    app::TranslateFn translate;
    app::SourceProber probeSource;  // the "Test" of a camera address; empty when none
};

// Runs until the program ends (menu, tray or SIGTERM/SIGINT; SIGHUP reloads
// the configuration). Returns the exit code.
int RunDesktop(int argc, char** argv, const DesktopStart& start, const kestrel::UniqueFd& signalFd);

}  // namespace vorlix::gui
