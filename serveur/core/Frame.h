// One captured frame as the capture layer hands it to the camera object.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>

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

class FullFrameSource;

struct Frame {
    std::span<const std::uint8_t> data;  // owned by the capture layer, valid during the call only
    int width = 0;
    int height = 0;
    int format = kFormatRgb24;
    int topDown = kTopDown;
    // A frame decoded at a fraction of the picture for detection ("Detection
    // scale" 2 or 4): the fraction, and where the whole picture is had when
    // one is written. 1 and null for a frame at full size.
    int scale = 1;
    FullFrameSource* full = nullptr;
};

// The same picture at full size, decoded on demand (at most once per frame),
// on the thread that measures the frame and during that call only.
class FullFrameSource {
public:
    virtual ~FullFrameSource() = default;
    [[nodiscard]] virtual std::pair<int, int> FullSize() const = 0;  // width, height
    virtual std::optional<Frame> FullFrame() = 0;
};

// What the capture layer delivers frames to (the camera object).
class FrameSink {
public:
    virtual ~FrameSink() = default;
    // Called on the capture thread for every frame; always succeeds.
    virtual void ProcessFrame(const Frame& frame) = 0;
};

}  // namespace vorlix
