// qxtraced: the trace server that users run beside their cameras.
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "libkestrel/framework/UniqueFd.h"
#include "tools/qxtraced/Options.h"
#include "tools/qxtraced/TraceServer.h"

#ifndef QXTRACED_VERSION
#define QXTRACED_VERSION "unknown"
#endif

int main(int argc, char** argv)
{
    using namespace qxtraced;
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    std::optional<CommandLine> line = ParseCommandLine(args, error);
    if (!line) {
        std::fprintf(stderr, "qxtraced: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (line->help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (line->version) {
        std::printf("qxtraced %s\n", QXTRACED_VERSION);
        return 0;
    }
    const std::string& directory = line->server.logDirectory;
    if (::mkdir(directory.c_str(), 0750) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "qxtraced: cannot make the log directory %s: %s\n", directory.c_str(),
                     std::strerror(errno));
        return 1;
    }
    line->server.colour =
        line->colour == ColourChoice::kAlways || (line->colour == ColourChoice::kAuto && ::isatty(STDOUT_FILENO) == 1);

    // Ctrl-C and SIGTERM end the loop through a descriptor it watches.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopping, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const kestrel::UniqueFd stopFd(::signalfd(-1, &stopping, SFD_CLOEXEC));

    TraceServer server(line->server, stdout, stderr);
    if (!server.Listen()) {
        return 1;
    }
    server.Run(STDIN_FILENO, stopFd.Get());
    return 0;
}
