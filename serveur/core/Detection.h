// The values the detection engine hands down the road: what the consumers of
// a frame (classification, pictures, stream, events, and the workers after
// them) read instead of asking the camera object. Each value is built once
// on the capture thread and is valid for the duration of the call.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <span>
#include <string>

#include "serveur/core/CameraSettings.h"
#include "serveur/core/ZoneTable.h"

namespace vorlix {

enum class EventKind : int {
    ALLZ = 1,
    NEAR = 2,
    IN = 3,
    AHEAD = 4,
    SOMEZ = 5,
    LEFT_TO_RIGHT = 10,
    RIGHT_TO_LEFT = 11,
    BOTTOM_TO_TOP = 12,
    TOP_TO_BOTTOM = 13,
};

// The frame as the pictures are written from it: 24-bit RGB, top row first,
// converted once per frame that needs it. `rgb` is empty when the frame's
// format cannot be converted.
struct FramePicture {
    std::span<const std::uint8_t> rgb;  // width x height x 3 bytes; empty when `i420` holds the frame
    std::span<std::uint8_t> annotated;  // the camera's annotated image (the picture writer stamps it)
    int width = 0;
    int height = 0;
    std::span<const std::uint8_t> i420{};  // a tight I420 frame, compressed from its planes as it is
};

// The camera as the consumers see it at the moment of the event: one
// snapshot, so a settings change meanwhile never mixes two configurations.
struct CameraFacts {
    std::shared_ptr<const CameraSettings> settings;  // never null in a value from the engine
    std::string settingsFile;
    std::string pictureDir;
    int camera = 0;
};

// A picture the main window asked for: the client refresh ("last.jpg") or a
// "Save image" ("vorlix_save_%d.jpg").
struct PictureRequest {
    FramePicture picture;
    CameraFacts camera;
    std::string path;
    std::time_t time = 0;
};

// One zone after the reference pass.
struct ZoneReading {
    ZoneCorners zone;
    int measure = 0;
    int threshold = 0;
    int centreX = 0;
    int centreY = 0;
    [[nodiscard]] bool Matched() const { return measure > threshold; }
};

struct Detection {
    // What was seen.
    int zone = 0;  // detected zone slot (last matching zone)
    EventKind kind = EventKind::IN;
    std::uint32_t zoneMask = 0;  // bit j set for each matching zone of a SOMEZ
    std::string label;           // e.g. "ALLZ (812) ", "SOMEZ_1_3 (300) "
    int sum = 0;                 // sum of the zone measures
    int matched = 0;             // zones over their threshold
    int zoneCount = 0;
    std::array<ZoneReading, kMaxZones> zones{};
    // A single matching zone grown by half its size on every side, measured
    // against the reference without touching the change mask.
    ZoneReading enlarged;

    // The frame.
    int width = 0;
    int height = 0;
    int format = 0;   // engine format code
    int topDown = 0;  // row order flag of the delivered frame
    FramePicture picture;
    std::time_t time = 0;

    // The picture this detection is written as: the shot counter before it,
    // the stamp number (shots + 1) and the slot of the rotating set.
    int shotsBefore = 0;
    int shot = 0;
    int pictureNumber = 0;
    std::string picturePath;  // "<dir>/vorlix_<n>.jpg"
    std::string soundPath;    // "<dir>/vorlix_<n>.wav"
    // Whether the picture reached the disk (the road's picture writer; true
    // on a road without one). A picture not written is not counted.
    bool pictureWritten = false;
    CameraFacts camera;

    [[nodiscard]] const ZoneReading& Zone(int slot) const { return zones.at(static_cast<std::size_t>(slot)); }
};

}  // namespace vorlix
