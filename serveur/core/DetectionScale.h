// "Detection scale": frames measured at a half or a quarter of the picture.
// The engine's zones, thresholds and measures live at the measured size; what
// it hands down the road is brought back to the picture's size here.
#pragma once

#include <string>

#include "serveur/core/Detection.h"
#include "serveur/core/ZoneTable.h"

namespace vorlix {

// The scale a setting's value stands for: 2 and 4 as they are, anything else 1.
int DetectionScaleOf(int value);

// The "Detection scale" of [Vorlix] in `file`: 1 when absent; a value other
// than 1, 2 or 4 is read as 1 with a warning.
int ReadDetectionScale(const std::string& file);

// The whole-picture change ("Tout") for frames measured at 1/scale: a zone
// holds 1/scale^2 of the pixels, so its threshold shrinks with it.
int ScaledMaxDiff(int maxDiff, int scale);

// A zone of the measured frame in the picture's pixels (exclusive corners
// kept inside the picture).
ZoneCorners ZoneToPicture(const ZoneCorners& zone, int scale, int pictureWidth, int pictureHeight);

// A measure (a count of changed pixels) of the measured frame as a count of the picture's pixels.
int MeasureToPicture(int measure, int scale);

// The detection's zones, centres, measures, thresholds, sum and size in the
// picture's terms; nothing for scale 1.
void DetectionToPicture(Detection& detection, int scale, int pictureWidth, int pictureHeight);

}  // namespace vorlix
