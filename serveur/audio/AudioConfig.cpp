#include "serveur/audio/AudioConfig.h"

#include "libkestrel/profile/Profile.h"

namespace vorlix::audio {

AudioConfig LoadAudioConfig(const std::string& settingsFile)
{
    namespace profile = kestrel::profile;
    AudioConfig config;
    if (!profile::Read(settingsFile, kAudioSection, "device in").has_value()) {
        return config;
    }
    config.management = profile::GetInt(settingsFile, kAudioSection, "management", 0);
    config.deviceIn = profile::GetInt(settingsFile, kAudioSection, "device in", 0);
    config.deviceOut = profile::GetInt(settingsFile, kAudioSection, "device out", kNoDevice);
    config.minTime = profile::GetInt(settingsFile, kAudioSection, "min time", 0);
    config.maxTime = profile::GetInt(settingsFile, kAudioSection, "max time", 0);
    config.noActivityTime = profile::GetInt(settingsFile, kAudioSection, "no activity time", 0);
    return config;
}

}  // namespace vorlix::audio
