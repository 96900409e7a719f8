// Following the centre of the change of one zone over successive detections
// and turning a steady drift into direction events.
#pragma once

#include <ctime>
#include <vector>

#include "serveur/core/Detection.h"

namespace vorlix {

struct TrackingState {
    std::time_t lastTime = 0;  // 0 forces a restart
    int lastX = 0, lastY = 0;
    int l2r = 0, r2l = 0, t2b = 0, b2t = 0;
};

inline constexpr int kMoveThreshold = 20;  // pixels; a move must exceed it
inline constexpr int kTrackingGap = 2;     // seconds; more than this restarts
inline constexpr int kDirectionCount = 3;

enum class TrackStep { Restarted, Counted, Unchanged };

// One detection with the change centre (cx, cy) at time `now`.
TrackStep TrackMove(TrackingState& state, int cx, int cy, std::time_t now);

// The direction events the counters call for (horizontal first, then
// vertical), empty when none reached 3. When any fires the tracking is
// marked for a restart.
std::vector<EventKind> TakeDirections(TrackingState& state, bool topDown);

}  // namespace vorlix
