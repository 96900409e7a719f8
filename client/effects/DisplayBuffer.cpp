#include "client/effects/DisplayBuffer.h"

namespace vorlix::client {

bool DisplayBuffer::Resize(int width, int height)
{
    if (width < 1 || height < 1 || width > kMaxPictureSide || height > kMaxPictureSide) {
        return false;
    }
    width_ = width;
    height_ = height;
    if (pixels_.size() < Bytes()) {
        pixels_.resize(Bytes());
    }
    return true;
}

std::vector<std::uint8_t> DisplayBuffer::TopDownRgb() const
{
    std::vector<std::uint8_t> rgb(Bytes());
    const std::size_t rowBytes = RowBytes();
    for (int y = 0; y < height_; ++y) {
        const std::uint8_t* from = Row(height_ - 1 - y);
        std::uint8_t* to = rgb.data() + rowBytes * static_cast<std::size_t>(y);
        for (std::size_t x = 0; x < rowBytes; x += 3) {
            to[x] = from[x + 2];
            to[x + 1] = from[x + 1];
            to[x + 2] = from[x];
        }
    }
    return rgb;
}

}  // namespace vorlix::client
