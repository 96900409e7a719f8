// A program that traces through a listening remote trace mode, for the
// end-to-end test of qxtraced: trace_client PORT COUNT LOGNAME PACE_US.
// Each step traces "[TRACE] t <i>" (level 241, trace), "u <i>" (level 100,
// trace and log) and "[INFO ] i <i>" (level 242, off until the trace server
// switches it on). Halfway it waits (at most 10 s) for level 242.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "libsorrel/QXPRemoteTraceMode.h"
#include "libsorrel/SorrelTrace.h"

int main(int argc, char** argv)
{
    using namespace std::chrono_literals;
    if (argc != 5) {
        std::fprintf(stderr, "usage: trace_client PORT COUNT LOGNAME PACE_US\n");
        return 2;
    }
    const int count = static_cast<int>(std::strtol(argv[2], nullptr, 10));
    const int pace = static_cast<int>(std::strtol(argv[4], nullptr, 10));
    sorrel::RemoteTiming timing;
    timing.connectAttempts = 3;
    timing.attemptPause = 50ms;
    timing.firstBackoff = 100ms;
    timing.doublingLimit = 400ms;
    timing.firstConnectWait = 3000ms;
    auto mode = std::make_unique<sorrel::QXPRemoteTraceMode>(sorrel::CTraceMode::kTraceSlot, "e2e", argv[3], 10,
                                                             "127.0.0.1", argv[1], nullptr, timing);
    mode->InitLevelsStatic();
    EnableTrace(241);
    EnableTrace(100);
    EnableLog(100);
    std::printf("connected %d\n", mode->Connected() ? 1 : 0);
    std::fflush(stdout);
    for (int i = 0; i < count; ++i) {
        if (i == count / 2) {
            const auto deadline = std::chrono::steady_clock::now() + 10s;
            while (IsTraceEnabled(242) == 0 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(10ms);
            }
            std::printf("level 242 %s\n", IsTraceEnabled(242) != 0 ? "on" : "never came");
            std::fflush(stdout);
        }
        SorTraceln(241, "[TRACE] t %05d", i);
        SorTraceln(100, "u %05d", i);
        SorTraceln(242, "<COLOR 4>[INFO ] i %05d</COLOR>", i);
        if (pace > 0) {
            ::usleep(static_cast<useconds_t>(pace));
        }
    }
    std::printf("done\n");
    std::fflush(stdout);
    mode.reset();
    return 0;
}
