// Playing a recording back for the history view: the raw 8-bit stereo 44100 Hz
// file goes to "device out" from a thread of this class, while the view shows
// the pictures of the same stretch in step with it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "libkestrel/framework/UniqueFd.h"
#include "serveur/audio/AlsaPcm.h"
#include "serveur/audio/AudioConfig.h"
#include "serveur/audio/AudioPacing.h"

namespace vorlix::audio {

// The history view as the player sees it. PlaybackEnded comes from the
// player's thread: an implementation hands it to its own thread.
class PlaybackWindow {
public:
    virtual ~PlaybackWindow() = default;
    // A message box with a warning icon and no caption; the text is translated.
    virtual void ShowWarning(const std::string& text) = 0;
    // The whole recording has been played (the device stays open until StopPlayback).
    virtual void PlaybackEnded() {}
};

class RecordingPlayer {
public:
    using Translator = std::function<std::string(const std::string&)>;

    explicit RecordingPlayer(Translator translate = {});
    ~RecordingPlayer();
    RecordingPlayer(const RecordingPlayer&) = delete;
    RecordingPlayer& operator=(const RecordingPlayer&) = delete;

    void Configure(const AudioConfig& config);

    // Starts playing the recording at `path` and returns its expected playing
    // time in milliseconds (its length / 90 + 1), or 0 when nothing plays
    // (audio off, file or device failure; `window` shows device failures, the
    // trace shows them when it is null). A playback still open is stopped first.
    int PlayRecording(const std::string& path, PlaybackWindow* window);
    // 1 when a playback device was open (now silenced and closed), else 0.
    int StopPlayback();

    [[nodiscard]] bool DeviceOpen() const;
    // Whether the open playback has written and played all of its recording.
    [[nodiscard]] bool Finished() const;

private:
    struct Playback;

    void Warn(PlaybackWindow* window, const char* text) const;
    int StopLocked();
    static void Play(Playback& playback);

    Translator translate_;
    mutable std::mutex configMutex_;
    AudioConfig config_;
    // PlayRecording and StopPlayback one at a time, whatever thread calls them
    mutable std::mutex control_;
    std::unique_ptr<Playback> playback_;
};

}  // namespace vorlix::audio
