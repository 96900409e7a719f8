// The settings of section "Vorlix Audio Management".
#pragma once

#include <string>

#include "serveur/core/SettingsSections.h"

namespace vorlix::audio {

inline constexpr const char* kAudioSection = section::kAudio;
// Read for an absent "device out" when the section exists: names no device.
inline constexpr int kNoDevice = 98657;

struct AudioConfig {
    int management = 0;       // recording and history playback enabled (non-zero)
    int deviceIn = 0;         // index in the capture device list, 0 = "default"
    int deviceOut = 0;        // index in the playback device list, 0 = "default"
    int minTime = 5;          // seconds after which a recording is kept when it ends
    int maxTime = 600;        // seconds after which a recording ends
    int noActivityTime = 10;  // seconds without an event after which it ends

    bool Enabled() const { return management != 0; }
};

// The section as the configuration loader leaves it: when "device in" is
// absent the loader writes the defaults, so they are what is read; when it is
// present, absent times read as 0 and an absent "device out" as kNoDevice.
AudioConfig LoadAudioConfig(const std::string& settingsFile);

}  // namespace vorlix::audio
