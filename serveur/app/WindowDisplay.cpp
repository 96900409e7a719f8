#include "serveur/app/WindowDisplay.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "serveur/actions/Overlay.h"
#include "serveur/core/FrameToRgb.h"

namespace vorlix::app {

void WindowDisplay::SetNotify(std::function<void()> notify)
{
    const std::lock_guard<std::mutex> guard(lock_);
    notify_ = std::move(notify);
}

void WindowDisplay::Changed(std::unique_lock<std::mutex>& lock)
{
    if (announced_) {
        return;
    }
    announced_ = true;
    const std::function<void()> notify = notify_;
    lock.unlock();
    if (notify) {
        notify();
    }
}

void WindowDisplay::SetActivityRange(int low, int high)
{
    std::unique_lock<std::mutex> lock(lock_);
    activity_.low = low;
    activity_.high = std::max(high, low);
    activityChanged_ = true;
    Changed(lock);
}

void WindowDisplay::SetActivityPosition(int position)
{
    std::unique_lock<std::mutex> lock(lock_);
    if (activity_.position == position && !activityChanged_) {
        return;
    }
    activity_.position = position;
    activityChanged_ = true;
    Changed(lock);
}

void WindowDisplay::SetActivityColour(std::uint32_t colour)
{
    std::unique_lock<std::mutex> lock(lock_);
    if (activity_.colour == colour && !activityChanged_) {
        return;
    }
    activity_.colour = colour;
    activityChanged_ = true;
    Changed(lock);
}

void WindowDisplay::SetSelection(const ZoneCorners& rectangle)
{
    const std::lock_guard<std::mutex> guard(lock_);
    selection_ = rectangle;
    selecting_ = true;
}

void WindowDisplay::ClearSelection()
{
    const std::lock_guard<std::mutex> guard(lock_);
    selecting_ = false;
}

void WindowDisplay::Paint(const Frame& frame, const DisplayMarks& marks)
{
    if (frame.width <= 0 || frame.height <= 0) {
        return;
    }
    std::optional<ZoneCorners> selection;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (selecting_) {
            selection = selection_;
        }
    }
    work_.assign(frame.data.begin(), frame.data.end());
    const OverlayTarget target{work_, frame.width, frame.height, frame.format, frame.topDown};
    if (!marks.overlayDrawn) {
        DrawZoneFrames(target, marks.zones);
    }
    if (selection) {
        DrawZoneFrame(target, std::min(selection->x0, selection->x1), std::min(selection->y0, selection->y1),
                      std::max(selection->x0, selection->x1), std::max(selection->y0, selection->y1));
    }
    if (marks.followDetection && !marks.overlayDrawn) {
        const auto count = static_cast<std::size_t>(std::clamp(marks.zones.count, 0, kMaxZones));
        DrawChanges(target, marks.mask, std::span<const ZoneMark>(marks.marks).first(count));
    }

    // A fresh buffer per picture: the window may still be painting the last one.
    auto picture = std::make_shared<DisplayPicture>();
    if (!ConvertFrameToRgb(work_, frame.width, frame.height, frame.format, frame.topDown, picture->rgb)) {
        return;
    }
    picture->width = frame.width;
    picture->height = frame.height;

    std::unique_lock<std::mutex> lock(lock_);
    if (latest_) {
        ++replaced_;
    }
    latest_ = std::move(picture);
    ++painted_;
    Changed(lock);
}

DisplayUpdate WindowDisplay::Take()
{
    const std::lock_guard<std::mutex> guard(lock_);
    DisplayUpdate update;
    update.activity = activity_;
    update.activityChanged = std::exchange(activityChanged_, false);
    update.picture = std::move(latest_);
    latest_.reset();
    announced_ = false;
    return update;
}

std::uint64_t WindowDisplay::Painted() const
{
    const std::lock_guard<std::mutex> guard(lock_);
    return painted_;
}

std::uint64_t WindowDisplay::Replaced() const
{
    const std::lock_guard<std::mutex> guard(lock_);
    return replaced_;
}

}  // namespace vorlix::app
