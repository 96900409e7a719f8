#include "serveur/core/FrameToRgb.h"

#include <algorithm>
#include <cstring>

#include "serveur/core/PixelFormat.h"

namespace vorlix {

namespace {

std::uint8_t Clamp(int v)
{
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

// BT.601 video range, integer form.
void YuvToRgb(int y, int u, int v, std::uint8_t* out)
{
    const int c = 298 * (y - 16);
    const int d = u - 128;
    const int e = v - 128;
    out[0] = Clamp((c + 409 * e + 128) >> 8);
    out[1] = Clamp((c - 100 * d - 208 * e + 128) >> 8);
    out[2] = Clamp((c + 516 * d + 128) >> 8);
}

}  // namespace

bool IsPlainRgb(int format, int topDown)
{
    return format == kFormatRgb24 && topDown == kTopDown;
}

bool ConvertFrameToRgb(std::span<const std::uint8_t> frame, int width, int height, int format, int topDown,
                       std::vector<std::uint8_t>& out)
{
    if (width <= 0 || height <= 0) {
        out.clear();
        return false;
    }
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    const std::size_t need = FrameBytes(format, width, height);
    if (need == 0 || frame.size() < need || (format == kFourccYuy2 && width % 2 != 0)) {
        out.clear();
        return false;
    }
    // Every byte is written below: a buffer of the right size is reused as it is.
    out.resize(w * h * 3);
    // YUV frames are always top row first; RGB rows follow the flag.
    const bool yuv = format == kFourccI420 || format == kFourccYuy2;
    const bool flip = !yuv && topDown != kTopDown;
    for (std::size_t row = 0; row < h; ++row) {
        const std::size_t src = flip ? h - 1 - row : row;
        std::uint8_t* dst = out.data() + row * w * 3;
        switch (format) {
            case kFormatRgb24:
                std::memcpy(dst, frame.data() + src * w * 3, w * 3);
                break;
            case kFormatRgb32:
                for (std::size_t x = 0; x < w; ++x) {
                    const std::uint8_t* p = frame.data() + (src * w + x) * 4;  // B, G, R, X
                    dst[x * 3] = p[2];
                    dst[x * 3 + 1] = p[1];
                    dst[x * 3 + 2] = p[0];
                }
                break;
            case kFormatRgb16:
                for (std::size_t x = 0; x < w; ++x) {
                    const std::uint8_t* p = frame.data() + (src * w + x) * 2;
                    const unsigned v = static_cast<unsigned>(p[0]) | (static_cast<unsigned>(p[1]) << 8U);
                    const unsigned r = (v >> 11U) & 0x1FU;
                    const unsigned g = (v >> 5U) & 0x3FU;
                    const unsigned b = v & 0x1FU;
                    dst[x * 3] = static_cast<std::uint8_t>((r << 3U) | (r >> 2U));
                    dst[x * 3 + 1] = static_cast<std::uint8_t>((g << 2U) | (g >> 4U));
                    dst[x * 3 + 2] = static_cast<std::uint8_t>((b << 3U) | (b >> 2U));
                }
                break;
            case kFourccYuy2:
                for (std::size_t x = 0; x < w; ++x) {
                    const std::uint8_t* pair = frame.data() + (src * w + (x & ~std::size_t{1})) * 2;  // Y0 U Y1 V
                    YuvToRgb(pair[(x & 1U) * 2], pair[1], pair[3], dst + x * 3);
                }
                break;
            default: {  // I420
                const auto cw = static_cast<std::size_t>((width + 1) / 2);
                const auto ch = static_cast<std::size_t>((height + 1) / 2);
                const std::uint8_t* yPlane = frame.data();
                const std::uint8_t* uPlane = yPlane + w * h;
                const std::uint8_t* vPlane = uPlane + cw * ch;
                for (std::size_t x = 0; x < w; ++x) {
                    const std::size_t c = (src / 2) * cw + x / 2;
                    YuvToRgb(yPlane[src * w + x], uPlane[c], vPlane[c], dst + x * 3);
                }
                break;
            }
        }
    }
    return true;
}

}  // namespace vorlix
