#include "serveur/app/WindowDisplay.h"

#include <algorithm>
#include <utility>

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

void WindowDisplay::DrawDetectionOverlay(const Detection& /*detection*/, std::span<std::uint8_t> /*annotated*/) {}

void WindowDisplay::Decorate(const Frame& /*work*/, std::span<std::uint8_t> /*bytes*/, bool /*overlayAlreadyDrawn*/) {}

void WindowDisplay::Paint(const Frame& frame, std::span<const std::uint8_t> annotated, bool overlayAlreadyDrawn)
{
    if (frame.width <= 0 || frame.height <= 0) {
        return;
    }
    // The overlay, when drawn, lives in the annotated copy of the frame.
    const std::span<const std::uint8_t> source =
        overlayAlreadyDrawn && annotated.size() >= frame.data.size() ? annotated.first(frame.data.size()) : frame.data;
    work_.assign(source.begin(), source.end());
    Frame work = frame;
    work.data = work_;
    Decorate(work, work_, overlayAlreadyDrawn);

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
