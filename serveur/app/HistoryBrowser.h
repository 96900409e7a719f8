// The history view's rules without a window: which picture a scroll
// position shows, how the scroll bar moves, where the picture goes in the
// view, and which pictures a sound recording's replay runs through.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vorlix::app {

inline constexpr int kHistoryReplayTimerId = 12334;
inline constexpr int kHistoryPageStep = 10;

class HistoryBrowser {
public:
    // The newest picture first: current picture = shots modulo "Max jpg",
    // scroll position "Max jpg".
    HistoryBrowser(int shots, int maxJpg);

    int MaxJpg() const { return maxJpg_; }
    int Current() const { return current_; }
    int Position() const { return position_; }
    // The picture number at the scroll position.
    int Number() const { return NumberAt(position_); }
    int NumberAt(int position) const;
    // The scroll position that shows picture `number` (1 .. "Max jpg").
    int PositionOf(int number) const;

    void LineLeft() { MoveTo(position_ - 1); }
    // Not beyond the end of a running replay.
    void LineRight();
    void PageLeft() { MoveTo(position_ - kHistoryPageStep); }
    void PageRight() { MoveTo(position_ + kHistoryPageStep); }
    void ThumbTo(int position) { MoveTo(position); }

    // The scroll position a running replay ends at (none: no replay).
    void SetReplayEnd(std::optional<int> position) { replayEnd_ = position; }
    std::optional<int> ReplayEnd() const { return replayEnd_; }

private:
    void MoveTo(int position);

    int maxJpg_;
    int current_;
    int position_;
    std::optional<int> replayEnd_;
};

// Where the picture of a view of viewWidth x viewHeight goes: unscaled and
// centred when it is smaller than the view (its height below the view's
// height - 120), else stretched into the rectangle from (60, 5).
struct HistoryPlacement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool stretched = false;
};
HistoryPlacement PlaceHistoryPicture(int viewWidth, int viewHeight, int pictureWidth, int pictureHeight);

// The pictures a recording's replay runs through.
struct ReplayPlan {
    int recording = 0;  // c: the picture whose recording plays
    int end = 0;        // e: the next recording's picture, or the current picture
    int pictures = 1;   // m = e - c modulo "Max jpg", at least 1
};
using FileExists = std::function<bool(int number)>;
// Looking back from `shown` for the nearest picture with a recording, then
// forward for the first other picture with one or the current picture.
// Nothing when no picture of the set has a recording.
std::optional<ReplayPlan> PlanReplay(int shown, int current, int maxJpg, const FileExists& hasRecording);
// The replay timer's interval: the playing time less "no activity time"
// (not below 0), shared over the pictures, plus 1 ms.
int ReplayIntervalMs(int playMs, int noActivitySeconds, int pictures);
int ReplayPlayMs(int playMs, int noActivitySeconds);

}  // namespace vorlix::app
