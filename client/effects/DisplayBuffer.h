// The picture as the viewer draws it: W x H pixels in rows of W x 3 bytes
// without padding, bottom row first, each pixel blue, green, red. The effects
// work on this layout; it grows with the pictures up to 4096 x 4096.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorlix::client {

inline constexpr int kMaxPictureSide = 4096;

class DisplayBuffer {
public:
    // Sets the size; false (and nothing changed) when a side is not within
    // 1..kMaxPictureSide. The storage grows as needed and is kept.
    bool Resize(int width, int height);

    [[nodiscard]] int Width() const { return width_; }
    [[nodiscard]] int Height() const { return height_; }
    [[nodiscard]] bool Empty() const { return width_ == 0; }
    [[nodiscard]] std::size_t RowBytes() const { return static_cast<std::size_t>(width_) * 3; }
    [[nodiscard]] std::size_t Bytes() const { return RowBytes() * static_cast<std::size_t>(height_); }

    // Row `i` in buffer order (0 is the bottom row of the picture).
    std::uint8_t* Row(int i) { return pixels_.data() + RowBytes() * static_cast<std::size_t>(i); }
    [[nodiscard]] const std::uint8_t* Row(int i) const
    {
        return pixels_.data() + RowBytes() * static_cast<std::size_t>(i);
    }
    std::uint8_t* Data() { return pixels_.data(); }
    [[nodiscard]] const std::uint8_t* Data() const { return pixels_.data(); }

    // Top-down red-green-blue rows of W x 3 bytes (what encoders take).
    [[nodiscard]] std::vector<std::uint8_t> TopDownRgb() const;

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint8_t> pixels_;
};

}  // namespace vorlix::client
