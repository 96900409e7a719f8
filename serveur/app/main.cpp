// vorlix / vorlix_vfw: the camera server. This build runs headless
// ("vorlix --headless [n]"); the desktop window comes over the same frame.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "serveur/app/MainLoop.h"
#include "serveur/app/ServerApp.h"
#include "serveur/app/ServerCamera.h"
#include "serveur/app/TraceSetup.h"

int main(int argc, char** argv)
{
    using namespace vorlix::app;
    // Before any thread exists, so every worker inherits the blocked signals.
    const kestrel::UniqueFd signalFd = BlockServerSignals();

    const std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine line = ParseCommandLine(args);
    if (!line.headless) {
        std::fprintf(stderr, "vorlix: this build has no desktop window; running headless\n");
        line.headless = true;
    }
    if (line.verbose) {
        InstallStderrTrace();
    }

    std::error_code ec;
    const std::string workDir = std::filesystem::current_path(ec).string();

    HeadlessMessageSink messages;
    SystemClock clock;
    AppServices services;
    services.makeCamera = MakeServerCamera;
    services.messages = &messages;
    services.clock = &clock;
    services.translate = ServerTranslator(workDir, line.camera);
    services.traceModeCreated = line.verbose;

    ServerApp app(line, workDir, std::move(services));
    if (const std::optional<int> code = app.Start()) {
        return *code;
    }
    return RunMainLoop(app, signalFd);
}
