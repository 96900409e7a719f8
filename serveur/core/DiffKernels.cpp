#include "serveur/core/DiffKernels.h"

#include <algorithm>

namespace vorlix {

namespace {
// The noise threshold as a byte comparison: below 0 every sample counts,
// from 255 up none does.
inline bool AllCount(int noise)
{
    return noise < 0;
}
inline bool NoneCount(int noise)
{
    return noise >= 255;
}
}  // namespace

RowCount DiffRowStandard(const std::uint8_t* __restrict ref, const std::uint8_t* __restrict cur,
                         std::uint8_t* __restrict mask, const std::uint32_t* __restrict xOf, int n, int noise)
{
    RowCount r;
    const std::uint8_t t = static_cast<std::uint8_t>(std::clamp(noise, 0, 255));
    const bool all = AllCount(noise), none = NoneCount(noise);
    std::uint32_t count = 0;
    std::uint32_t sumX = 0;  // a row holds at most 4 * 16384 samples of x < 16384: fits
    if (mask != nullptr) {
        for (int i = 0; i < n; ++i) {
            const std::uint8_t a = ref[i], b = cur[i];
            const std::uint8_t d = static_cast<std::uint8_t>(a > b ? a - b : b - a);
            const std::uint8_t f = static_cast<std::uint8_t>(((d > t) | all) & !none);
            count += f;
            sumX += f * xOf[i];
            mask[i] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(-f) & static_cast<std::uint8_t>(~b));
        }
    } else {
        for (int i = 0; i < n; ++i) {
            const std::uint8_t a = ref[i], b = cur[i];
            const std::uint8_t d = static_cast<std::uint8_t>(a > b ? a - b : b - a);
            const std::uint8_t f = static_cast<std::uint8_t>(((d > t) | all) & !none);
            count += f;
            sumX += f * xOf[i];
        }
    }
    r.count = count;
    r.sumX = sumX;
    return r;
}

std::uint32_t DiffRowCount(const std::uint8_t* __restrict prev, const std::uint8_t* __restrict cur, int n, int noise)
{
    if (noise < 0)
        return static_cast<std::uint32_t>(n);
    if (noise >= 255)
        return 0;
    const std::uint8_t t = static_cast<std::uint8_t>(noise);
    std::uint32_t count = 0;
    for (int i = 0; i < n; ++i) {
        const std::uint8_t a = prev[i], b = cur[i];
        const std::uint8_t d = static_cast<std::uint8_t>(a > b ? a - b : b - a);
        count += d > t;
    }
    return count;
}

std::uint32_t DiffRowStrided(const std::uint8_t* prev, const std::uint8_t* cur, int x0, int x1, int step, int bpp,
                             int noise)
{
    std::uint32_t count = 0;
    for (int x = x0; x < x1; x += step) {
        const int o = x * bpp;
        for (int c = 0; c < bpp; ++c) {
            const int d = prev[o + c] > cur[o + c] ? prev[o + c] - cur[o + c] : cur[o + c] - prev[o + c];
            count += d > noise;
        }
    }
    return count;
}

}  // namespace vorlix
