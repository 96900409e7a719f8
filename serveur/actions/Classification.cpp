#include "serveur/actions/Classification.h"

#include "serveur/core/Frame.h"

namespace vorlix {

EventKind SingleZoneKind(const ZoneCorners& zone, int cx, int cy, int zoneMeasure, int enlargedMeasure)
{
    if (zone.x0 < cx && cx < zone.x1 && zone.y0 < cy && cy < zone.y1) {
        if (static_cast<double>(zoneMeasure) < 0.33 * static_cast<double>(enlargedMeasure)) {
            return EventKind::AHEAD;
        }
        return EventKind::IN;
    }
    return EventKind::NEAR;
}

std::string PositionWord(const ZoneCorners& zone, int cx, int cy, const Vocabulary& words, bool upperIsUp)
{
    const double w = zone.x1 - zone.x0;
    const double h = zone.y1 - zone.y0;
    const int xa = static_cast<int>(zone.x0 + 0.33 * w);
    const int xb = static_cast<int>(zone.x0 + 0.66 * w);
    const int ya = static_cast<int>(zone.y0 + 0.33 * h);
    const int yb = static_cast<int>(zone.y0 + 0.66 * h);
    const std::string& upper = upperIsUp ? words[Word::Up] : words[Word::Down];
    const std::string& lower = upperIsUp ? words[Word::Down] : words[Word::Up];

    if (cx <= xa || cx >= xb) {
        const std::string& side = cx <= xa ? words[Word::Left] : words[Word::Right];
        if (cy < ya) {
            return FitWord(upper + "_" + side);
        }
        if (cy > yb) {
            return FitWord(lower + "_" + side);
        }
        return side;
    }
    if (cy <= ya) {
        return upper;
    }
    if (cy >= yb) {
        return lower;
    }
    return words[Word::Center];
}

std::string SingleZoneLabel(int zone, const std::string& kindWord, const std::string& position, int zoneMeasure)
{
    return "Z_" + std::to_string(zone + 1) + "_" + kindWord + "_" + position + " (" + std::to_string(zoneMeasure) +
           ") ";
}

bool UpperIsUp(int format, int topDown)
{
    const bool rgb = format == kFormatRgb16 || format == kFormatRgb24 || format == kFormatRgb32;
    return !(rgb && topDown != kTopDown);
}

bool RowsTopDown(int format, int topDown)
{
    return format == kFourccI420 || format == kFourccYuy2 || topDown == kTopDown;
}

SingleZoneResult ClassifySingleZone(const Detection& detection, const Vocabulary& words)
{
    const ZoneReading& zone = detection.Zone(detection.zone);
    const ZoneReading& enlarged = detection.enlarged;
    SingleZoneResult result;
    result.kind = SingleZoneKind(zone.zone, enlarged.centreX, enlarged.centreY, zone.measure, enlarged.measure);
    const Word word = result.kind == EventKind::AHEAD ? Word::Ahead
                      : result.kind == EventKind::IN  ? Word::In
                                                      : Word::Near;
    const std::string position = PositionWord(zone.zone, enlarged.centreX, enlarged.centreY, words,
                                              UpperIsUp(detection.format, detection.topDown));
    result.label = SingleZoneLabel(detection.zone, words[word], position, zone.measure);
    return result;
}

}  // namespace vorlix
