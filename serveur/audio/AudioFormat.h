// The one sound format of recordings and their playback: PCM, 2 channels,
// 8 bits per sample (unsigned), 44100 samples per second, no file header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlix::audio {

inline constexpr int kChannels = 2;
inline constexpr int kBitsPerSample = 8;
inline constexpr int kSampleRate = 44100;
inline constexpr int kBlockAlign = kChannels * kBitsPerSample / 8;  // bytes per frame
inline constexpr int kBytesPerSecond = kSampleRate * kBlockAlign;   // 88200

// The recorder hands the file whole blocks of this size, with this many of
// them between the device and the file.
inline constexpr std::size_t kBlockBytes = 4096;
inline constexpr int kBlocksInFlight = 20;

// The playing time of a recording of `bytes` bytes as the history view counts
// it: 90 bytes per millisecond, plus one.
inline constexpr std::int64_t ExpectedPlayMs(std::int64_t bytes)
{
    return bytes / 90 + 1;
}

}  // namespace vorlix::audio
