// The plain loops of the zone measures: the fallback where no vector unit
// helps, and the tails of the vector loops. Internal to the row kernels.
#pragma once

#include <cstdint>

#include "serveur/core/DiffKernels.h"

namespace vorlix::plain {

// A sample counts when its difference is at least this: noise + 1, so that
// below 0 every sample counts and from 255 up none does (256).
int MinCounted(int noise);

// The reference pass over `pixels` pixels (see DiffRowStandard).
RowCount StandardScalar(const std::uint8_t* ref, const std::uint8_t* cur, std::uint8_t* mask, int pixels, int bpp,
                        int x0, int noise);

// The fast pass over every step-th pixel (see DiffRowFast).
std::uint64_t FastScalar(const std::uint8_t* prev, const std::uint8_t* cur, int pixels, int step, int bpp, int noise);

// Counted samples of bytes [0, n) where `pattern` (cyclic from `phase`) is
// non-zero; every byte when `pattern` is null.
std::uint64_t PatternScalar(const std::uint8_t* prev, const std::uint8_t* cur, int n, const std::uint8_t* pattern,
                            int phase, int noise);

}  // namespace vorlix::plain
