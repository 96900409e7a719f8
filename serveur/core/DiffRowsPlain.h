// The plain loops of the zone measures: the fallback where no vector unit
// helps, and the tails of the vector loops. Internal to the row kernels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serveur/core/DiffKernels.h"

namespace vorlix::plain {

// A sample counts when its difference is at least this: noise + 1, so that
// below 0 every sample counts and from 255 up none does (256).
int MinCounted(int noise);

// The reference pass over `pixels` pixels (see DiffRowStandard).
RowCount StandardScalar(const std::uint8_t* ref, const std::uint8_t* cur, std::uint8_t* mask, int pixels, int bpp,
                        int x0, int noise);

// The fast pass over every step-th pixel of `Bpp` bytes.
template <int Bpp>
std::uint64_t FastScalarBpp(const std::uint8_t* prev, const std::uint8_t* cur, int pixels, int step, int noise)
{
    std::uint64_t count = 0;
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(step) * Bpp;
    const std::ptrdiff_t end = static_cast<std::ptrdiff_t>(pixels) * Bpp;
    for (std::ptrdiff_t o = 0; o < end; o += stride) {
        for (int c = 0; c < Bpp; ++c) {
            const int d = static_cast<int>(prev[o + c]) - static_cast<int>(cur[o + c]);
            count += (d > noise || -d > noise) ? 1U : 0U;
        }
    }
    return count;
}

// The fast pass over every step-th pixel (see DiffRowFast). Inline and per
// pixel size: at the usual steps a row has only a few samples, so a call or
// a loop over the bytes of a pixel costs as much as the samples themselves.
inline std::uint64_t FastScalar(const std::uint8_t* prev, const std::uint8_t* cur, int pixels, int step, int bpp,
                                int noise)
{
    switch (bpp) {
        case 1:
            return FastScalarBpp<1>(prev, cur, pixels, step, noise);
        case 2:
            return FastScalarBpp<2>(prev, cur, pixels, step, noise);
        case 3:
            return FastScalarBpp<3>(prev, cur, pixels, step, noise);
        default:
            return FastScalarBpp<4>(prev, cur, pixels, step, noise);
    }
}

// Counted samples of bytes [0, n) where `pattern` (cyclic from `phase`) is
// non-zero; every byte when `pattern` is null.
std::uint64_t PatternScalar(const std::uint8_t* prev, const std::uint8_t* cur, int n, const std::uint8_t* pattern,
                            int phase, int noise);

}  // namespace vorlix::plain
