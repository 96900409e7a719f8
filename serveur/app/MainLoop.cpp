#include "serveur/app/MainLoop.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "libkestrel/trace/TraceLevels.h"

namespace vorlix::app {

kestrel::UniqueFd BlockServerSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    // Writes to a viewer that went away must fail with EPIPE, not end the server.
    signal(SIGPIPE, SIG_IGN);
    // A file-size limit must fail a picture write with EFBIG (said, and the
    // shot not counted), not end the server.
    signal(SIGXFSZ, SIG_IGN);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        return kestrel::UniqueFd();
    }
    return kestrel::UniqueFd(signalfd(-1, &set, SFD_CLOEXEC));
}

namespace {

int TimeoutMs(const ServerApp& app)
{
    // Without a pending timer the loop still wakes now and then to refresh the tray.
    constexpr int kIdleMs = 1000;
    const auto due = app.ScheduleDue();
    if (!due) {
        return kIdleMs;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, kIdleMs));
}

}  // namespace

int RunMainLoop(ServerApp& app, const kestrel::UniqueFd& signals)
{
    while (!app.Exiting()) {
        pollfd pfd{signals.Get(), POLLIN, 0};
        const int ready = poll(&pfd, signals.Valid() ? 1 : 0, TimeoutMs(app));
        if (ready < 0 && errno != EINTR) {
            TRACE_ERROR("poll failed (%d)", errno);
            break;
        }
        if (ready > 0 && (pfd.revents & POLLIN) != 0) {
            signalfd_siginfo info{};
            if (read(signals.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                if (info.ssi_signo == SIGHUP) {
                    TRACE_INFO("SIGHUP: reloading the configuration");
                    app.ReloadConfiguration();
                    TRACE_INFO("SIGHUP: configuration reloaded");
                } else {
                    TRACE_INFO("Signal %u: ending", info.ssi_signo);
                    app.Exit();
                    break;
                }
            }
        }
        const auto due = app.ScheduleDue();
        if (due && std::chrono::steady_clock::now() >= *due) {
            app.OnScheduleTimer();
        }
        // The desktop refreshes the tip when a viewer comes or goes; so do we.
        app.UpdateTray();
    }
    if (!app.Exiting()) {
        app.Exit();
    }
    return app.ExitCode();
}

}  // namespace vorlix::app
