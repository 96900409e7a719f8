// The per-row loops of the two zone measures, written so the compiler can
// vectorise them (no branches on the sample path).
#pragma once

#include <cstdint>

namespace vorlix {

struct RowCount {
    std::uint32_t count = 0;  // changed samples
    std::uint64_t sumX = 0;   // sum of the pixel x of every changed sample
};

// Samples [0, n) of one row: |ref - cur| > noise counts. `xOf[i]` is the
// pixel x of sample i. `mask` (may be null) gets ~cur where changed, else 0.
RowCount DiffRowStandard(const std::uint8_t* ref, const std::uint8_t* cur, std::uint8_t* mask, const std::uint32_t* xOf,
                         int n, int noise);

// Changed samples of a contiguous run (fast pass with step 1).
std::uint32_t DiffRowCount(const std::uint8_t* prev, const std::uint8_t* cur, int n, int noise);

// Strided fast pass: pixels x0, x0+step, ... < x1 of one row, bpp bytes each.
std::uint32_t DiffRowStrided(const std::uint8_t* prev, const std::uint8_t* cur, int x0, int x1, int step, int bpp,
                             int noise);

}  // namespace vorlix
