// The pictures are compressed from 24-bit RGB, top row first. Frames of the
// other engine formats (the V4L2 build delivers the device's own) are
// converted first.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vorlix {

// True when `format` with `topDown` can be compressed as it is.
bool IsPlainRgb(int format, int topDown);

// Converts a width x height frame of `format` (16, 24, 32 bits, I420, YUY2)
// into `out` as width x height x 3 bytes, top row first. False (and `out`
// empty) when the format is unknown or the frame is too short.
bool ConvertFrameToRgb(std::span<const std::uint8_t> frame, int width, int height, int format, int topDown,
                       std::vector<std::uint8_t>& out);

}  // namespace vorlix
