#include "serveur/core/FrameToRgb.h"

#include <algorithm>
#include <cstring>

#include "serveur/core/PixelFormat.h"

namespace vorlix {

namespace {

// BT.601 video range, integer form: R = (298 (Y - 16) + 409 V' + 128) >> 8,
// G = (... - 100 U' - 208 V' ...) >> 8, B = (... + 516 U' ...) >> 8, with
// U' = U - 128, V' = V - 128, each clamped to 0..255. The luma term and the
// clamp come from tables, the chroma terms once per chroma sample: a picture
// is converted once per written file, so this runs on every detection.
struct YuvTables {
    int luma[256];
    std::uint8_t clamp[1024];  // index (v >> 8) + 512
    YuvTables()
    {
        for (int y = 0; y < 256; ++y) {
            luma[y] = 298 * (y - 16) + 128;
        }
        for (int i = 0; i < 1024; ++i) {
            clamp[i] = static_cast<std::uint8_t>(std::clamp(i - 512, 0, 255));
        }
    }
};

const YuvTables& Tables()
{
    static const YuvTables tables;
    return tables;
}

struct Chroma {
    int r, g, b;
};

inline Chroma ChromaTerms(int u, int v)
{
    const int d = u - 128;
    const int e = v - 128;
    return {409 * e, -100 * d - 208 * e, 516 * d};
}

inline void Put(const YuvTables& t, int y, const Chroma& c, std::uint8_t* out)
{
    const int l = t.luma[y];
    out[0] = t.clamp[((l + c.r) >> 8) + 512];
    out[1] = t.clamp[((l + c.g) >> 8) + 512];
    out[2] = t.clamp[((l + c.b) >> 8) + 512];
}

void I420Row(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::size_t w, std::uint8_t* dst)
{
    const YuvTables& t = Tables();
    std::size_t x = 0;
    for (; x + 1 < w; x += 2) {
        const Chroma c = ChromaTerms(u[x / 2], v[x / 2]);
        Put(t, y[x], c, dst + x * 3);
        Put(t, y[x + 1], c, dst + x * 3 + 3);
    }
    if (x < w) {
        Put(t, y[x], ChromaTerms(u[x / 2], v[x / 2]), dst + x * 3);
    }
}

void Yuy2Row(const std::uint8_t* src, std::size_t w, std::uint8_t* dst)
{
    const YuvTables& t = Tables();
    for (std::size_t x = 0; x + 1 < w; x += 2) {
        const std::uint8_t* pair = src + x * 2;  // Y0 U Y1 V
        const Chroma c = ChromaTerms(pair[1], pair[3]);
        Put(t, pair[0], c, dst + x * 3);
        Put(t, pair[2], c, dst + x * 3 + 3);
    }
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
                Yuy2Row(frame.data() + src * w * 2, w, dst);
                break;
            default: {  // I420
                const auto cw = static_cast<std::size_t>((width + 1) / 2);
                const auto ch = static_cast<std::size_t>((height + 1) / 2);
                const std::uint8_t* uPlane = frame.data() + w * h;
                const std::uint8_t* vPlane = uPlane + cw * ch;
                I420Row(frame.data() + src * w, uPlane + (src / 2) * cw, vPlane + (src / 2) * cw, w, dst);
                break;
            }
        }
    }
    return true;
}

}  // namespace vorlix
