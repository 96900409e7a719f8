#include "serveur/actions/Tracking.h"

namespace vorlix {

TrackStep TrackMove(TrackingState& state, int cx, int cy, std::time_t now)
{
    if (now - state.lastTime > kTrackingGap) {
        state.l2r = state.r2l = state.t2b = state.b2t = 1;
        state.lastX = cx;
        state.lastY = cy;
        state.lastTime = now;
        return TrackStep::Restarted;
    }
    bool moved = false;
    if (cx > state.lastX + kMoveThreshold) {
        ++state.l2r;
        if (state.r2l > 0) {
            --state.r2l;
        }
        moved = true;
    }
    if (cx < state.lastX - kMoveThreshold) {
        if (state.l2r > 0) {
            --state.l2r;
        }
        ++state.r2l;
        moved = true;
    }
    if (cy > state.lastY + kMoveThreshold) {
        ++state.t2b;
        if (state.b2t > 0) {
            --state.b2t;
        }
        moved = true;
    }
    if (cy < state.lastY - kMoveThreshold) {
        if (state.t2b > 0) {
            --state.t2b;
        }
        ++state.b2t;
        moved = true;
    }
    if (!moved) {
        return TrackStep::Unchanged;
    }
    state.lastX = cx;
    state.lastY = cy;
    state.lastTime = now;
    return TrackStep::Counted;
}

std::vector<EventKind> TakeDirections(TrackingState& state, bool topDown)
{
    std::vector<EventKind> events;
    if (state.l2r < kDirectionCount && state.r2l < kDirectionCount && state.b2t < kDirectionCount &&
        state.t2b < kDirectionCount) {
        return events;
    }
    if (state.l2r >= kDirectionCount) {
        events.push_back(EventKind::LEFT_TO_RIGHT);
    } else if (state.r2l >= kDirectionCount) {
        events.push_back(EventKind::RIGHT_TO_LEFT);
    }
    if (state.b2t >= kDirectionCount) {
        events.push_back(topDown ? EventKind::BOTTOM_TO_TOP : EventKind::TOP_TO_BOTTOM);
    } else if (state.t2b >= kDirectionCount) {
        events.push_back(topDown ? EventKind::TOP_TO_BOTTOM : EventKind::BOTTOM_TO_TOP);
    }
    state.lastTime = 0;
    return events;
}

}  // namespace vorlix
