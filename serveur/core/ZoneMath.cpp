#include "serveur/core/ZoneMath.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace vorlix {

ZoneCorners Clipped(ZoneCorners z, int width, int height)
{
    z.x0 = std::clamp(z.x0, 0, width);
    z.x1 = std::clamp(z.x1, z.x0, width);
    z.y0 = std::clamp(z.y0, 0, height);
    z.y1 = std::clamp(z.y1, z.y0, height);
    return z;
}

ZoneCorners EnlargedZone(const ZoneCorners& zone, int width, int height)
{
    const int halfWidth = (zone.x1 - zone.x0) / 2;
    const int halfHeight = (zone.y1 - zone.y0) / 2;
    ZoneCorners out;
    out.x0 = std::max(zone.x0 - halfWidth, 0);
    out.y0 = std::max(zone.y0 - halfHeight, 0);
    out.x1 = std::min(zone.x1 + halfWidth, width);
    out.y1 = std::min(zone.y1 + halfHeight, height);
    return out;
}

bool RescaleZones(ZoneSnapshot& table, int savedWidth, int savedHeight, int width, int height)
{
    const bool rescale = savedWidth != 0 && savedHeight != 0 && (savedWidth != width || savedHeight != height);
    const auto scale = [](long long a, long long b, long long c) { return static_cast<int>(a * b / c); };
    bool changed = false;
    for (int i = 0; i < table.count; ++i) {
        auto& z = table.slots[static_cast<std::size_t>(i)];
        const ZoneCorners before = z;
        if (z.whole) {
            z = {0, 0, width, height, true};
        } else {
            if (rescale) {
                z.x0 = scale(width, z.x0, savedWidth);
                z.y0 = scale(z.y0, height, savedHeight);
                z.x1 = scale(z.x1, width, savedWidth);
                z.y1 = scale(z.y1, height, savedHeight);
            }
            if (z.x0 > width || z.y0 > height) {
                z = {0, 0, 0, 0, false};
            } else {
                z.x1 = std::min(z.x1, width);
                z.y1 = std::min(z.y1, height);
            }
        }
        changed = changed || !(z == before);
    }
    if (table.count < kZoneSlots) {
        table.slots[static_cast<std::size_t>(table.count)] = {0, 0, width, height, false};
    }
    return changed;
}

ZoneThresholds ComputeThresholds(const ZoneSnapshot& table, int width, int height, int maxDiff)
{
    const auto area = [](const ZoneCorners& z) {
        return static_cast<long long>(std::max(z.x1 - z.x0, 0)) * std::max(z.y1 - z.y0, 0);
    };
    ZoneThresholds out;
    out.count = std::min(table.count, kMaxZones);
    long long total = 0;
    for (int k = 0; k < out.count; ++k) {
        const auto& z = table.slots[static_cast<std::size_t>(k)];
        if (z.x1 > width || z.y1 > height) {
            out.count = 0;
            total = 0;
            break;
        }
        total += area(z);
    }
    if (total == 0) {
        out.count = 0;
    }
    for (int k = 0; k < out.count; ++k) {
        const double scaled = static_cast<double>(area(table.slots[static_cast<std::size_t>(k)])) * 10000.0;
        ZoneThreshold& t = out.zones[static_cast<std::size_t>(k)];
        t.shareOfZones = static_cast<int>(std::trunc(scaled / static_cast<double>(total))) + 1;
        t.shareOfPicture =
            static_cast<int>(std::trunc(scaled / (static_cast<double>(height) * static_cast<double>(width)))) + 1;
        const long long chgt = static_cast<long long>(t.shareOfPicture) * maxDiff / 10000 + 1;
        t.threshold = static_cast<int>(std::clamp<long long>(chgt, INT_MIN, INT_MAX));
        t.step = std::clamp(t.threshold / 10, 1, 40);
        out.largest = std::max(out.largest, t.threshold);
    }
    return out;
}

}  // namespace vorlix
