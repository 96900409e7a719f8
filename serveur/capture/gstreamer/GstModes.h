// From GStreamer caps to the modes the capture dialog lists: size, rate and
// format name of each caps structure, and the caps filter that selects it.
#pragma once

#include <string>
#include <vector>

#include "serveur/capture/CaptureSystem.h"

typedef struct _GstCaps GstCaps;
typedef struct _GstStructure GstStructure;

namespace vorlix::capture {

struct GstMode {
    ModeInfo info;
    std::string caps;  // caps filter right after the source
};

// The index of the format-name table for a caps structure ("RGB24",
// "YUY2", "MJPG", ...), 0 when the table has no name for it.
int FormatOfCaps(const GstStructure* structure);

// One mode per structure of fixed size and per listed frame rate (a
// structure without a rate gives one mode of rate 0).
std::vector<GstMode> ModesOfCaps(const GstCaps* caps);

// The built-in test camera's modes: 320 x 240, 640 x 480 and 1280 x 720 at
// 15 and 30 fps, 24-bit RGB.
std::vector<GstMode> TestPatternModes();

}  // namespace vorlix::capture
