// The per-row loops of the two zone measures. They run on every frame over
// whole zones, so they are written with SSE2 / AVX2 vectors on x86-64 (the
// wider one chosen at run time) and give exactly the counts and sums of the
// plain loops, which serve as the fallback and for the row tails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorlix {

struct RowCount {
    std::uint64_t count = 0;  // changed samples
    std::uint64_t sumX = 0;   // sum of the pixel x of every changed sample
};

// A zone of two images (and of the change mask) with the same row stride.
struct ZoneRun {
    const std::uint8_t* a = nullptr;  // reference or previous image at the zone's first sample
    const std::uint8_t* b = nullptr;  // current frame at the same place
    std::uint8_t* mask = nullptr;     // change mask at the same place, or null
    std::size_t stride = 0;           // bytes from one row to the next
    int pixels = 0;                   // per row
    int rows = 0;
    int bpp = 3;
    int x0 = 0, y0 = 0;  // picture position of the first pixel
};

struct ZoneTally {
    std::uint64_t count = 0, sumX = 0, sumY = 0;
};

enum class KernelIsa { Scalar, Sse2, Avx2 };

// The instruction sets this machine runs, best last (Scalar is always there).
std::vector<KernelIsa> AvailableKernelIsas();

// Reference pass over one run of `pixels` pixels of `bpp` bytes, the first at
// picture column `x0`: a sample counts when |ref - cur| > noise; its pixel x
// goes into sumX. `mask` (may be null) gets ~cur where changed, else 0.
RowCount DiffRowStandard(const std::uint8_t* ref, const std::uint8_t* cur, std::uint8_t* mask, int pixels, int bpp,
                         int x0, int noise);

// Fast pass over one run: the samples of pixels 0, step, 2 step, ... < pixels
// whose difference exceeds noise.
std::uint64_t DiffRowFast(const std::uint8_t* prev, const std::uint8_t* cur, int pixels, int step, int bpp, int noise);

// A whole zone, row after row (one call per zone keeps the per-row cost low
// for narrow zones).
ZoneTally DiffZoneStandard(const ZoneRun& zone, int noise);
std::uint64_t DiffZoneFast(const ZoneRun& zone, int step, int noise);

// The same with a chosen instruction set (for the kernel tests and the benchmark).
ZoneTally DiffZoneStandardWith(KernelIsa isa, const ZoneRun& zone, int noise);
std::uint64_t DiffZoneFastWith(KernelIsa isa, const ZoneRun& zone, int step, int noise);
RowCount DiffRowStandardWith(KernelIsa isa, const std::uint8_t* ref, const std::uint8_t* cur, std::uint8_t* mask,
                             int pixels, int bpp, int x0, int noise);
std::uint64_t DiffRowFastWith(KernelIsa isa, const std::uint8_t* prev, const std::uint8_t* cur, int pixels, int step,
                              int bpp, int noise);

}  // namespace vorlix
