// The waits of the remote trace modes, in one place so that tests can run
// the schedule in milliseconds while the programs keep the real values.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace sorrel {

struct RemoteTiming {
    // Connection attempts of one reset, and the pause after each failure.
    int connectAttempts = 10;
    std::chrono::milliseconds attemptPause{1000};
    // How long one connection attempt may take (a host that never answers).
    std::chrono::milliseconds connectTimeout{3000};
    // Bound of every send and of a reply read: a trace server that stops
    // reading or answering fails the output instead of holding the mode.
    std::chrono::milliseconds ioTimeout{10000};
    // The listener's back-off after a failed reconnection: the first delay,
    // doubled after each delay below the doubling limit (15 s ... 480 s, then
    // 960 s for ever).
    std::chrono::milliseconds firstBackoff{15000};
    std::chrono::milliseconds doublingLimit{900000};
    // How long the listening mode's constructor waits for its first
    // connection, so that the first lines of a program reach a trace server
    // that runs; without one it returns after the first refused attempt.
    std::chrono::milliseconds firstConnectWait{2000};
    // How the listener sleeps its back-off: the mode's own stoppable sleep
    // when empty; a test gives a clock of its own. Returns false to end the
    // listener.
    std::function<bool(std::chrono::milliseconds)> backoffSleeper;
};

// A stop flag that ends sleeps at once.
class StopSignal {
public:
    // Sleeps `duration` unless stopped meanwhile; false when stopped.
    bool SleepFor(std::chrono::milliseconds duration)
    {
        std::unique_lock lock(lock_);
        return !changed_.wait_for(lock, duration, [this] { return stopped_; });
    }
    void Stop()
    {
        {
            const std::lock_guard guard(lock_);
            stopped_ = true;
        }
        changed_.notify_all();
    }
    [[nodiscard]] bool Stopped()
    {
        const std::lock_guard guard(lock_);
        return stopped_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool stopped_ = false;
};

}  // namespace sorrel
