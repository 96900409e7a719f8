// What an event is called in the events list, the sound section and the
// Execute keyword %E, and which sound identity it carries.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "serveur/core/Detection.h"

namespace vorlix {

struct EventNames {
    std::string label;                  // "In zone 1", "Zones 1 3", ...
    std::optional<std::string> oldKey;  // key of earlier versions in section "Vorlix"
    int sound = 0;                      // sound identity of the replay rule
    bool direction = false;             // kinds 10 to 13
};

EventNames NameEvent(int zone, EventKind kind, std::uint32_t mask);

// "Z_%d_LEFT_TO_RIGHT" and its three siblings; empty for other kinds.
std::string DirectionTag(int zone, EventKind kind);

// Any kind but ALLZ and SOMEZ.
bool IsSingleZoneEvent(EventKind kind);

}  // namespace vorlix
