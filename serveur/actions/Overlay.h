// Marks drawn on a frame in its own format: zone frames with their numbers,
// the changed samples, the centres of change. The window draws them on every
// painted frame; with "follow detection" the detection's own marks go into
// the frame that is written as the picture.
#pragma once

#include <cstdint>
#include <span>

#include "serveur/core/Road.h"

namespace vorlix {

// A frame to draw on: width x height pixels of `format` (16, 24, 32 bits,
// I420, YUY2), row 0 the top when `topDown` is kTopDown.
struct OverlayTarget {
    std::span<std::uint8_t> bytes;
    int width = 0;
    int height = 0;
    int format = 0;
    int topDown = 0;
};

inline constexpr int kNoNumber = -1;

// Inverts the four borders of (x0, y0) .. (x1, y1), corners clamped to the
// picture; a rectangle covering the whole picture is not drawn. With a
// number d (0 based), the digits of d + 1 go white, upright, at row y0 + 3,
// column x1 - 8.
void DrawZoneFrame(const OverlayTarget& target, int x0, int y0, int x1, int y1, int number = kNoNumber);
// Every sample whose change-mask byte is not 0 is inverted.
void InvertChangedSamples(const OverlayTarget& target, std::span<const std::uint8_t> mask);
// The filled square from the centre, (measure / 100) % 20 pixels a side, and a
// frame around the centre whose area is about the number of changed samples.
// Nothing when the measure is 0.
void DrawCentreMarker(const OverlayTarget& target, const ZoneMark& mark);

// Zones 0 .. count - 1, each framed and numbered.
void DrawZoneFrames(const OverlayTarget& target, const ZoneSnapshot& zones);
// The changed samples, then the centre marker of each of the `count` zones.
void DrawChanges(const OverlayTarget& target, std::span<const std::uint8_t> mask, std::span<const ZoneMark> marks);

// The overlay of a detection: zone frames, changed samples, centre markers
// (a single-zone detection marks its zone with the enlarged zone's centre,
// measure and result).
class DetectionOverlayPainter final : public DetectionOverlay {
public:
    void DrawDetectionOverlay(const Detection& detection, std::span<std::uint8_t> frame,
                              std::span<const std::uint8_t> mask) override;
};

}  // namespace vorlix
