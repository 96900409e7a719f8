// vorlix_vfw's two ways of taking frames. Grab mode: a quick timer with the
// period "Frequency" grabs one frame per expiry, while the main window is
// hidden. Preview mode: while the window is shown its preview delivers a frame
// every "Frequency" without being asked; a frame nobody grabbed switches to
// this mode, and a 5-second watchdog that sees no frame switches back.
// Capture start arms a 500 ms timer, then a 1-second one, then the mode logic.
// Each timer expiry asks for a client refresh once "Refresh Picture" seconds
// have passed since the last one.
//
// Everything but SetWindowShown runs on the capture thread, which drives the
// timers itself (no window system or main loop involved).
#pragma once

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>

#include "serveur/capture/v4l2/FrameGate.h"

namespace vorlix::capture {

struct GrabSettings {
    std::chrono::milliseconds frequency{90};  // "Frequency"
    int refreshSeconds = 60;                  // "Refresh Picture"
    std::chrono::milliseconds first{500};
    std::chrono::milliseconds handover{1000};
    std::chrono::milliseconds watchdog{5000};
};

// Timer numbers shown in the traces.
inline constexpr int kVideoTimerId = 1;
inline constexpr int kQuickTimerId = 2;
inline constexpr int kSlowTimerId = 3;

class GrabScheduler final : public FrameGate {
public:
    enum class Mode { First, Handover, Grab, Preview };
    using WallClock = std::function<std::time_t()>;

    GrabScheduler(GrabSettings settings, std::function<void()> clientRefresh, WallClock wallClock = {});

    // Arms the first timer.
    void Start(Clock::time_point now);
    // Main thread: the main window was shown or hidden.
    void SetWindowShown(bool shown) { windowShown_ = shown; }

    std::chrono::milliseconds Tick(Clock::time_point now) override;
    bool Admit(Clock::time_point now) override;

    [[nodiscard]] Mode CurrentMode() const { return mode_; }

private:
    void Expire(Clock::time_point now);
    void CheckRefresh();

    GrabSettings settings_;
    std::function<void()> refresh_;
    WallClock wallClock_;
    std::atomic<bool> windowShown_{false};
    std::atomic<Mode> mode_{Mode::First};
    Clock::time_point due_{};
    Clock::time_point nextPreview_{};
    bool grabPending_ = false;
    bool unasked_ = false;  // a frame arrived that no grab asked for
    int framesSinceWatchdog_ = 0;
    std::time_t lastRefresh_ = 0;
};

}  // namespace vorlix::capture
