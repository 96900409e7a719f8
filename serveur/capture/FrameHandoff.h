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
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "serveur/core/Frame.h"

namespace vorlix::capture {

class FrameHandoff {
public:
    // Decodes the whole picture of a frame published at a fraction, from the
    // source bytes kept with it, into `out` (on the measuring thread).
    using WholeDecoder =
        std::function<std::optional<Frame>(std::span<const std::uint8_t> source, std::vector<std::uint8_t>& out)>;

    // Told, on the measuring thread, that the frame published in `slot` has
    // been measured (its source bytes are not read any more).
    using SlotDone = std::function<void(int slot)>;

    explicit FrameHandoff(FrameSink& sink, WholeDecoder whole = {}, SlotDone done = {});
    ~FrameHandoff();
    FrameHandoff(const FrameHandoff&) = delete;
    FrameHandoff& operator=(const FrameHandoff&) = delete;

    // Starts the measuring thread (nothing when it runs).
    void Start();
    // Ends it once the frame in work is done; a waiting frame is dropped.
    void Stop();
    [[nodiscard]] bool Running() const { return worker_.joinable(); }

    static constexpr int kSlots = 3;

    // Decoder side, one thread: fill the buffer, then publish what it holds.
    // A frame at a fraction of its picture (frame.scale > 1) comes with the
    // picture's compressed bytes and its whole size: the sink gets them as
    // the frame's FullFrameSource. Those bytes must stay readable until the
    // frame was measured (SlotDone of the slot it was published in,
    // FillingSlot() before the publish), the slot is filled again, or the
    // handoff has stopped; the handoff does not copy them.
    std::vector<std::uint8_t>& Buffer() { return slots_[static_cast<std::size_t>(filling_)].bytes; }
    [[nodiscard]] int FillingSlot() const { return filling_; }
    void Publish(const Frame& frame, int wholeWidth = 0, int wholeHeight = 0,
                 std::span<const std::uint8_t> source = {});

    [[nodiscard]] std::uint64_t Published() const { return published_.load(); }
    [[nodiscard]] std::uint64_t Replaced() const { return replaced_.load(); }
    [[nodiscard]] std::uint64_t Processed() const { return processed_.load(); }

private:
    struct Slot {
        std::vector<std::uint8_t> bytes;
        Frame frame;                           // views `bytes`
        std::span<const std::uint8_t> source;  // kept by the decoder's side
        int wholeWidth = 0;
        int wholeHeight = 0;
    };

    // The whole picture of the frame in work, decoded at the first ask.
    class Whole final : public FullFrameSource {
    public:
        explicit Whole(const WholeDecoder& decode) : decode_(decode) {}
        void Reset(const Slot* slot)
        {
            slot_ = slot;
            decoded_.reset();
            tried_ = false;
        }
        [[nodiscard]] std::pair<int, int> FullSize() const override
        {
            return slot_ != nullptr ? std::pair<int, int>{slot_->wholeWidth, slot_->wholeHeight}
                                    : std::pair<int, int>{0, 0};
        }
        std::optional<Frame> FullFrame() override;

    private:
        const WholeDecoder& decode_;
        const Slot* slot_ = nullptr;
        std::vector<std::uint8_t> bytes_;
        std::optional<Frame> decoded_;
        bool tried_ = false;
    };

    void Run();

    FrameSink& sink_;
    WholeDecoder decodeWhole_;
    SlotDone done_;
    Whole whole_{decodeWhole_};
    std::array<Slot, kSlots> slots_;
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
