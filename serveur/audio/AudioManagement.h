// The audio part of one camera: the recorder, the zone sounds and the history
// player, with their settings read from the camera's settings file. The
// server's wiring owns one, starts it with the configuration load, reloads it
// with the configuration and stops it before the camera goes.
#pragma once

#include <string>

#include "serveur/actions/ActionSeams.h"
#include "serveur/audio/AudioConfig.h"
#include "serveur/audio/Recorder.h"
#include "serveur/audio/RecordingPlayer.h"
#include "serveur/audio/WavPlayer.h"

namespace vorlix::audio {

class AudioManagement {
public:
    struct Options {
        std::string settingsFile;  // section "Vorlix Audio Management"
        std::string workDir;       // zone sounds are read from its "wav" folder
        Recorder::Clock clock;     // default: time()
        RecordingPlayer::Translator translate;
    };

    explicit AudioManagement(Options options);
    ~AudioManagement();
    AudioManagement(const AudioManagement&) = delete;
    AudioManagement& operator=(const AudioManagement&) = delete;

    // Reads the settings and starts the recorder's and the sounds' threads.
    void Start();
    // Reads the settings again; a running recording goes on with the new times.
    void Reload();
    // Ends a running recording (kept), cuts a sound, closes a playback, joins.
    void Stop();

    void SetEventsWindow(EventsWindow* window) { recorder_.SetEventsWindow(window); }

    [[nodiscard]] AudioConfig Config() const { return recorder_.Config(); }
    Recorder& GetRecorder() { return recorder_; }
    WavPlayer& Sounds() { return sounds_; }
    RecordingPlayer& Playback() { return playback_; }

private:
    void Apply(const AudioConfig& config);

    Options options_;
    Recorder recorder_;
    WavPlayer sounds_;
    RecordingPlayer playback_;
};

}  // namespace vorlix::audio
