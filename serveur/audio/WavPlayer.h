// The zone sounds: PlayWavFile hands a sound file's name to the thread of
// this class, which decodes it (WAV and every other format libsndfile reads)
// and plays it on "device out". The caller (the capture thread) never waits;
// a new sound cuts the one still playing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "serveur/actions/ActionSeams.h"
#include "serveur/audio/AudioPacing.h"

namespace vorlix::audio {

class WavPlayer final : public SoundPlayer {
public:
    WavPlayer() = default;
    ~WavPlayer() override;
    WavPlayer(const WavPlayer&) = delete;
    WavPlayer& operator=(const WavPlayer&) = delete;

    // Relative names are read from `workDir`/wav; sounds play on the
    // playback device numbered `deviceOut`.
    void Configure(const std::string& workDir, int deviceOut);
    void Start();
    // Cuts a sound being played and joins the thread.
    void Stop();

    // Asks for the sound to be played; false when the player is not running
    // or the name is empty. What goes wrong later is traced.
    bool PlayWavFile(const std::string& name) override;

    // Waits until nothing is playing or waiting to play.
    bool WaitIdle(std::chrono::milliseconds limit) const;

private:
    void Run();
    void Play(const std::string& path, int device);

    mutable std::mutex mutex_;
    mutable std::condition_variable wake_;
    std::string workDir_;
    int deviceOut_ = 0;
    bool running_ = false;
    bool stopping_ = false;
    bool playing_ = false;
    std::optional<std::string> pending_;
    // raised for a newer sound or a stop; cleared when the next sound is taken
    StopSignal cut_;
    std::thread thread_;
};

}  // namespace vorlix::audio
