// Naming a single-zone detection: inside, in front of or near the zone, and
// where in the zone the change is centred. Pure functions over the values
// the engine measured.
#pragma once

#include <string>

#include "serveur/actions/Vocabulary.h"
#include "serveur/core/Detection.h"

namespace vorlix {

struct SingleZoneResult {
    EventKind kind = EventKind::IN;
    std::string label;
};

// NEAR when (cx, cy) is not strictly inside; else AHEAD when the zone holds
// less than 0.33 of the enlarged measure, IN otherwise.
EventKind SingleZoneKind(const ZoneCorners& zone, int cx, int cy, int zoneMeasure, int enlargedMeasure);

// The position word of (cx, cy) in the zone ("UP_LEFT", "CENTER", ...), cut
// to the word slot. `upperIsUp` false swaps UP and DOWN (bottom-up RGB).
std::string PositionWord(const ZoneCorners& zone, int cx, int cy, const Vocabulary& words, bool upperIsUp);

// "Z_%d_%s_%s (%d) ": zone number, kind word, position word, zone measure.
std::string SingleZoneLabel(int zone, const std::string& kindWord, const std::string& position, int zoneMeasure);

// Whether row 0 of a frame of `format` delivered with `topDown` is the top of
// the scene as the position words see it (only bottom-up RGB is not).
bool UpperIsUp(int format, int topDown);
// Whether movement upwards in the frame is upwards in the scene (YUV frames
// always come top row first).
bool RowsTopDown(int format, int topDown);

// The kind and label of a detection with one matching zone: the zone's
// reading against the enlarged zone's measure and centre.
SingleZoneResult ClassifySingleZone(const Detection& detection, const Vocabulary& words);

}  // namespace vorlix
