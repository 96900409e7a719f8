#include "serveur/core/DetectionScale.h"

#include <algorithm>
#include <climits>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/core/SettingRanges.h"
#include "serveur/core/SettingsSections.h"

namespace vorlix {

int DetectionScaleOf(int value)
{
    return value == 2 || value == 4 ? value : 1;
}

int ReadDetectionScale(const std::string& file)
{
    const int value = ReadRangedInt(file, section::kMain, "Detection scale");
    const int scale = DetectionScaleOf(value);
    if (scale != value) {
        TRACE_WARN("Setting \"Detection scale\" of [Vorlix] = \"%d\" is neither 1, 2 nor 4: 1 used", value);
    }
    return scale;
}

int ScaledMaxDiff(int maxDiff, int scale)
{
    if (scale <= 1 || maxDiff <= 0) {
        return maxDiff;
    }
    // Never 0: 0 switches processing off.
    return std::max(maxDiff / (scale * scale), 1);
}

ZoneCorners ZoneToPicture(const ZoneCorners& zone, int scale, int pictureWidth, int pictureHeight)
{
    ZoneCorners out = zone;
    out.x0 = std::clamp(zone.x0 * scale, 0, pictureWidth);
    out.y0 = std::clamp(zone.y0 * scale, 0, pictureHeight);
    out.x1 = std::clamp(zone.x1 * scale, 0, pictureWidth);
    out.y1 = std::clamp(zone.y1 * scale, 0, pictureHeight);
    return out;
}

int MeasureToPicture(int measure, int scale)
{
    const long long scaled = static_cast<long long>(measure) * scale * scale;
    return static_cast<int>(std::clamp<long long>(scaled, INT_MIN, INT_MAX));
}

namespace {

void ReadingToPicture(ZoneReading& r, int scale, int pictureWidth, int pictureHeight)
{
    r.zone = ZoneToPicture(r.zone, scale, pictureWidth, pictureHeight);
    r.measure = MeasureToPicture(r.measure, scale);
    r.threshold = MeasureToPicture(r.threshold, scale);
    // The middle of the picture's pixels the measured one stands for.
    if (r.centreX != 0 || r.centreY != 0) {
        r.centreX = std::clamp(r.centreX * scale + scale / 2, 0, std::max(pictureWidth - 1, 0));
        r.centreY = std::clamp(r.centreY * scale + scale / 2, 0, std::max(pictureHeight - 1, 0));
    }
}

}  // namespace

void DetectionToPicture(Detection& detection, int scale, int pictureWidth, int pictureHeight)
{
    if (scale <= 1) {
        return;
    }
    for (int j = 0; j < detection.zoneCount; ++j) {
        ReadingToPicture(detection.zones[static_cast<std::size_t>(j)], scale, pictureWidth, pictureHeight);
    }
    ReadingToPicture(detection.enlarged, scale, pictureWidth, pictureHeight);
    detection.sum = MeasureToPicture(detection.sum, scale);
    detection.width = pictureWidth;
    detection.height = pictureHeight;
}

}  // namespace vorlix
