#include "serveur/core/ZoneMeasures.h"

#include <algorithm>

#include "serveur/core/DiffKernels.h"
#include "serveur/core/PixelFormat.h"
#include "serveur/core/ZoneMath.h"

namespace vorlix {

namespace {

enum class RunState { Unmeasurable, Empty, Ready };

// The zone of the three images at the same offset. Unmeasurable: unknown
// format or images too short for the picture.
RunState MakeZoneRun(const MeasuredPicture& picture, std::span<const std::uint8_t> base, std::span<std::uint8_t> mask,
                     const ZoneCorners& zone, ZoneRun& run)
{
    const int bpp = BytesPerPixel(picture.format);
    const std::size_t needed = RowBytes(picture.format, picture.width) * static_cast<std::size_t>(picture.height);
    if (bpp == 0 || picture.current.size() < needed || base.size() < needed ||
        (!mask.empty() && mask.size() < needed)) {
        return RunState::Unmeasurable;
    }
    const ZoneCorners z = Clipped(zone, picture.width, picture.height);
    if (z.x1 <= z.x0 || z.y1 <= z.y0) {
        return RunState::Empty;
    }
    const std::size_t offset =
        (static_cast<std::size_t>(z.y0) * static_cast<std::size_t>(picture.width) + static_cast<std::size_t>(z.x0)) *
        static_cast<std::size_t>(bpp);
    run = ZoneRun{base.data() + offset,
                  picture.current.data() + offset,
                  mask.empty() ? nullptr : mask.data() + offset,
                  RowBytes(picture.format, picture.width),
                  z.x1 - z.x0,
                  z.y1 - z.y0,
                  bpp,
                  z.x0,
                  z.y0};
    return RunState::Ready;
}

StandardMeasure FromTally(std::uint64_t count, std::uint64_t sumX, std::uint64_t sumY, int bpp)
{
    const std::uint64_t divisor = std::max<std::uint64_t>(count, 1);
    StandardMeasure out;
    out.count = count;
    out.sumX = sumX;
    out.sumY = sumY;
    out.centreX = static_cast<int>(sumX / divisor);
    out.centreY = static_cast<int>(sumY / divisor);
    out.measure = static_cast<int>(((30 / std::min(bpp, 3)) * count) / 10);
    return out;
}

bool Inside(const ZoneCorners& in, const ZoneCorners& out)
{
    return in.x0 >= out.x0 && in.x1 <= out.x1 && in.y0 >= out.y0 && in.y1 <= out.y1;
}

}  // namespace

int MeasureFast(const MeasuredPicture& picture, std::span<const std::uint8_t> previous, const ZoneCorners& zone,
                int step)
{
    ZoneRun run;
    if (MakeZoneRun(picture, previous, {}, zone, run) != RunState::Ready) {
        return 0;
    }
    step = std::max(step, 1);
    const std::uint64_t count = DiffZoneFast(run, step, picture.noise);
    return static_cast<int>(count * static_cast<std::uint64_t>((step * 3) / std::min(run.bpp, 3)));
}

std::optional<StandardMeasure> MeasureStandard(const MeasuredPicture& picture, std::span<const std::uint8_t> reference,
                                               std::span<std::uint8_t> mask, const ZoneCorners& zone)
{
    ZoneRun run;
    const RunState state = MakeZoneRun(picture, reference, mask, zone, run);
    if (state == RunState::Unmeasurable) {
        return std::nullopt;
    }
    if (state == RunState::Empty) {
        return StandardMeasure{};
    }
    const ZoneTally c = DiffZoneStandard(run, picture.noise);
    return FromTally(c.count, c.sumX, c.sumY, run.bpp);
}

std::optional<StandardMeasure> MeasureAround(const MeasuredPicture& picture, std::span<const std::uint8_t> reference,
                                             const ZoneCorners& inner, const StandardMeasure& innerMeasure,
                                             const ZoneCorners& outer)
{
    if (BytesPerPixel(picture.format) == 0) {
        return std::nullopt;
    }
    const ZoneCorners in = Clipped(inner, picture.width, picture.height);
    const ZoneCorners out = Clipped(outer, picture.width, picture.height);
    if (in.x1 <= in.x0 || in.y1 <= in.y0 || !Inside(in, out)) {
        return MeasureStandard(picture, reference, {}, outer);
    }
    std::uint64_t count = innerMeasure.count, sumX = innerMeasure.sumX, sumY = innerMeasure.sumY;
    // The band: above and below across the whole width, then left and right beside the inner zone.
    const ZoneCorners band[] = {{out.x0, out.y0, out.x1, in.y0, false},
                                {out.x0, in.y1, out.x1, out.y1, false},
                                {out.x0, in.y0, in.x0, in.y1, false},
                                {in.x1, in.y0, out.x1, in.y1, false}};
    for (const ZoneCorners& part : band) {
        ZoneRun run;
        const RunState state = MakeZoneRun(picture, reference, {}, part, run);
        if (state == RunState::Unmeasurable) {
            return std::nullopt;
        }
        if (state == RunState::Empty) {
            continue;
        }
        const ZoneTally c = DiffZoneStandard(run, picture.noise);
        count += c.count;
        sumX += c.sumX;
        sumY += c.sumY;
    }
    return FromTally(count, sumX, sumY, BytesPerPixel(picture.format));
}

}  // namespace vorlix
