#include "serveur/capture/v4l2/GrabScheduler.h"

#include <algorithm>

#include "libkestrel/error/QXError.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"

namespace vorlix::capture {

GrabScheduler::GrabScheduler(GrabSettings settings, std::function<void()> clientRefresh, WallClock wallClock)
    : settings_(settings), refresh_(std::move(clientRefresh)), wallClock_(std::move(wallClock))
{
    // A zero or negative period would spin the capture thread.
    settings_.frequency = std::max(settings_.frequency, std::chrono::milliseconds(1));
    if (!wallClock_) {
        wallClock_ = [] { return std::time(nullptr); };
    }
}

void GrabScheduler::Start(Clock::time_point now)
{
    mode_ = Mode::First;
    due_ = now + settings_.first;
    nextPreview_ = now;
    grabPending_ = false;
    unasked_ = false;
    framesSinceWatchdog_ = 0;
    lastRefresh_ = wallClock_();
    TRACE_LEVEL(kestrel::kLevelUser2, "launch video timer(id=%d)", kVideoTimerId);
}

std::chrono::milliseconds GrabScheduler::Tick(Clock::time_point now)
{
    if (now >= due_) {
        Expire(now);
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due_ - now);
    return std::max(left, std::chrono::milliseconds(1));
}

void GrabScheduler::Expire(Clock::time_point now)
{
    CheckRefresh();
    switch (mode_.load()) {
        case Mode::First:
            grabPending_ = true;
            mode_ = Mode::Handover;
            due_ = now + settings_.handover;
            return;
        case Mode::Handover:
            grabPending_ = true;
            mode_ = Mode::Grab;
            due_ = now + settings_.frequency;
            return;
        case Mode::Grab:
            if (unasked_) {
                // Traced first: whoever sees the new mode finds its line written.
                TRACE_TRACE("launch the timer lent (id=%d, 5 sec) window is open", kSlowTimerId);
                grabPending_ = false;
                framesSinceWatchdog_ = 0;
                due_ = now + settings_.watchdog;
                mode_ = Mode::Preview;
                return;
            }
            grabPending_ = true;
            due_ = now + settings_.frequency;
            return;
        case Mode::Preview:
            if (framesSinceWatchdog_ == 0) {  // the preview stopped
                TRACE_TRACE("launch quick timer(id=%d, %d ms), window is close", kQuickTimerId,
                            static_cast<int>(settings_.frequency.count()));
                unasked_ = false;
                grabPending_ = true;
                due_ = now + settings_.frequency;
                mode_ = Mode::Grab;
                return;
            }
            framesSinceWatchdog_ = 0;
            due_ = now + settings_.watchdog;
            return;
    }
}

void GrabScheduler::CheckRefresh()
{
    const std::time_t now = wallClock_();
    if (now - lastRefresh_ > settings_.refreshSeconds) {
        lastRefresh_ = now;
        if (refresh_) {
            refresh_();
        }
    }
}

bool GrabScheduler::Admit(Clock::time_point now)
{
    bool deliver = false;
    if (grabPending_) {
        grabPending_ = false;
        deliver = true;
    } else if (windowShown_ && now >= nextPreview_) {
        // The window's own preview, at the rate "Frequency".
        nextPreview_ = now + settings_.frequency;
        unasked_ = true;
        deliver = true;
    }
    if (deliver) {
        ++framesSinceWatchdog_;
    }
    return deliver;
}

}  // namespace vorlix::capture
