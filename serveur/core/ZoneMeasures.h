// The two zone measures over plain images: the fast pass against the previous
// image and the reference pass against the reference image. The images are
// width x height pixels of the format's bytes per pixel (for I420 the luma
// plane); a frame shorter than that is measured as unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "serveur/core/ZoneTable.h"

namespace vorlix {

struct MeasuredPicture {
    std::span<const std::uint8_t> current;  // the frame
    int width = 0;
    int height = 0;
    int format = 0;
    int noise = 50;
};

struct StandardMeasure {
    int measure = 0;
    int centreX = 0;  // mean column of the changed samples (0 when none)
    int centreY = 0;
    // The tally behind them: changed samples and the sums of their columns and rows.
    std::uint64_t count = 0, sumX = 0, sumY = 0;
};

// Changed samples of every step-th pixel against `previous`, scaled to the
// measure of a 3-byte format at step 1. 0 for an unknown format.
int MeasureFast(const MeasuredPicture& picture, std::span<const std::uint8_t> previous, const ZoneCorners& zone,
                int step);

// Changed samples against `reference`, scaled to a 3-byte format, and their
// centre. `mask` (empty: not written) gets ~current where changed, else 0,
// inside the zone only. Nothing for an unknown format or images too short
// for the picture; zeros for a zone that covers nothing.
std::optional<StandardMeasure> MeasureStandard(const MeasuredPicture& picture, std::span<const std::uint8_t> reference,
                                               std::span<std::uint8_t> mask, const ZoneCorners& zone);

// MeasureStandard of `outer` without the mask, from the measure already made
// of `inner` (inside it) and the band around it: the same result as a whole
// measure of `outer`, for the cost of the band alone.
std::optional<StandardMeasure> MeasureAround(const MeasuredPicture& picture, std::span<const std::uint8_t> reference,
                                             const ZoneCorners& inner, const StandardMeasure& innerMeasure,
                                             const ZoneCorners& outer);

}  // namespace vorlix
