#include "serveur/actions/Classification.h"

namespace vorlix {

ZoneRect EnlargedZone(const ZoneRect& zone, int width, int height)
{
    const int halfWidth = (zone.x1 - zone.x0) / 2;
    const int halfHeight = (zone.y1 - zone.y0) / 2;
    ZoneRect out;
    out.x0 = zone.x0 - halfWidth < 0 ? 0 : zone.x0 - halfWidth;
    out.y0 = zone.y0 - halfHeight < 0 ? 0 : zone.y0 - halfHeight;
    out.x1 = zone.x1 + halfWidth > width ? width : zone.x1 + halfWidth;
    out.y1 = zone.y1 + halfHeight > height ? height : zone.y1 + halfHeight;
    return out;
}

EventKind SingleZoneKind(const ZoneRect& zone, int cx, int cy, int zoneMeasure, int enlargedMeasure)
{
    if (zone.x0 < cx && cx < zone.x1 && zone.y0 < cy && cy < zone.y1) {
        if (static_cast<double>(zoneMeasure) < 0.33 * static_cast<double>(enlargedMeasure)) {
            return EventKind::AHEAD;
        }
        return EventKind::IN;
    }
    return EventKind::NEAR;
}

std::string PositionWord(const ZoneRect& zone, int cx, int cy, const Vocabulary& words, bool upperIsUp)
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

}  // namespace vorlix
