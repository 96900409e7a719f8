// From the decoding thread to the thread that measures: the newest frame
// only. Three buffers take turns (one filled by the decoder, one waiting, one
// measured), so decoding the next frame overlaps the work on this one; a
// frame that arrives while another still waits replaces it, and is counted.
// Buffers are kept from frame to frame: nothing is allocated per frame once
// the size is known.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "serveur/core/Frame.h"

namespace vorlix::capture {

class FrameHandoff {
public:
    explicit FrameHandoff(FrameSink& sink);
    ~FrameHandoff();
    FrameHandoff(const FrameHandoff&) = delete;
    FrameHandoff& operator=(const FrameHandoff&) = delete;

    // Starts the measuring thread (nothing when it runs).
    void Start();
    // Ends it once the frame in work is done; a waiting frame is dropped.
    void Stop();
    [[nodiscard]] bool Running() const { return worker_.joinable(); }

    // Decoder side, one thread: fill the buffer, then publish what it holds.
    std::vector<std::uint8_t>& Buffer() { return slots_[static_cast<std::size_t>(filling_)].bytes; }
    void Publish(const Frame& frame);

    [[nodiscard]] std::uint64_t Published() const { return published_.load(); }
    [[nodiscard]] std::uint64_t Replaced() const { return replaced_.load(); }
    [[nodiscard]] std::uint64_t Processed() const { return processed_.load(); }

private:
    struct Slot {
        std::vector<std::uint8_t> bytes;
        Frame frame;  // views `bytes`
    };

    void Run();

    FrameSink& sink_;
    std::array<Slot, 3> slots_;
    int filling_ = 0;   // decoder's own
    int waiting_ = -1;  // under mutex_
    int working_ = -1;  // under mutex_
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread worker_;
    std::atomic<std::uint64_t> published_{0};
    std::atomic<std::uint64_t> replaced_{0};
    std::atomic<std::uint64_t> processed_{0};
};

}  // namespace vorlix::capture
