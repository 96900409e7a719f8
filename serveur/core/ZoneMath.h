// The arithmetic of the zones, apart from the images: clipping, the enlarged
// zone of classification, rescaling to a new picture size and the
// thresholds. Pure functions, so each rule is tested on its own.
#pragma once

#include <array>

#include "serveur/core/ZoneTable.h"

namespace vorlix {

// The zone clipped to the picture, so a zone that is being redrawn or was
// set for another size never reaches outside the images.
ZoneCorners Clipped(ZoneCorners zone, int width, int height);

// The zone grown by half its size on every side, clipped to the picture.
ZoneCorners EnlargedZone(const ZoneCorners& zone, int width, int height);

// The zones of a picture saved at savedWidth x savedHeight (0: unknown) for
// a picture of width x height: whole-picture zones cover it, the others are
// scaled, then cut to it; a zone that starts beyond it is emptied. The slot
// after the last zone becomes the whole picture. True when a zone changed.
bool RescaleZones(ZoneSnapshot& table, int savedWidth, int savedHeight, int width, int height);

struct ZoneThreshold {
    int shareOfZones = 0;    // parts per ten thousand of all zones, +1
    int shareOfPicture = 0;  // parts per ten thousand of the picture, +1
    int threshold = 0;       // "chgt"
    int step = 1;            // "iteration", 1..40
};

struct ZoneThresholds {
    int count = 0;  // zones kept: 0 when one reaches beyond the picture or all have no area
    std::array<ZoneThreshold, kMaxZones> zones{};
    int largest = 0;
};

// The thresholds of `table`'s zones for a width x height picture and
// "MaxDiff". An inverted zone (corners swapped in the file) covers nothing:
// its area counts as 0, so its threshold stays positive and it never matches.
ZoneThresholds ComputeThresholds(const ZoneSnapshot& table, int width, int height, int maxDiff);

}  // namespace vorlix
