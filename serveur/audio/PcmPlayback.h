// Writing sound to an open playback device from an audio thread: every device
// wait has a deadline, the writing is held to real time (AudioPacing.h), and a
// raised stop signal ends it within one wait.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serveur/audio/AlsaPcm.h"
#include "serveur/audio/AudioPacing.h"

namespace vorlix::audio {

class PcmPlayback {
public:
    enum class Outcome { kDone, kInterrupted, kFailed };

    PcmPlayback(snd_pcm_t* pcm, int frameBytes, int rate, StopSignal& stop);

    // Writes `bytes` bytes (whole frames) after those written before.
    Outcome Write(const void* data, std::size_t bytes);
    // Waits until everything written has been played, at most the time the
    // sound still needs plus two seconds.
    Outcome Drain();
    // Drops what the device still holds (a stop or a replaced sound).
    void Drop();

    // The ALSA error that ended a kFailed write, and errno at that moment.
    [[nodiscard]] int Error() const { return error_; }
    [[nodiscard]] int SystemError() const { return systemError_; }
    [[nodiscard]] std::int64_t BytesWritten() const { return written_; }

private:
    Outcome Fail(long error);

    snd_pcm_t* pcm_;
    int frameBytes_;
    int rate_;
    StopSignal& stop_;
    RealTimePacer pacer_;
    std::int64_t written_ = 0;
    int error_ = 0;
    int systemError_ = 0;
};

}  // namespace vorlix::audio
