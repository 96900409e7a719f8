// ALSA devices as the audio part uses them: the numbered device lists of the
// settings, owned PCM handles, and opening with the sound format set.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _snd_pcm snd_pcm_t;  // NOLINT(modernize-use-using): ALSA's own declaration

namespace vorlix::audio {

struct PcmCloser {
    void operator()(snd_pcm_t* pcm) const;
};
using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

enum class PcmDirection { kCapture, kPlayback };
enum class SampleFormat { kU8, kS16 };

// ALSA's PCM device list for one direction, in the order `arecord -L`
// (capture) and `aplay -L` (playback) print it.
std::vector<std::string> PcmDeviceNames(PcmDirection direction);

// The device a "device in" / "device out" number names: 0 is "default", n >= 1
// the n-th name of the list; nullopt when there is no such device.
std::optional<std::string> PcmDeviceName(int number, PcmDirection direction);

struct PcmOpenResult {
    PcmHandle pcm;        // null on failure
    int error = 0;        // the ALSA result (a negative error code) on failure
    int systemError = 0;  // errno right after the failure
};

// Opens `name` in non-blocking mode (a busy device fails at once instead of
// holding the thread), interleaved, with the format, channels and rate set;
// the rate is converted when the device does not have it.
PcmOpenResult OpenPcm(const std::string& name, PcmDirection direction, SampleFormat format, int channels, int rate);

// ALSA's text for one of its error codes.
std::string PcmErrorText(int error);

}  // namespace vorlix::audio
