#include "serveur/core/DiffKernels.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <numeric>

#include "serveur/core/DiffRowsPlain.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define VORLIX_X86_KERNELS 1
#endif

namespace vorlix {

namespace {

using plain::FastScalar;
using plain::MinCounted;
using plain::PatternScalar;
using plain::StandardScalar;

// Bytes in one AVX2 vector, as a pointer offset.
constexpr std::ptrdiff_t kVectorBytes = 32;

// Pixel index inside a block of 64 pixels for each of its samples, per bpp.
constexpr int kBlockPixels = 64;
using WeightTable = std::array<std::uint8_t, static_cast<std::size_t>(kBlockPixels) * 4>;
constexpr WeightTable MakeWeights(int bpp)
{
    WeightTable w{};
    for (int i = 0; i < kBlockPixels * bpp; ++i) {
        w[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i / bpp);
    }
    return w;
}
alignas(64) constexpr std::array<WeightTable, 5> kWeights = {WeightTable{}, MakeWeights(1), MakeWeights(2),
                                                             MakeWeights(3), MakeWeights(4)};

// The selected bytes of a strided fast pass (pixels 0, step, 2 step, ...),
// repeated to a length that is a multiple of 32. One per thread, rebuilt
// when the step or the pixel size changes.
struct StridePattern {
    int step = 0, bpp = 0, length = 0;
    std::vector<std::uint8_t> bytes;  // 0xFF for a selected byte
    std::vector<std::uint64_t> bits;  // the same, 64 bytes to a word
};
constexpr int kMaxPatternPeriod = 64;  // longer periods go through the plain loop
constexpr int kMaxPictureWidth = 16384;

const StridePattern& PatternFor(int step, int bpp)
{
    thread_local StridePattern p;
    if (p.step != step || p.bpp != bpp) {
        const int period = step * bpp;
        p.step = step;
        p.bpp = bpp;
        p.length = std::lcm(period, 32);
        // 32 more bytes repeat the start: any 32-byte window from inside the period is contiguous.
        p.bytes.assign(static_cast<std::size_t>(p.length) + 32, 0);
        for (int i = 0; i < p.length + 32; i += period) {
            std::fill_n(p.bytes.begin() + i, std::min(bpp, p.length + 32 - i), std::uint8_t{0xFF});
        }
    }
    return p;
}

// A 32-byte window at kFreshTail + r keeps its last r bytes (1 <= r <= 32).
alignas(64) constexpr std::array<std::uint8_t, 64> kFreshTailBytes = [] {
    std::array<std::uint8_t, 64> t{};
    for (std::size_t i = 32; i < 64; ++i) {
        t[i] = 0xFF;
    }
    return t;
}();
const std::uint8_t* const kFreshTail = kFreshTailBytes.data();

#if VORLIX_X86_KERNELS

// ---- SSE2 (every x86-64) ----------------------------------------------------

template <bool WriteMask>
RowCount StandardSse2(const std::uint8_t* ref, const std::uint8_t* cur, std::uint8_t* mask, int pixels, int bpp, int x0,
                      int noise)
{
    const int t1 = MinCounted(noise);
    if (t1 > 255) {
        if constexpr (WriteMask) {
            std::memset(mask, 0, static_cast<std::size_t>(pixels) * static_cast<std::size_t>(bpp));
        }
        return {};
    }
    const int n = pixels * bpp;
    const int block = kBlockPixels * bpp;
    const std::uint8_t* weights = kWeights[static_cast<std::size_t>(bpp)].data();
    const __m128i vt = _mm_set1_epi8(static_cast<char>(t1));
    const __m128i zero = _mm_setzero_si128();
    __m128i totalCount = zero, totalX = zero;
    int i = 0;
    int xb = x0;
    for (; i + block <= n; i += block, xb += kBlockPixels) {
        __m128i counts = zero, within = zero;  // per-byte counts, in-block pixel sums
        for (int k = 0; k < block; k += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ref + i + k));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + i + k));
            const __m128i d = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
            const __m128i m = _mm_cmpeq_epi8(_mm_max_epu8(d, vt), d);
            if constexpr (WriteMask) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(mask + i + k), _mm_andnot_si128(b, m));
            }
            counts = _mm_sub_epi8(counts, m);
            const __m128i w = _mm_load_si128(reinterpret_cast<const __m128i*>(weights + k));
            within = _mm_add_epi64(within, _mm_sad_epu8(_mm_and_si128(m, w), zero));
        }
        const __m128i c = _mm_sad_epu8(counts, zero);
        totalCount = _mm_add_epi64(totalCount, c);
        totalX = _mm_add_epi64(totalX, _mm_add_epi64(_mm_mul_epu32(c, _mm_set1_epi32(xb)), within));
    }
    alignas(16) std::uint64_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), totalCount);
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 2), totalX);
    RowCount r{lanes[0] + lanes[1], lanes[2] + lanes[3]};
    const RowCount tail =
        StandardScalar(ref + i, cur + i, WriteMask ? mask + i : nullptr, (n - i) / bpp, bpp, xb, noise);
    r.count += tail.count;
    r.sumX += tail.sumX;
    return r;
}

template <bool Patterned>
std::uint64_t FastSse2(const std::uint8_t* prev, const std::uint8_t* cur, int n, const StridePattern* pattern,
                       int noise)
{
    const int t1 = MinCounted(noise);
    if (t1 > 255) {
        return 0;
    }
    const __m128i vt = _mm_set1_epi8(static_cast<char>(t1));
    const __m128i zero = _mm_setzero_si128();
    __m128i total = zero, counts = zero;
    int rounds = 0, phase = 0, i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + i));
        const __m128i d = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
        __m128i m = _mm_cmpeq_epi8(_mm_max_epu8(d, vt), d);
        if constexpr (Patterned) {
            m = _mm_and_si128(m, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pattern->bytes.data() + phase)));
            phase += 16;
            if (phase == pattern->length) {
                phase = 0;
            }
        }
        counts = _mm_sub_epi8(counts, m);
        if (++rounds == 255) {
            total = _mm_add_epi64(total, _mm_sad_epu8(counts, zero));
            counts = zero;
            rounds = 0;
        }
    }
    total = _mm_add_epi64(total, _mm_sad_epu8(counts, zero));
    alignas(16) std::uint64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), total);
    return lanes[0] + lanes[1] +
           PatternScalar(prev + i, cur + i, n - i, Patterned ? pattern->bytes.data() : nullptr, phase, noise);
}

// ---- AVX2 (chosen at run time) ----------------------------------------------

// Per block of 64 pixels (2 x Bpp vectors) every changed sample adds 1 to
// its byte lane in lanes[k]; a block's own count gives its share of the
// pixel base (x0 + 64 b) and of the row. The in-block pixel index of each
// lane (0..63) is applied to lanes[k] at most every 255 blocks, so the x
// sums cost nothing per vector.
// Adds the lane counts weighted by their in-block pixel index to the four
// 64-bit sums of `within`, and clears the counts. A lane holds at most 255,
// so a pair of lanes times 63 stays within the 16-bit sums of maddubs.
template <int Vectors>
__attribute__((target("avx2"))) __m256i AddWeighted(__m256i within, __m256i (&lanes)[Vectors],
                                                    const std::uint8_t* weights)
{
    const __m256i ones16 = _mm256_set1_epi16(1);
    const __m256i zero = _mm256_setzero_si256();
    __m256i sum32 = zero;
    for (int k = 0; k < Vectors; ++k) {
        const __m256i w = _mm256_load_si256(reinterpret_cast<const __m256i*>(weights + kVectorBytes * k));
        sum32 = _mm256_add_epi32(sum32, _mm256_madd_epi16(_mm256_maddubs_epi16(lanes[k], w), ones16));
        lanes[k] = zero;
    }
    within = _mm256_add_epi64(within, _mm256_unpacklo_epi32(sum32, zero));
    return _mm256_add_epi64(within, _mm256_unpackhi_epi32(sum32, zero));
}

template <int Bpp, bool WriteMask>
__attribute__((target("avx2"))) ZoneTally StandardZoneAvx2(const ZoneRun& z, int noise)
{
    constexpr int kVectors = 2 * Bpp;
    const int n = z.pixels * Bpp;
    const std::uint8_t* weights = kWeights[Bpp].data();
    const __m256i vt = _mm256_set1_epi8(static_cast<char>(MinCounted(noise)));
    const __m256i zero = _mm256_setzero_si256();
    __m256i lanes[kVectors];
    for (auto& l : lanes) {
        l = zero;
    }
    __m256i within = zero, totalCount = zero, totalX = zero, totalY = zero;
    int pending = 0;
    ZoneTally r;
    for (int row = 0; row < z.rows; ++row) {
        const std::size_t o = static_cast<std::size_t>(row) * z.stride;
        const std::uint8_t* ref = z.a + o;
        const std::uint8_t* cur = z.b + o;
        std::uint8_t* mask = WriteMask ? z.mask + o : nullptr;
        const int y = z.y0 + row;
        const __m256i vy = _mm256_set1_epi32(y);
        int j = 0, blockStart = 0, xb = z.x0;
        while (j + 32 <= n) {
            const int vectors = std::min(kVectors, (n - j) / 32);
            __m256i counts = zero;
#pragma GCC unroll 8
            for (int k = 0; k < kVectors; ++k) {
                if (k < vectors) {
                    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ref + j + kVectorBytes * k));
                    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cur + j + kVectorBytes * k));
                    const __m256i d = _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
                    const __m256i m = _mm256_cmpeq_epi8(_mm256_max_epu8(d, vt), d);
                    if constexpr (WriteMask) {
                        _mm256_storeu_si256(reinterpret_cast<__m256i*>(mask + j + kVectorBytes * k),
                                            _mm256_andnot_si256(b, m));
                    }
                    counts = _mm256_sub_epi8(counts, m);
                    lanes[k] = _mm256_sub_epi8(lanes[k], m);
                }
            }
            const __m256i c = _mm256_sad_epu8(counts, zero);
            totalCount = _mm256_add_epi64(totalCount, c);
            totalX = _mm256_add_epi64(totalX, _mm256_mul_epu32(c, _mm256_set1_epi32(xb)));
            totalY = _mm256_add_epi64(totalY, _mm256_mul_epu32(c, vy));
            if (++pending == 255) {
                within = AddWeighted<kVectors>(within, lanes, weights);
                pending = 0;
            }
            j += 32 * vectors;
            if (vectors < kVectors) {
                break;  // the rest belongs to this block
            }
            blockStart = j;
            xb += kBlockPixels;
        }
        // Fewer than 32 bytes are left, possibly from the middle of a pixel.
        for (; j < n; ++j) {
            const int d = ref[j] > cur[j] ? ref[j] - cur[j] : cur[j] - ref[j];
            if (d > noise) {
                ++r.count;
                r.sumX += static_cast<std::uint64_t>(xb + (j - blockStart) / Bpp);
                r.sumY += static_cast<std::uint64_t>(y);
                if constexpr (WriteMask) {
                    mask[j] = static_cast<std::uint8_t>(~cur[j]);
                }
            } else if constexpr (WriteMask) {
                mask[j] = 0;
            }
        }
    }
    within = AddWeighted<kVectors>(within, lanes, weights);
    alignas(32) std::uint64_t sums[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(sums), totalCount);
    _mm256_store_si256(reinterpret_cast<__m256i*>(sums + 4), totalX);
    _mm256_store_si256(reinterpret_cast<__m256i*>(sums + 8), totalY);
    _mm256_store_si256(reinterpret_cast<__m256i*>(sums + 12), within);
    for (int l = 0; l < 4; ++l) {
        r.count += sums[l];
        r.sumX += sums[4 + l] + sums[12 + l];
        r.sumY += sums[8 + l];
    }
    return r;
}

template <bool WriteMask>
ZoneTally StandardAvx2(const ZoneRun& z, int noise)
{
    switch (z.bpp) {
        case 1:
            return StandardZoneAvx2<1, WriteMask>(z, noise);
        case 2:
            return StandardZoneAvx2<2, WriteMask>(z, noise);
        case 3:
            return StandardZoneAvx2<3, WriteMask>(z, noise);
        default:
            return StandardZoneAvx2<4, WriteMask>(z, noise);
    }
}

template <bool Patterned>
__attribute__((target("avx2"))) std::uint64_t FastZoneAvx2(const ZoneRun& z, int n, const StridePattern* pattern,
                                                           int noise)
{
    const __m256i vt = _mm256_set1_epi8(static_cast<char>(MinCounted(noise)));
    const __m256i zero = _mm256_setzero_si256();
    __m256i total = zero, counts = zero;
    std::uint64_t tails = 0;
    int rounds = 0;
    for (int row = 0; row < z.rows; ++row) {
        const std::uint8_t* prev = z.a + static_cast<std::size_t>(row) * z.stride;
        const std::uint8_t* cur = z.b + static_cast<std::size_t>(row) * z.stride;
        int phase = 0, i = 0;
        for (; i + 32 <= n; i += 32) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(prev + i));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cur + i));
            const __m256i d = _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
            __m256i m = _mm256_cmpeq_epi8(_mm256_max_epu8(d, vt), d);
            if constexpr (Patterned) {
                m = _mm256_and_si256(
                    m, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pattern->bytes.data() + phase)));
                phase += 32;
                if (phase == pattern->length) {
                    phase = 0;
                }
            }
            counts = _mm256_sub_epi8(counts, m);
            if (++rounds == 255) {
                total = _mm256_add_epi64(total, _mm256_sad_epu8(counts, zero));
                counts = zero;
                rounds = 0;
            }
        }
        if (i < n && n >= 32) {
            // The last window ends with the row's run; its bytes before i were counted already.
            const int start = n - 32;
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(prev + start));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cur + start));
            const __m256i d = _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
            __m256i m = _mm256_cmpeq_epi8(_mm256_max_epu8(d, vt), d);
            m = _mm256_and_si256(m, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kFreshTail + (n - i))));
            if constexpr (Patterned) {
                m = _mm256_and_si256(m, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pattern->bytes.data() +
                                                                                            start % pattern->length)));
            }
            counts = _mm256_sub_epi8(counts, m);
            if (++rounds == 255) {
                total = _mm256_add_epi64(total, _mm256_sad_epu8(counts, zero));
                counts = zero;
                rounds = 0;
            }
        } else {
            tails += PatternScalar(prev + i, cur + i, n - i, Patterned ? pattern->bytes.data() : nullptr, phase, noise);
        }
    }
    total = _mm256_add_epi64(total, _mm256_sad_epu8(counts, zero));
    alignas(32) std::uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), total);
    return lanes[0] + lanes[1] + lanes[2] + lanes[3] + tails;
}

#endif  // VORLIX_X86_KERNELS

KernelIsa BestIsa()
{
#if VORLIX_X86_KERNELS
    static const KernelIsa best = __builtin_cpu_supports("avx2") ? KernelIsa::Avx2 : KernelIsa::Sse2;
    return best;
#else
    return KernelIsa::Scalar;
#endif
}

}  // namespace

std::vector<KernelIsa> AvailableKernelIsas()
{
    std::vector<KernelIsa> out{KernelIsa::Scalar};
#if VORLIX_X86_KERNELS
    out.push_back(KernelIsa::Sse2);
    if (BestIsa() == KernelIsa::Avx2) {
        out.push_back(KernelIsa::Avx2);
    }
#endif
    return out;
}

ZoneTally DiffZoneStandardWith(KernelIsa isa, const ZoneRun& z, int noise)
{
    if (z.pixels <= 0 || z.rows <= 0 || z.bpp < 1 || z.bpp > 4) {
        return {};
    }
    if (MinCounted(noise) > 255) {
        if (z.mask != nullptr) {
            for (int row = 0; row < z.rows; ++row) {
                std::memset(z.mask + static_cast<std::size_t>(row) * z.stride, 0,
                            static_cast<std::size_t>(z.pixels) * static_cast<std::size_t>(z.bpp));
            }
        }
        return {};
    }
#if VORLIX_X86_KERNELS
    // The block sums take rows of at most 16384 pixels (the widest picture).
    if (isa == KernelIsa::Avx2 && z.pixels <= kMaxPictureWidth) {
        return z.mask != nullptr ? StandardAvx2<true>(z, noise) : StandardAvx2<false>(z, noise);
    }
#endif
    ZoneTally r;
    for (int row = 0; row < z.rows; ++row) {
        const std::size_t o = static_cast<std::size_t>(row) * z.stride;
        std::uint8_t* mask = z.mask != nullptr ? z.mask + o : nullptr;
        RowCount c;
#if VORLIX_X86_KERNELS
        if (isa != KernelIsa::Scalar) {
            c = mask != nullptr ? StandardSse2<true>(z.a + o, z.b + o, mask, z.pixels, z.bpp, z.x0, noise)
                                : StandardSse2<false>(z.a + o, z.b + o, nullptr, z.pixels, z.bpp, z.x0, noise);
        } else
#endif
        {
            c = StandardScalar(z.a + o, z.b + o, mask, z.pixels, z.bpp, z.x0, noise);
        }
        r.count += c.count;
        r.sumX += c.sumX;
        r.sumY += c.count * static_cast<std::uint64_t>(z.y0 + row);
    }
    return r;
}

std::uint64_t DiffZoneFastWith(KernelIsa isa, const ZoneRun& z, int step, int noise)
{
    if (z.pixels <= 0 || z.rows <= 0 || z.bpp < 1 || z.bpp > 4 || MinCounted(noise) > 255) {
        return 0;
    }
    step = std::max(step, 1);
#if VORLIX_X86_KERNELS
    if (isa != KernelIsa::Scalar && step * z.bpp <= kMaxPatternPeriod) {
        // Every sample is compared and the strided ones kept: on short periods
        // this is cheaper than visiting them one by one. A row's run ends
        // after its last selected pixel.
        const int n = ((z.pixels - 1) / step * step + 1) * z.bpp;
        const StridePattern* pattern = step == 1 ? nullptr : &PatternFor(step, z.bpp);
        if (isa == KernelIsa::Avx2) {
            return pattern == nullptr ? FastZoneAvx2<false>(z, n, nullptr, noise)
                                      : FastZoneAvx2<true>(z, n, pattern, noise);
        }
        std::uint64_t count = 0;
        for (int row = 0; row < z.rows; ++row) {
            const std::size_t o = static_cast<std::size_t>(row) * z.stride;
            count += pattern == nullptr ? FastSse2<false>(z.a + o, z.b + o, n, nullptr, noise)
                                        : FastSse2<true>(z.a + o, z.b + o, n, pattern, noise);
        }
        return count;
    }
#else
    (void)isa;
#endif
    std::uint64_t count = 0;
    for (int row = 0; row < z.rows; ++row) {
        const std::size_t o = static_cast<std::size_t>(row) * z.stride;
        count += FastScalar(z.a + o, z.b + o, z.pixels, step, z.bpp, noise);
    }
    return count;
}

ZoneTally DiffZoneStandard(const ZoneRun& zone, int noise)
{
    return DiffZoneStandardWith(BestIsa(), zone, noise);
}

std::uint64_t DiffZoneFast(const ZoneRun& zone, int step, int noise)
{
    return DiffZoneFastWith(BestIsa(), zone, step, noise);
}

RowCount DiffRowStandardWith(KernelIsa isa, const std::uint8_t* ref, const std::uint8_t* cur, std::uint8_t* mask,
                             int pixels, int bpp, int x0, int noise)
{
    const ZoneTally c = DiffZoneStandardWith(isa, ZoneRun{ref, cur, mask, 0, pixels, 1, bpp, x0, 0}, noise);
    return {c.count, c.sumX};
}

std::uint64_t DiffRowFastWith(KernelIsa isa, const std::uint8_t* prev, const std::uint8_t* cur, int pixels, int step,
                              int bpp, int noise)
{
    return DiffZoneFastWith(isa, ZoneRun{prev, cur, nullptr, 0, pixels, 1, bpp, 0, 0}, step, noise);
}

RowCount DiffRowStandard(const std::uint8_t* ref, const std::uint8_t* cur, std::uint8_t* mask, int pixels, int bpp,
                         int x0, int noise)
{
    return DiffRowStandardWith(BestIsa(), ref, cur, mask, pixels, bpp, x0, noise);
}

std::uint64_t DiffRowFast(const std::uint8_t* prev, const std::uint8_t* cur, int pixels, int step, int bpp, int noise)
{
    return DiffRowFastWith(BestIsa(), prev, cur, pixels, step, bpp, noise);
}

}  // namespace vorlix
