// How many bytes the capture formats take: the one place the capture layers,
// the detection engine and the picture conversion ask.
#pragma once

#include <cstddef>

#include "serveur/core/Frame.h"

namespace vorlix {

// Bytes per pixel of the plane the zone measures compare: the packed RGB and
// YUY2 samples, the luma plane of I420. 0 for an unknown code.
constexpr int BytesPerPixel(int format)
{
    switch (format) {
        case kFormatRgb16:
        case kFourccYuy2:
            return 2;
        case kFormatRgb24:
            return 3;
        case kFormatRgb32:
            return 4;
        case kFourccI420:
            return 1;
        default:
            return 0;
    }
}

// Bytes of one row of that plane (without padding); 0 for an unknown code.
constexpr std::size_t RowBytes(int format, int width)
{
    return width > 0 ? static_cast<std::size_t>(width) * static_cast<std::size_t>(BytesPerPixel(format)) : 0;
}

// Bytes of a whole width x height frame: for I420 the luma plane and the two
// chroma planes of (width + 1) / 2 x (height + 1) / 2. 0 for an unknown code
// or an empty size.
constexpr std::size_t FrameBytes(int format, int width, int height)
{
    if (width <= 0 || height <= 0) {
        return 0;
    }
    const std::size_t plane = RowBytes(format, width) * static_cast<std::size_t>(height);
    if (format != kFourccI420) {
        return plane;
    }
    const auto chromaWidth = static_cast<std::size_t>((width + 1) / 2);
    const auto chromaHeight = static_cast<std::size_t>((height + 1) / 2);
    return plane + 2 * chromaWidth * chromaHeight;
}

}  // namespace vorlix
