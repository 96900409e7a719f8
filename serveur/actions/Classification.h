// Naming a single-zone detection: inside, in front of or near the zone, and
// where in the zone the change is centred.
#pragma once

#include <string>

#include "serveur/actions/Vocabulary.h"
#include "serveur/core/Hooks.h"

namespace vorlix {

struct ZoneRect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // x1, y1 exclusive
    bool operator==(const ZoneRect&) const = default;
};

// The zone grown by half its size on every side, clipped to the picture.
ZoneRect EnlargedZone(const ZoneRect& zone, int width, int height);

// NEAR when (cx, cy) is not strictly inside; else AHEAD when the zone holds
// less than 0.33 of the enlarged measure, IN otherwise.
EventKind SingleZoneKind(const ZoneRect& zone, int cx, int cy, int zoneMeasure, int enlargedMeasure);

// The position word of (cx, cy) in the zone ("UP_LEFT", "CENTER", ...), cut
// to the word slot. `upperIsUp` false swaps UP and DOWN (bottom-up RGB).
std::string PositionWord(const ZoneRect& zone, int cx, int cy, const Vocabulary& words, bool upperIsUp);

// "Z_%d_%s_%s (%d) ": zone number, kind word, position word, zone measure.
std::string SingleZoneLabel(int zone, const std::string& kindWord, const std::string& position, int zoneMeasure);

}  // namespace vorlix
