// Waiting on the audio threads: a stop signal that sleeping threads wake up
// for, and the pacing that holds a device without a clock of its own (ALSA's
// "null" and "file" PCMs) to the sound's real time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vorlix::audio {

class StopSignal {
public:
    void Raise();
    void Clear();
    [[nodiscard]] bool Raised() const;
    // Sleeps for `duration` unless raised; false when raised (before or meanwhile).
    bool SleepFor(std::chrono::nanoseconds duration);

private:
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool raised_ = false;
};

// A real device delivers (or takes) the sound at its own rate and never waits
// here. A device without a clock would let a recording fill the disk at
// memory speed and end a playback at once; this keeps both at real time, at
// most `lead` ahead of it.
class RealTimePacer {
public:
    RealTimePacer(int bytesPerSecond, std::chrono::milliseconds lead);

    // How long to wait before the data up to `bytes` from the start may be handled.
    [[nodiscard]] std::chrono::nanoseconds DelayBefore(std::int64_t bytes) const;
    // How long until `bytes` from the start have been played at real time.
    [[nodiscard]] std::chrono::nanoseconds TimeUntilPlayed(std::int64_t bytes) const;

private:
    std::chrono::steady_clock::time_point start_;
    std::int64_t bytesPerSecond_;
    std::chrono::nanoseconds lead_;
};

}  // namespace vorlix::audio
