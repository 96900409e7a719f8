#include "serveur/web/LiveFrames.h"

#include <pthread.h>

#include <algorithm>
#include <ctime>

#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/actions/JpegWriter.h"
#include "serveur/web/WebSettings.h"

namespace vorlix::web {

LiveFrames::LiveFrames() : thread_([this] { Run(); }) {}

LiveFrames::~LiveFrames()
{
    Stop();
}

void LiveFrames::SetPace(int fps, int quality)
{
    fps_.store(std::clamp(fps, 1, kMaxFps));
    quality_.store(std::clamp(quality, 0, 100));
}

bool LiveFrames::Wanted()
{
    if (watchers_.load() == 0) {
        return false;
    }
    const Clock::time_point now = Clock::now();
    const auto interval = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) / fps_.load();
    // A first viewer is served at once; a late frame restarts the pace
    // rather than bunching the ones that follow.
    if (restartPace_.exchange(false) || now - nextDue_ > interval) {
        nextDue_ = now;
    }
    if (now < nextDue_) {
        return false;
    }
    nextDue_ += interval;
    return true;
}

void LiveFrames::Offer(const FramePicture& picture)
{
    const std::size_t size = static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 3;
    if (picture.width <= 0 || picture.height <= 0 || picture.rgb.size() < size) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        pending_.assign(picture.rgb.begin(), picture.rgb.begin() + static_cast<std::ptrdiff_t>(size));
        pendingWidth_ = picture.width;
        pendingHeight_ = picture.height;
        hasPending_ = true;
    }
    newFrame_.notify_one();
}

LiveFrames::Watch::Watch(LiveFrames& frames) : frames_(frames)
{
    if (frames_.watchers_.fetch_add(1) == 0) {
        frames_.restartPace_.store(true);
    }
}

LiveFrames::Watch::~Watch()
{
    frames_.watchers_.fetch_sub(1);
}

std::shared_ptr<const LiveJpeg> LiveFrames::Newest() const
{
    const std::lock_guard lock(mutex_);
    return newest_;
}

std::shared_ptr<const LiveJpeg> LiveFrames::WaitNewer(std::uint64_t sequence, std::chrono::milliseconds limit) const
{
    std::unique_lock lock(mutex_);
    const bool fresh = newPicture_.wait_for(
        lock, limit, [&] { return stopping_ || (newest_ != nullptr && newest_->sequence > sequence); });
    if (!fresh || stopping_) {
        return nullptr;
    }
    return newest_;
}

void LiveFrames::SetPictureListener(std::function<void(std::uint64_t)> listener)
{
    const std::lock_guard lock(listenerMutex_);
    listener_ = std::move(listener);
}

std::chrono::nanoseconds LiveFrames::EncoderCpu() const
{
    clockid_t clock{};
    timespec used{};
    if (!thread_.joinable() || pthread_getcpuclockid(const_cast<std::thread&>(thread_).native_handle(), &clock) != 0 ||
        clock_gettime(clock, &used) != 0) {
        return {};
    }
    return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
}

void LiveFrames::Stop()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    newFrame_.notify_all();
    newPicture_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void LiveFrames::Run()
{
    std::vector<std::uint8_t> rgb;
    std::uint64_t sequence = 0;
    std::unique_lock lock(mutex_);
    while (true) {
        newFrame_.wait(lock, [&] { return stopping_ || hasPending_; });
        if (stopping_) {
            return;
        }
        rgb.swap(pending_);
        const int width = pendingWidth_;
        const int height = pendingHeight_;
        hasPending_ = false;
        lock.unlock();

        auto picture = std::make_shared<LiveJpeg>();
        const bool encoded = EncodeJpeg(rgb, width, height, quality_.load(), {}, picture->bytes);
        lock.lock();
        if (!encoded) {
            TRACE_WARN("Live picture %d x %d not compressed", width, height);
            continue;
        }
        picture->sequence = ++sequence;
        newest_ = std::move(picture);
        newestSequence_.store(sequence);
        encodes_.fetch_add(1);
        newPicture_.notify_all();
        lock.unlock();
        {
            const std::lock_guard told(listenerMutex_);
            if (listener_) {
                listener_(sequence);
            }
        }
        lock.lock();
    }
}

}  // namespace vorlix::web
