#include "serveur/audio/AudioManagement.h"

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/audio/AlsaPcm.h"

namespace vorlix::audio {

namespace {

std::string DeviceText(int number, PcmDirection direction)
{
    const std::optional<std::string> name = PcmDeviceName(number, direction);
    return name ? *name : "no device " + std::to_string(number);
}

// "0 default, 1 null, 2 ...": the numbers "device in" and "device out" take.
std::string NumberedDevices(PcmDirection direction)
{
    std::string text = "0 default";
    int number = 0;
    for (const std::string& name : PcmDeviceNames(direction)) {
        text += ", " + std::to_string(++number) + " " + name;
    }
    return text;
}

}  // namespace

AudioManagement::AudioManagement(Options options)
    : options_(std::move(options)), recorder_(options_.clock), playback_(options_.translate)
{
}

AudioManagement::~AudioManagement()
{
    Stop();
}

void AudioManagement::Apply(const AudioConfig& config)
{
    recorder_.Configure(config);
    playback_.Configure(config);
    sounds_.Configure(options_.workDir, config.deviceOut);
    if (config.Enabled()) {
        TRACE_INFO("Audio recording from %s, playing on %s",
                   DeviceText(config.deviceIn, PcmDirection::kCapture).c_str(),
                   DeviceText(config.deviceOut, PcmDirection::kPlayback).c_str());
        TRACE_INFO("Audio inputs: %s", NumberedDevices(PcmDirection::kCapture).c_str());
        TRACE_INFO("Audio outputs: %s", NumberedDevices(PcmDirection::kPlayback).c_str());
    }
}

void AudioManagement::Start()
{
    Apply(LoadAudioConfig(options_.settingsFile));
    recorder_.Start();
    sounds_.Start();
}

void AudioManagement::Reload()
{
    Apply(LoadAudioConfig(options_.settingsFile));
}

void AudioManagement::Stop()
{
    playback_.StopPlayback();
    sounds_.Stop();
    recorder_.Stop();
}

}  // namespace vorlix::audio
