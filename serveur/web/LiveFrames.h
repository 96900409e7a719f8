// The live picture for browsers: frames offered by the capture thread at the
// view's pace while somebody watches, compressed once each on a thread of
// their own, and the newest JPEG shared by every viewer. Nothing queues: a
// frame not yet compressed is replaced by a newer one, and a viewer that
// comes back for more gets the newest picture, whatever it missed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "serveur/core/Detection.h"

namespace vorlix::web {

struct LiveJpeg {
    std::uint64_t sequence = 0;  // 1 for the first picture, then one more each
    std::vector<std::uint8_t> bytes;
};

class LiveFrames {
public:
    LiveFrames();
    ~LiveFrames();
    LiveFrames(const LiveFrames&) = delete;
    LiveFrames& operator=(const LiveFrames&) = delete;

    // Pictures per second (1..30) and JPEG quality (0..100); any thread.
    void SetPace(int fps, int quality);

    // ---- Capture thread ---------------------------------------------------
    // True when somebody watches and the pace calls for a frame now; a yes
    // counts as taken, so the caller must then call Offer.
    bool Wanted();
    // Copies the frame for the compressing thread (a frame still waiting
    // there is replaced).
    void Offer(const FramePicture& picture);

    // ---- Viewers (any thread) -----------------------------------------------
    // Somebody watches while a Watch is alive; the first one asks for a frame
    // at once.
    class Watch {
    public:
        explicit Watch(LiveFrames& frames);
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;

    private:
        LiveFrames& frames_;
    };
    [[nodiscard]] int Watchers() const { return watchers_.load(); }
    [[nodiscard]] std::shared_ptr<const LiveJpeg> Newest() const;
    // The sequence number of the newest picture, 0 before the first.
    [[nodiscard]] std::uint64_t NewestSequence() const { return newestSequence_.load(); }
    // The newest picture once it is newer than `sequence`; null when none
    // came within `limit` or the frames stopped.
    std::shared_ptr<const LiveJpeg> WaitNewer(std::uint64_t sequence, std::chrono::milliseconds limit) const;

    // Called on the compressing thread with each new picture's sequence
    // number, once it is the newest; null for none. Once this returns, the
    // listener it replaced is not running and will not be called again.
    void SetPictureListener(std::function<void(std::uint64_t)> listener);

    // Pictures compressed since the start (each is shared by all viewers).
    [[nodiscard]] std::uint64_t Encodes() const { return encodes_.load(); }
    // CPU time the compressing thread has used.
    [[nodiscard]] std::chrono::nanoseconds EncoderCpu() const;
    // Ends the compressing thread and wakes every waiting viewer; for good.
    void Stop();

private:
    void Run();

    using Clock = std::chrono::steady_clock;
    std::atomic<int> watchers_{0};
    std::atomic<int> fps_{5};
    std::atomic<int> quality_{30};
    std::atomic<std::uint64_t> encodes_{0};
    std::atomic<std::uint64_t> newestSequence_{0};
    std::atomic<bool> restartPace_{false};
    Clock::time_point nextDue_{};  // capture thread only

    mutable std::mutex mutex_;
    mutable std::condition_variable newPicture_;
    std::condition_variable newFrame_;
    std::vector<std::uint8_t> pending_;  // RGB waiting to be compressed
    int pendingWidth_ = 0, pendingHeight_ = 0;
    bool hasPending_ = false;
    bool stopping_ = false;
    std::shared_ptr<const LiveJpeg> newest_;
    std::mutex listenerMutex_;  // held while the listener runs
    std::function<void(std::uint64_t)> listener_;
    std::thread thread_;
};

}  // namespace vorlix::web
