#include "serveur/audio/WavPlayer.h"

#include <sndfile.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/audio/AlsaPcm.h"
#include "serveur/audio/AudioNames.h"
#include "serveur/audio/PcmPlayback.h"

namespace vorlix::audio {

namespace {

// What the device can be asked to play: beyond these a file is refused
// rather than handed to the device.
constexpr int kMaxChannels = 32;
constexpr int kMaxRate = 768000;

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

}  // namespace

WavPlayer::~WavPlayer()
{
    Stop();
}

void WavPlayer::Configure(const std::string& workDir, int deviceOut)
{
    const std::lock_guard lock(mutex_);
    workDir_ = workDir;
    deviceOut_ = deviceOut;
}

void WavPlayer::Start()
{
    const std::lock_guard lock(mutex_);
    if (running_) {
        return;
    }
    running_ = true;
    stopping_ = false;
    pending_.reset();
    thread_ = std::thread([this] { Run(); });
}

void WavPlayer::Stop()
{
    std::thread thread;
    {
        const std::lock_guard lock(mutex_);
        if (!running_) {
            return;
        }
        running_ = false;
        stopping_ = true;
        pending_.reset();
        thread = std::move(thread_);
    }
    cut_.Raise();
    wake_.notify_all();
    thread.join();
}

bool WavPlayer::PlayWavFile(const std::string& name)
{
    {
        const std::lock_guard lock(mutex_);
        if (!running_ || name.empty()) {
            return false;
        }
        pending_ = SoundPath(workDir_, name);
        cut_.Raise();
    }
    wake_.notify_all();
    return true;
}

bool WavPlayer::WaitIdle(std::chrono::milliseconds limit) const
{
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, limit, [this] { return !pending_ && !playing_; });
}

void WavPlayer::Run()
{
    for (;;) {
        std::string path;
        int device = 0;
        {
            std::unique_lock lock(mutex_);
            playing_ = false;
            wake_.notify_all();
            wake_.wait(lock, [this] { return stopping_ || pending_.has_value(); });
            if (stopping_) {
                return;
            }
            path = std::move(*pending_);
            pending_.reset();
            device = deviceOut_;
            playing_ = true;
            cut_.Clear();  // under the lock: a newer sound asked for after this raises it again
        }
        Play(path, device);
    }
}

void WavPlayer::Play(const std::string& path, int device)
{
    SF_INFO format{};
    const SndfileHandle sound(sf_open(path.c_str(), SFM_READ, &format));
    if (!sound) {
        TRACE_WARN("Unable to play %s (%s)", path.c_str(), sf_strerror(nullptr));
        return;
    }
    if (format.channels < 1 || format.channels > kMaxChannels || format.samplerate < 1 ||
        format.samplerate > kMaxRate) {
        TRACE_WARN("Unable to play %s (%d channels at %d Hz)", path.c_str(), format.channels, format.samplerate);
        return;
    }
    const std::optional<std::string> name = PcmDeviceName(device, PcmDirection::kPlayback);
    if (!name) {
        TRACE_WARN("Unable to play %s: no playback device %d", path.c_str(), device);
        return;
    }
    const PcmOpenResult opened =
        OpenPcm(*name, PcmDirection::kPlayback, SampleFormat::kS16, format.channels, format.samplerate);
    if (!opened.pcm) {
        TRACE_WARN("Unable to play %s on %s (%s)", path.c_str(), name->c_str(), PcmErrorText(opened.error).c_str());
        return;
    }
    const int frameBytes = format.channels * static_cast<int>(sizeof(short));
    PcmPlayback playback(opened.pcm.get(), frameBytes, format.samplerate, cut_);
    // a tenth of a second per step
    const sf_count_t frames = std::max(format.samplerate / 10, 1);
    std::vector<short> samples(static_cast<std::size_t>(frames) * static_cast<std::size_t>(format.channels));
    for (;;) {
        const sf_count_t got = sf_readf_short(sound.get(), samples.data(), frames);
        if (got <= 0) {
            break;
        }
        const PcmPlayback::Outcome outcome = playback.Write(samples.data(), static_cast<std::size_t>(got) * frameBytes);
        if (outcome == PcmPlayback::Outcome::kInterrupted) {
            playback.Drop();
            return;
        }
        if (outcome == PcmPlayback::Outcome::kFailed) {
            TRACE_WARN("Unable to play %s on %s (%s)", path.c_str(), name->c_str(),
                       PcmErrorText(playback.Error()).c_str());
            return;
        }
    }
    if (playback.Drain() == PcmPlayback::Outcome::kInterrupted) {
        playback.Drop();
    }
}

}  // namespace vorlix::audio
