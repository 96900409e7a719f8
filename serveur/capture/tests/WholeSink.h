// A sink for the capture tests that records each frame with its whole
// picture (asked for on the measuring thread, as a written picture does),
// and can hold the measuring thread in a frame until let go.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "serveur/core/Frame.h"

namespace vorlix::capture::fakes {

struct WholeSeen {
    std::vector<std::uint8_t> data;
    int width = 0;
    int height = 0;
    int format = 0;
    int scale = 0;
    std::pair<int, int> wholeSize{0, 0};
    std::vector<std::uint8_t> whole;  // the whole picture, when asked
    int wholeWidth = 0;
    std::thread::id thread;
};

// Records each frame and asks for its whole picture; can hold the measuring
// thread in its first frame until let go.
class WholeSink final : public FrameSink {
public:
    void ProcessFrame(const Frame& frame) override
    {
        {
            std::unique_lock lock(mutex_);
            ++entered_;
            changed_.notify_all();
            changed_.wait_for(lock, std::chrono::seconds(5), [this] { return open_; });
        }
        WholeSeen seen;
        seen.data.assign(frame.data.begin(), frame.data.end());
        seen.width = frame.width;
        seen.height = frame.height;
        seen.format = frame.format;
        seen.scale = frame.scale;
        seen.thread = std::this_thread::get_id();
        if (frame.full != nullptr) {
            seen.wholeSize = frame.full->FullSize();
            const std::optional<Frame> whole = frame.full->FullFrame();
            if (whole) {
                seen.whole.assign(whole->data.begin(), whole->data.end());
                seen.wholeWidth = whole->width;
            }
        }
        const std::lock_guard lock(mutex_);
        seen_.push_back(std::move(seen));
    }
    void Hold()
    {
        const std::lock_guard lock(mutex_);
        open_ = false;
    }
    void Open()
    {
        {
            const std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    int Entered()
    {
        const std::lock_guard lock(mutex_);
        return entered_;
    }
    std::vector<WholeSeen> Frames()
    {
        const std::lock_guard lock(mutex_);
        return seen_;
    }
    std::size_t Count()
    {
        const std::lock_guard lock(mutex_);
        return seen_.size();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    int entered_ = 0;
    std::vector<WholeSeen> seen_;
};

}  // namespace vorlix::capture::fakes
