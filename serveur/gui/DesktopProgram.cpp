#include "serveur/gui/DesktopProgram.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/app/EventsQueue.h"
#include "serveur/app/ServerApp.h"
#include "serveur/app/WindowDisplay.h"
#include "serveur/gui/Dialogs.h"
#include "serveur/gui/MainWindow.h"

namespace vorlix::gui {

int RunDesktop(int argc, char** argv, const DesktopStart& start, const kestrel::UniqueFd& signalFd)
{
    QApplication qapp(argc, argv);
    // The program lives on in the tray when its window is closed.
    QApplication::setQuitOnLastWindowClosed(false);

    // The display and the events queue outlive the camera object, whose threads use them.
    app::WindowDisplay display;
    app::EventsQueue events;
    QtMessageSink messages;
    app::SystemClock clock;

    app::AppServices services;
    services.makeCamera = [&start, &display](const app::ServerPaths& paths, int camera) {
        return start.makeCamera(paths, camera, &display);
    };
    services.messages = &messages;
    services.clock = &clock;
    services.translate = start.translate;
    services.traceModeCreated = start.traceModeCreated;
    services.events = &events;
    services.startEditor = start.startEditor;
    services.probeSource = start.probeSource;

    app::ServerApp app(start.line, start.workDir, std::move(services));
    MainWindow window(app, display, events, start.translate);
    messages.SetParent(&window);
    if (const std::optional<int> code = app.Start()) {
        return *code;
    }
    window.CreateTray();
    window.ShowAtStart();
    window.RearmSchedule();

    QObject::connect(
        &window, &MainWindow::ProgramEnded, &qapp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);

    // Signals arrive as readable bytes on the GUI thread, never in a handler.
    std::unique_ptr<QSocketNotifier> notifier;
    if (signalFd.Valid()) {
        notifier = std::make_unique<QSocketNotifier>(signalFd.Get(), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &window, [&signalFd, &app, &window] {
            signalfd_siginfo info{};
            if (read(signalFd.Get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
                return;
            }
            if (info.ssi_signo == SIGHUP) {
                TRACE_INFO("SIGHUP: reloading the configuration");
                app.ReloadConfiguration();
                window.RearmSchedule();
                return;
            }
            TRACE_INFO("Signal %u: ending", info.ssi_signo);
            window.EndProgram();
        });
    }
    const int code = QApplication::exec();
    window.EndProgram();
    return code != 0 ? code : app.ExitCode();
}

}  // namespace vorlix::gui
