// One captured frame as the capture layer hands it to the camera object.
#pragma once

#include <cstdint>
#include <span>

namespace vorlix {

// Pixel format codes of the detection engine.
inline constexpr int kFormatRgb16 = 16;
inline constexpr int kFormatRgb24 = 24;
inline constexpr int kFormatRgb32 = 32;
inline constexpr int kFourccI420 = 0x30323449;
inline constexpr int kFourccYuy2 = 0x32595559;

// Row order of the delivered frames.
inline constexpr int kTopDown = 1;   // row 0 is the top of the picture
inline constexpr int kBottomUp = 2;  // row 0 is the bottom

struct Frame {
    std::span<const std::uint8_t> data;  // owned by the capture layer, valid during the call only
    int width = 0;
    int height = 0;
    int format = kFormatRgb24;
    int topDown = kTopDown;
};

// What the capture layer delivers frames to (the camera object).
class FrameSink {
public:
    virtual ~FrameSink() = default;
    // Called on the capture thread for every frame; always succeeds.
    virtual void ProcessFrame(const Frame& frame) = 0;
};

}  // namespace vorlix
