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
    if (bpp == 0 || picture.current.size() < needed || base.size() < needed || (!mask.empty() && mask.size() < needed))
        return RunState::Unmeasurable;
    const ZoneCorners z = Clipped(zone, picture.width, picture.height);
    if (z.x1 <= z.x0 || z.y1 <= z.y0)
        return RunState::Empty;
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

}  // namespace

int MeasureFast(const MeasuredPicture& picture, std::span<const std::uint8_t> previous, const ZoneCorners& zone,
                int step)
{
    ZoneRun run;
    if (MakeZoneRun(picture, previous, {}, zone, run) != RunState::Ready)
        return 0;
    step = std::max(step, 1);
    const std::uint64_t count = DiffZoneFast(run, step, picture.noise);
    return static_cast<int>(count * static_cast<std::uint64_t>((step * 3) / std::min(run.bpp, 3)));
}

std::optional<StandardMeasure> MeasureStandard(const MeasuredPicture& picture, std::span<const std::uint8_t> reference,
                                               std::span<std::uint8_t> mask, const ZoneCorners& zone)
{
    ZoneRun run;
    const RunState state = MakeZoneRun(picture, reference, mask, zone, run);
    if (state == RunState::Unmeasurable)
        return std::nullopt;
    if (state == RunState::Empty)
        return StandardMeasure{};
    const ZoneTally c = DiffZoneStandard(run, picture.noise);
    const std::uint64_t divisor = std::max<std::uint64_t>(c.count, 1);
    StandardMeasure out;
    out.centreX = static_cast<int>(c.sumX / divisor);
    out.centreY = static_cast<int>(c.sumY / divisor);
    out.measure = static_cast<int>(((30 / std::min(run.bpp, 3)) * c.count) / 10);
    return out;
}

}  // namespace vorlix
