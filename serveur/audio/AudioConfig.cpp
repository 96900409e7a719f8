#include "serveur/audio/AudioConfig.h"

#include "libkestrel/profile/Profile.h"
#include "serveur/core/SettingRanges.h"

namespace vorlix::audio {

AudioConfig LoadAudioConfig(const std::string& settingsFile)
{
    namespace profile = kestrel::profile;
    AudioConfig config;
    if (!profile::Read(settingsFile, kAudioSection, "device in").has_value()) {
        return config;
    }
    // The ranges are the settings table's; a value outside is mended and said.
    config.management = ReadRangedInt(settingsFile, kAudioSection, "management");
    config.deviceIn = ReadRangedInt(settingsFile, kAudioSection, "device in");
    config.deviceOut = ReadRangedInt(settingsFile, kAudioSection, "device out", kNoDevice);
    config.minTime = ReadRangedInt(settingsFile, kAudioSection, "min time");
    config.maxTime = ReadRangedInt(settingsFile, kAudioSection, "max time");
    config.noActivityTime = ReadRangedInt(settingsFile, kAudioSection, "no activity time");
    return config;
}

}  // namespace vorlix::audio
