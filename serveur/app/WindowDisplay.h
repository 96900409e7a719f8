// The main window's picture and activity bar as the capture thread sees them.
// The capture thread converts each painted frame to top-down RGB and leaves it
// here; the newest picture replaces one not yet shown, so nothing queues up.
// The window is told through `notify` only when it has nothing waiting, and
// takes everything at once on its own thread. No window code runs here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "serveur/core/Road.h"

namespace vorlix::app {

struct DisplayPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // width x height x 3, top row first
};

struct ActivityState {
    int low = 0;
    int high = 100;
    int position = 0;
    std::uint32_t colour = 0x00FF00;  // 0xBBGGRR
};

struct DisplayUpdate {
    std::shared_ptr<const DisplayPicture> picture;  // null: no new picture
    ActivityState activity;
    bool activityChanged = false;
};

class WindowDisplay : public DisplayHook {
public:
    // Called (on any thread) when an update waits and none was announced;
    // it must only hand a notice to the window's thread.
    void SetNotify(std::function<void()> notify);

    void SetActivityRange(int low, int high) override;
    void SetActivityPosition(int position) override;
    void SetActivityColour(std::uint32_t colour) override;
    // On the capture thread: zone frames, the selection being drawn and,
    // when asked and not yet in the frame, the changed samples and centres
    // go onto a copy of the frame, which is converted and left for the window.
    void Paint(const Frame& frame, const DisplayMarks& marks) override;

    // The rectangle being drawn with the mouse (picture pixels, any corner
    // order), framed on every painted frame until cleared.
    void SetSelection(const ZoneCorners& rectangle);
    void ClearSelection();

    // On the window's thread: what changed since the last call.
    DisplayUpdate Take();

    // Pictures converted and pictures replaced before the window took them.
    std::uint64_t Painted() const;
    std::uint64_t Replaced() const;

private:
    void Changed(std::unique_lock<std::mutex>& lock);

    mutable std::mutex lock_;
    std::function<void()> notify_;
    std::shared_ptr<DisplayPicture> latest_;
    ActivityState activity_;
    bool activityChanged_ = false;
    bool announced_ = false;
    std::uint64_t painted_ = 0;
    std::uint64_t replaced_ = 0;
    ZoneCorners selection_;
    bool selecting_ = false;
    // Capture thread only.
    std::vector<std::uint8_t> work_;
};

}  // namespace vorlix::app
