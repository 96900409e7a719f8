// Decides, on the capture thread, which of the device's frames go to the
// camera object, and runs the timers that make that decision.
#pragma once

#include <chrono>

namespace vorlix::capture {

class FrameGate {
public:
    using Clock = std::chrono::steady_clock;
    virtual ~FrameGate() = default;
    // Runs the timers due at `now`; the time until the next one is due.
    virtual std::chrono::milliseconds Tick(Clock::time_point now) = 0;
    // A frame is ready at `now`: true when it goes to the camera object.
    virtual bool Admit(Clock::time_point now) = 0;
};

}  // namespace vorlix::capture
