#include "serveur/app/HistoryBrowser.h"

#include <algorithm>

namespace vorlix::app {

namespace {
int Mod(long long value, int m)
{
    return static_cast<int>(((value % m) + m) % m);
}
}  // namespace

HistoryBrowser::HistoryBrowser(int shots, int maxJpg)
    : maxJpg_(std::max(maxJpg, 1)), current_(Mod(shots, maxJpg_)), position_(maxJpg_)
{
}

int HistoryBrowser::NumberAt(int position) const
{
    return Mod(static_cast<long long>(maxJpg_) + current_ % maxJpg_ + position, maxJpg_);
}

int HistoryBrowser::PositionOf(int number) const
{
    const int p = Mod(static_cast<long long>(number) - current_, maxJpg_);
    return p == 0 ? maxJpg_ : p;
}

void HistoryBrowser::MoveTo(int position)
{
    position_ = std::clamp(position, 1, maxJpg_);
}

void HistoryBrowser::LineRight()
{
    if (replayEnd_ && position_ >= *replayEnd_) {
        return;
    }
    MoveTo(position_ + 1);
}

HistoryPlacement PlaceHistoryPicture(int viewWidth, int viewHeight, int pictureWidth, int pictureHeight)
{
    constexpr int kSmallMarginY = 120;
    constexpr int kCentreBelow = 80;
    constexpr int kLeft = 60;
    constexpr int kTop = 5;
    constexpr int kMarginX = 120;
    constexpr int kMarginY = 160;
    constexpr int kMinWidth = 320;
    constexpr int kMinHeight = 240;
    HistoryPlacement p;
    if (pictureWidth < viewWidth && pictureHeight < viewHeight - kSmallMarginY) {
        p.x = (viewWidth - pictureWidth) / 2;
        p.y = (viewHeight - pictureHeight - kCentreBelow) / 2;
        p.width = pictureWidth;
        p.height = pictureHeight;
        return p;
    }
    p.x = kLeft;
    p.y = kTop;
    p.width = std::max(viewWidth - kMarginX, kMinWidth);
    p.height = std::max(viewHeight - kMarginY, kMinHeight);
    p.stretched = true;
    return p;
}

std::optional<ReplayPlan> PlanReplay(int shown, int current, int maxJpg, const FileExists& hasRecording)
{
    const int m = std::max(maxJpg, 1);
    std::optional<int> start;
    for (int back = 0; back < m; ++back) {
        const int n = Mod(static_cast<long long>(shown) - back, m);
        if (hasRecording(n)) {
            start = n;
            break;
        }
    }
    if (!start) {
        return std::nullopt;
    }
    ReplayPlan plan;
    plan.recording = *start;
    plan.end = Mod(current, m);
    for (int ahead = 0; ahead < m; ++ahead) {
        const int n = Mod(static_cast<long long>(shown) + ahead, m);
        if (n != plan.recording && (hasRecording(n) || n == Mod(current, m))) {
            plan.end = n;
            break;
        }
    }
    // A replay of one picture still advances once (and the timer never divides by 0).
    plan.pictures = std::max(Mod(static_cast<long long>(plan.end) - plan.recording, m), 1);
    return plan;
}

int ReplayPlayMs(int playMs, int noActivitySeconds)
{
    return std::max(playMs - std::max(noActivitySeconds, 0) * 1000, 0);
}

int ReplayIntervalMs(int playMs, int noActivitySeconds, int pictures)
{
    return ReplayPlayMs(playMs, noActivitySeconds) / std::max(pictures, 1) + 1;
}

}  // namespace vorlix::app
