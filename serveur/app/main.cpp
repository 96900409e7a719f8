// vorlix / vorlix_vfw: the camera server, with its desktop window when a
// display is there, else (or with --headless) without one. The program's
// entry is where the frame, the camera object and the window are put together.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "libsorrel/CTraceMode.h"
#include "serveur/actions/EditorLauncher.h"
#include "serveur/app/DisplayProbe.h"
#include "serveur/app/MainLoop.h"
#include "serveur/app/ServerApp.h"
#include "serveur/app/ServerCamera.h"
#include "serveur/app/ServerCaptureChoice.h"
#include "serveur/app/SetPassword.h"
#include "serveur/app/TraceSetup.h"
#include "serveur/gui/DesktopProgram.h"

int main(int argc, char** argv)
{
    using namespace vorlix::app;
    const std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine line = ParseCommandLine(args);
    // Nothing of the camera is touched before the command line is known good.
    if (!line.error.empty()) {
        std::fprintf(stderr, "vorlix: %s\n\n%s", line.error.c_str(), UsageText("vorlix").c_str());
        return 2;
    }
    switch (line.command) {
        case Command::kHelp:
            std::fputs(UsageText("vorlix").c_str(), stdout);
            return 0;
        case Command::kVersion:
            std::fputs(VersionText().c_str(), stdout);
            return 0;
        case Command::kSetPassword: {
            std::error_code ec;
            return RunSetPassword(line.camera, std::filesystem::current_path(ec).string(), STDIN_FILENO, stdout,
                                  stderr);
        }
        case Command::kRun:
            break;
    }
    // Before any thread exists, so every worker inherits the blocked signals.
    const kestrel::UniqueFd signalFd = BlockServerSignals();

    if (!line.headless) {
        std::string why;
        if (!DesktopDisplayAvailable(why)) {
            std::fprintf(stderr, "vorlix: no desktop display (%s); running headless\n", why.c_str());
            line.headless = true;
        }
    }

    std::error_code ec;
    const std::string workDir = std::filesystem::current_path(ec).string();

    // Start-up step 5: the trace mode, before the camera object traces.
    std::unique_ptr<sorrel::CTraceMode> traceMode;
    if (line.camera <= kMaxCamera) {
        const ServerPaths paths = MakeServerPaths(workDir, line.camera);
        CreateServerDirectories(paths);
        std::string note;
        traceMode = CreateServerTraceMode(line.trace, paths, note);
        if (!note.empty()) {
            std::fprintf(stderr, "vorlix: %s\n", note.c_str());
        }
    }

    if (!line.headless) {
        vorlix::gui::DesktopStart start;
        start.line = line;
        start.workDir = workDir;
        start.traceModeCreated = traceMode != nullptr;
        start.makeCamera = [](const ServerPaths& paths, int camera, vorlix::DisplayHook* display) {
            return MakeServerCamera(paths, camera, display);
        };
        start.startEditor = vorlix::OpenSettingsEditor;
        start.probeSource = ServerSourceProber();
        start.translate = ServerTranslator(workDir, line.camera);
        return vorlix::gui::RunDesktop(argc, argv, start, signalFd);
    }

    HeadlessMessageSink messages;
    SystemClock clock;
    AppServices services;
    services.makeCamera = [](const ServerPaths& paths, int camera) { return MakeServerCamera(paths, camera); };
    services.messages = &messages;
    services.clock = &clock;
    services.translate = ServerTranslator(workDir, line.camera);
    services.traceModeCreated = traceMode != nullptr;
    services.startEditor = vorlix::OpenSettingsEditor;

    ServerApp app(line, workDir, std::move(services));
    if (const std::optional<int> code = app.Start()) {
        return *code;
    }
    return RunMainLoop(app, signalFd);
}
