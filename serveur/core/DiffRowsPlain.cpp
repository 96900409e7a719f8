#include "serveur/core/DiffRowsPlain.h"

#include <algorithm>

namespace vorlix::plain {

int MinCounted(int noise)
{
    return std::clamp(noise, -1, 255) + 1;
}

RowCount StandardScalar(const std::uint8_t* ref, const std::uint8_t* cur, std::uint8_t* mask, int pixels, int bpp,
                        int x0, int noise)
{
    RowCount r;
    for (int x = 0; x < pixels; ++x) {
        for (int c = 0; c < bpp; ++c) {
            const int o = x * bpp + c;
            const int d = ref[o] > cur[o] ? ref[o] - cur[o] : cur[o] - ref[o];
            if (d > noise) {
                ++r.count;
                r.sumX += static_cast<std::uint64_t>(x0 + x);
                if (mask != nullptr) {
                    mask[o] = static_cast<std::uint8_t>(~cur[o]);
                }
            } else if (mask != nullptr) {
                mask[o] = 0;
            }
        }
    }
    return r;
}

std::uint64_t PatternScalar(const std::uint8_t* prev, const std::uint8_t* cur, int n, const std::uint8_t* pattern,
                            int phase, int noise)
{
    std::uint64_t count = 0;
    for (int j = 0; j < n; ++j) {
        const int d = prev[j] > cur[j] ? prev[j] - cur[j] : cur[j] - prev[j];
        const bool selected = pattern == nullptr || pattern[phase + j] != 0;
        count += (selected && d > noise) ? 1u : 0u;
    }
    return count;
}

}  // namespace vorlix::plain
