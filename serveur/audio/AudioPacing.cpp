#include "serveur/audio/AudioPacing.h"

#include <algorithm>

namespace vorlix::audio {

void StopSignal::Raise()
{
    {
        const std::lock_guard lock(mutex_);
        raised_ = true;
    }
    wake_.notify_all();
}

void StopSignal::Clear()
{
    const std::lock_guard lock(mutex_);
    raised_ = false;
}

bool StopSignal::Raised() const
{
    const std::lock_guard lock(mutex_);
    return raised_;
}

bool StopSignal::SleepFor(std::chrono::nanoseconds duration)
{
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, duration, [this] { return raised_; });
}

RealTimePacer::RealTimePacer(int bytesPerSecond, std::chrono::milliseconds lead)
    : start_(std::chrono::steady_clock::now()), bytesPerSecond_(std::max(bytesPerSecond, 1)), lead_(lead)
{
}

std::chrono::nanoseconds RealTimePacer::DelayBefore(std::int64_t bytes) const
{
    return TimeUntilPlayed(bytes) - lead_;
}

std::chrono::nanoseconds RealTimePacer::TimeUntilPlayed(std::int64_t bytes) const
{
    // seconds * 1e9 / rate, split so a long sound does not overflow
    const std::int64_t whole = bytes / bytesPerSecond_;
    const std::int64_t rest = bytes % bytesPerSecond_;
    const std::chrono::nanoseconds position =
        std::chrono::seconds(whole) + std::chrono::nanoseconds(rest * 1000000000 / bytesPerSecond_);
    return position - (std::chrono::steady_clock::now() - start_);
}

}  // namespace vorlix::audio
