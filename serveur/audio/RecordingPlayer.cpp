#include "serveur/audio/RecordingPlayer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <vector>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/audio/AudioFormat.h"
#include "serveur/audio/PcmPlayback.h"

namespace vorlix::audio {

namespace {

// Bytes read and written per step: a tenth of a second.
constexpr std::size_t kChunkBytes = kBytesPerSecond / 10;
// The first step, written before PlayRecording returns: the device holds it
// before anything is announced as playing.
constexpr std::size_t kPrimeBytes = kBytesPerSecond / 5;

// Reads up to `size` bytes; fewer only at the end of the file or on an error.
std::size_t ReadSome(int fd, std::uint8_t* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, data + done, size - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

}  // namespace

struct RecordingPlayer::Playback {
    PcmHandle pcm;
    kestrel::UniqueFd file;
    std::int64_t length = 0;
    std::int64_t sent = 0;
    PlaybackWindow* window = nullptr;
    StopSignal stop;
    std::unique_ptr<PcmPlayback> writer;
    std::atomic<bool> finished{false};
    std::thread thread;
};

RecordingPlayer::RecordingPlayer(Translator translate) : translate_(std::move(translate)) {}

RecordingPlayer::~RecordingPlayer()
{
    StopPlayback();
}

void RecordingPlayer::Configure(const AudioConfig& config)
{
    const std::lock_guard lock(configMutex_);
    config_ = config;
}

void RecordingPlayer::Warn(PlaybackWindow* window, const char* text) const
{
    const std::string shown = translate_ ? translate_(text) : std::string(text);
    if (window != nullptr) {
        window->ShowWarning(shown);
    } else {
        TRACE_WARN("%s", shown.c_str());
    }
}

int RecordingPlayer::PlayRecording(const std::string& path, PlaybackWindow* window)
{
    AudioConfig config;
    {
        const std::lock_guard lock(configMutex_);
        config = config_;
    }
    if (!config.Enabled()) {
        return 0;
    }
    const std::lock_guard control(control_);
    StopLocked();

    // non-blocking open: a FIFO under a recording's name must not hold the caller
    kestrel::UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    int error = errno;
    if (file && ::fstat(file.Get(), &info) != 0) {
        error = errno;
        file.Reset();
    } else if (file && !S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        file.Reset();
    }
    if (!file) {
        errno = error;
        TRACE_WARN("fopen (%s)(%d)", path.c_str(), error);
        TRACE_WARN_DETAIL();
        return 0;
    }

    const std::optional<std::string> device = PcmDeviceName(config.deviceOut, PcmDirection::kPlayback);
    PcmOpenResult opened;
    if (device) {
        opened = OpenPcm(*device, PcmDirection::kPlayback, SampleFormat::kU8, kChannels, kSampleRate);
    }
    if (!opened.pcm) {
        TRACE_DEBUG("playback device %d (%s): %s", config.deviceOut, device ? device->c_str() : "none",
                    PcmErrorText(device ? opened.error : -ENODEV).c_str());
        Warn(window, "Failed to open waveform output device.");
        return 0;
    }

    auto playback = std::make_unique<Playback>();
    playback->pcm = std::move(opened.pcm);
    playback->file = std::move(file);
    playback->length = static_cast<std::int64_t>(info.st_size);
    playback->window = window;
    playback->writer = std::make_unique<PcmPlayback>(playback->pcm.get(), kBlockAlign, kSampleRate, playback->stop);
    TRACE_INFO("PlayReg (%d) %s", static_cast<int>(std::min<std::int64_t>(playback->length, INT_MAX)), path.c_str());

    // the first step is written here: a device that takes nothing fails now
    std::vector<std::uint8_t> prime(
        static_cast<std::size_t>(std::min<std::int64_t>(playback->length, static_cast<std::int64_t>(kPrimeBytes))));
    const std::size_t got = ReadSome(playback->file.Get(), prime.data(), prime.size());
    const std::size_t whole = got - got % kBlockAlign;
    if (playback->writer->Write(prime.data(), whole) != PcmPlayback::Outcome::kDone) {
        errno = playback->writer->SystemError();
        TRACE_WARN("waveOutWrite (%d)", errno);
        TRACE_WARN_DETAIL();
        playback.reset();
        Warn(window, "Failed to write block to device");
        return 0;
    }
    playback->sent = static_cast<std::int64_t>(whole);
    if (got < prime.size()) {
        playback->length = playback->sent;  // the file was shorter than its size said
    }

    Playback& running = *playback;
    running.thread = std::thread([&running] { Play(running); });
    playback_ = std::move(playback);
    const std::int64_t expected = ExpectedPlayMs(static_cast<std::int64_t>(info.st_size));
    return static_cast<int>(std::min<std::int64_t>(expected, INT_MAX));
}

void RecordingPlayer::Play(Playback& playback)
{
    std::vector<std::uint8_t> chunk(kChunkBytes);
    while (playback.sent < playback.length) {
        const auto want =
            static_cast<std::size_t>(std::min<std::int64_t>(playback.length - playback.sent, kChunkBytes));
        const std::size_t got = ReadSome(playback.file.Get(), chunk.data(), want);
        const std::size_t whole = got - got % kBlockAlign;
        const PcmPlayback::Outcome outcome = playback.writer->Write(chunk.data(), whole);
        if (outcome == PcmPlayback::Outcome::kInterrupted) {
            return;
        }
        if (outcome == PcmPlayback::Outcome::kFailed) {
            errno = playback.writer->SystemError();
            TRACE_WARN("waveOutWrite (%d)", errno);
            TRACE_WARN_DETAIL();
            return;
        }
        playback.sent += static_cast<std::int64_t>(got);
        if (got < want) {
            break;  // shortened meanwhile
        }
    }
    if (playback.writer->Drain() != PcmPlayback::Outcome::kDone) {
        return;
    }
    playback.finished.store(true);
    if (playback.window != nullptr) {
        playback.window->PlaybackEnded();
    }
}

int RecordingPlayer::StopPlayback()
{
    const std::lock_guard control(control_);
    return StopLocked();
}

int RecordingPlayer::StopLocked()
{
    if (!playback_) {
        return 0;
    }
    const std::unique_ptr<Playback> playback = std::move(playback_);
    playback->stop.Raise();
    if (playback->thread.joinable()) {
        playback->thread.join();
    }
    playback->writer->Drop();
    return 1;
}

bool RecordingPlayer::DeviceOpen() const
{
    const std::lock_guard control(control_);
    return playback_ != nullptr;
}

bool RecordingPlayer::Finished() const
{
    const std::lock_guard control(control_);
    return playback_ != nullptr && playback_->finished.load();
}

}  // namespace vorlix::audio
