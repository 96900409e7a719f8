#include "serveur/audio/PcmPlayback.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>

namespace vorlix::audio {

namespace {

using namespace std::chrono_literals;

// One device wait at most this long, so a stop is seen in time.
constexpr int kWaitMilliseconds = 100;
// How far ahead of real time the writing may run: enough to keep a real
// device fed across a late wake-up.
constexpr auto kLead = 250ms;
constexpr auto kDrainPoll = 20ms;
constexpr auto kDrainGrace = 2s;
// A device that takes nothing for this long is taken as stuck.
constexpr auto kStallLimit = 2s;

}  // namespace

PcmPlayback::PcmPlayback(snd_pcm_t* pcm, int frameBytes, int rate, StopSignal& stop)
    : pcm_(pcm),
      frameBytes_(std::max(frameBytes, 1)),
      rate_(std::max(rate, 1)),
      stop_(stop),
      pacer_(rate_ * frameBytes_, std::chrono::duration_cast<std::chrono::milliseconds>(kLead))
{
}

PcmPlayback::Outcome PcmPlayback::Fail(long error)
{
    systemError_ = errno;
    error_ = static_cast<int>(error);
    return Outcome::kFailed;
}

PcmPlayback::Outcome PcmPlayback::Write(const void* data, std::size_t bytes)
{
    const auto* next = static_cast<const unsigned char*>(data);
    std::int64_t frames = static_cast<std::int64_t>(bytes) / frameBytes_;
    // a twentieth of a second per call keeps the pacing fine-grained
    const std::int64_t step = std::max(rate_ / 20, 1);
    auto lastProgress = std::chrono::steady_clock::now();
    while (frames > 0) {
        if (stop_.Raised()) {
            return Outcome::kInterrupted;
        }
        const std::int64_t count = std::min(frames, step);
        const auto delay = pacer_.DelayBefore(written_ + count * frameBytes_);
        if (delay > 0ns) {
            if (!stop_.SleepFor(delay)) {
                return Outcome::kInterrupted;
            }
            lastProgress = std::chrono::steady_clock::now();
        }
        const snd_pcm_sframes_t done = snd_pcm_writei(pcm_, next, static_cast<snd_pcm_uframes_t>(count));
        if (done <= 0 && std::chrono::steady_clock::now() - lastProgress > kStallLimit) {
            errno = ETIMEDOUT;
            return Fail(-ETIMEDOUT);
        }
        if (done == -EAGAIN) {
            const int ready = snd_pcm_wait(pcm_, kWaitMilliseconds);
            if (ready < 0 && snd_pcm_recover(pcm_, ready, 1) < 0) {
                return Fail(ready);
            }
            continue;
        }
        if (done < 0) {
            // an underrun after a late wake-up is mended; anything else ends the sound
            if (snd_pcm_recover(pcm_, static_cast<int>(done), 1) < 0) {
                return Fail(done);
            }
            continue;
        }
        lastProgress = std::chrono::steady_clock::now();
        next += done * frameBytes_;
        frames -= done;
        written_ += done * frameBytes_;
    }
    return Outcome::kDone;
}

PcmPlayback::Outcome PcmPlayback::Drain()
{
    const auto playing = pacer_.TimeUntilPlayed(written_);
    if (playing > 0ns && !stop_.SleepFor(playing)) {
        return Outcome::kInterrupted;
    }
    const int drained = snd_pcm_drain(pcm_);
    if (drained == 0) {
        return Outcome::kDone;
    }
    if (drained != -EAGAIN) {
        return Fail(drained);
    }
    // non-blocking: the device drains on its own; look at it until it has
    const auto deadline = std::chrono::steady_clock::now() + kDrainGrace;
    while (snd_pcm_state(pcm_) == SND_PCM_STATE_DRAINING) {
        if (std::chrono::steady_clock::now() > deadline) {
            return Outcome::kDone;
        }
        if (!stop_.SleepFor(kDrainPoll)) {
            return Outcome::kInterrupted;
        }
    }
    return Outcome::kDone;
}

void PcmPlayback::Drop()
{
    snd_pcm_drop(pcm_);
}

}  // namespace vorlix::audio
