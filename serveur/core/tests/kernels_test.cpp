// The row kernels of the zone measures: every instruction set gives exactly
// the counts, sums and mask of the plain loops.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "serveur/core/DiffKernels.h"

namespace vorlix {
namespace {

// ---- Row kernels ----------------------------------------------------------------

RowCount NaiveStandard(const std::vector<std::uint8_t>& ref, const std::vector<std::uint8_t>& cur,
                       std::vector<std::uint8_t>* mask, int pixels, int bpp, int x0, int noise)
{
    RowCount r;
    for (int i = 0; i < pixels * bpp; ++i) {
        const int d = std::abs(ref[static_cast<std::size_t>(i)] - cur[static_cast<std::size_t>(i)]);
        const bool changed = d > noise;
        if (changed) {
            ++r.count;
            r.sumX += static_cast<std::uint64_t>(x0 + i / bpp);
        }
        if (mask != nullptr) {
            (*mask)[static_cast<std::size_t>(i)] =
                changed ? static_cast<std::uint8_t>(~cur[static_cast<std::size_t>(i)]) : 0;
        }
    }
    return r;
}

std::uint64_t NaiveFast(const std::vector<std::uint8_t>& prev, const std::vector<std::uint8_t>& cur, int pixels,
                        int step, int bpp, int noise)
{
    std::uint64_t n = 0;
    for (int x = 0; x < pixels; x += step) {
        for (int c = 0; c < bpp; ++c) {
            const auto o = static_cast<std::size_t>(x) * bpp + c;
            n += std::abs(prev[o] - cur[o]) > noise ? 1 : 0;
        }
    }
    return n;
}

TEST(RowKernels, EveryInstructionSetGivesThePlainCountsSumsAndMask)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const KernelIsa isa : AvailableKernelIsas()) {
        for (int bpp = 1; bpp <= 4; ++bpp) {
            for (const int pixels : {1, 5, 11, 21, 42, 63, 64, 65, 75, 86, 130, 213, 333, 700, 16384, 16500}) {
                std::vector<std::uint8_t> ref(static_cast<std::size_t>(pixels * bpp));
                std::vector<std::uint8_t> cur(ref.size());
                for (std::size_t i = 0; i < ref.size(); ++i) {
                    ref[i] = static_cast<std::uint8_t>(byte(rng));
                    // Mostly small changes around the noise, some large ones, some exact equalities.
                    const int delta = (i % 7 == 0) ? byte(rng) : (byte(rng) % 121) - 60;
                    cur[i] = static_cast<std::uint8_t>(std::clamp(ref[i] + delta, 0, 255));
                }
                for (const int noise : {-3, 0, 49, 50, 254, 255, 400}) {
                    const int x0 = 1000 + bpp;
                    std::vector<std::uint8_t> want(ref.size()), got(ref.size(), 0xAA);
                    const RowCount w = NaiveStandard(ref, cur, &want, pixels, bpp, x0, noise);
                    const RowCount g =
                        DiffRowStandardWith(isa, ref.data(), cur.data(), got.data(), pixels, bpp, x0, noise);
                    ASSERT_EQ(g.count, w.count) << int(isa) << " bpp " << bpp << " px " << pixels << " n " << noise;
                    ASSERT_EQ(g.sumX, w.sumX) << int(isa) << " bpp " << bpp << " px " << pixels << " n " << noise;
                    ASSERT_EQ(got, want) << int(isa) << " bpp " << bpp << " px " << pixels << " n " << noise;
                    const RowCount nm =
                        DiffRowStandardWith(isa, ref.data(), cur.data(), nullptr, pixels, bpp, x0, noise);
                    ASSERT_EQ(nm.count, w.count);
                    ASSERT_EQ(nm.sumX, w.sumX);
                    for (const int step : {1, 2, 5, 12, 16, 21, 22, 40}) {
                        ASSERT_EQ(DiffRowFastWith(isa, ref.data(), cur.data(), pixels, step, bpp, noise),
                                  NaiveFast(ref, cur, pixels, step, bpp, noise))
                            << int(isa) << " bpp " << bpp << " px " << pixels << " step " << step << " n " << noise;
                    }
                }
            }
        }
    }
}

TEST(ZoneKernels, WholeZonesWithAStrideGiveThePlainSums)
{
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> byte(0, 255);
    const int width = 300, height = 7;
    for (const KernelIsa isa : AvailableKernelIsas()) {
        for (int bpp = 1; bpp <= 4; ++bpp) {
            const std::size_t stride = static_cast<std::size_t>(width) * bpp;
            std::vector<std::uint8_t> ref(stride * height), cur(ref.size());
            for (std::size_t i = 0; i < ref.size(); ++i) {
                ref[i] = static_cast<std::uint8_t>(byte(rng));
                cur[i] = static_cast<std::uint8_t>(i % 5 == 0 ? byte(rng) : ref[i]);
            }
            for (const auto& [x0, x1] :
                 {std::pair{0, 300}, std::pair{13, 230}, std::pair{64, 75}, std::pair{299, 300}}) {
                const int y0 = 2, rows = 5;
                const std::size_t o = static_cast<std::size_t>(y0) * stride + static_cast<std::size_t>(x0 * bpp);
                std::vector<std::uint8_t> mask(ref.size(), 0x77), want(ref.size(), 0x77);
                const ZoneTally got = DiffZoneStandardWith(
                    isa, ZoneRun{ref.data() + o, cur.data() + o, mask.data() + o, stride, x1 - x0, rows, bpp, x0, y0},
                    50);
                ZoneTally expect;
                for (int y = y0; y < y0 + rows; ++y) {
                    for (int x = x0; x < x1; ++x) {
                        for (int c = 0; c < bpp; ++c) {
                            const std::size_t i =
                                static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x * bpp + c);
                            const bool changed = std::abs(ref[i] - cur[i]) > 50;
                            want[i] = changed ? static_cast<std::uint8_t>(~cur[i]) : 0;
                            if (changed) {
                                ++expect.count;
                                expect.sumX += static_cast<std::uint64_t>(x);
                                expect.sumY += static_cast<std::uint64_t>(y);
                            }
                        }
                    }
                }
                SCOPED_TRACE(std::to_string(int(isa)) + " bpp " + std::to_string(bpp) + " x0 " + std::to_string(x0));
                EXPECT_EQ(got.count, expect.count);
                EXPECT_EQ(got.sumX, expect.sumX);
                EXPECT_EQ(got.sumY, expect.sumY);
                EXPECT_EQ(mask, want);  // nothing written outside the zone
                for (const int step : {1, 3, 7, 30}) {
                    std::uint64_t fast = 0;
                    for (int y = y0; y < y0 + rows; ++y) {
                        for (int x = x0; x < x1; x += step) {
                            for (int c = 0; c < bpp; ++c) {
                                const std::size_t i =
                                    static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x * bpp + c);
                                fast += std::abs(ref[i] - cur[i]) > 50 ? 1 : 0;
                            }
                        }
                    }
                    EXPECT_EQ(
                        DiffZoneFastWith(
                            isa, ZoneRun{ref.data() + o, cur.data() + o, nullptr, stride, x1 - x0, rows, bpp, x0, y0},
                            step, 50),
                        fast)
                        << "step " << step;
                }
            }
        }
    }
}

}  // namespace
}  // namespace vorlix
