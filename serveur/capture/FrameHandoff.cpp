#include "serveur/capture/FrameHandoff.h"

#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"

namespace vorlix::capture {
namespace {
// How often an idle measuring thread looks at its stop flag, whatever the wake-ups.
constexpr auto kIdleCheck = std::chrono::milliseconds(100);
}  // namespace

FrameHandoff::FrameHandoff(FrameSink& sink, WholeDecoder whole, SlotDone done)
    : sink_(sink), decodeWhole_(std::move(whole)), done_(std::move(done))
{
}

std::optional<Frame> FrameHandoff::Whole::FullFrame()
{
    if (!tried_ && slot_ != nullptr && decode_) {
        tried_ = true;
        decoded_ = decode_(slot_->source, bytes_);
    }
    return decoded_;
}

FrameHandoff::~FrameHandoff()
{
    Stop();
}

void FrameHandoff::Start()
{
    if (worker_.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        stop_ = false;
        waiting_ = -1;
    }
    worker_ = std::thread([this] { Run(); });
}

void FrameHandoff::Stop()
{
    if (!worker_.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    worker_.join();
    const std::lock_guard lock(mutex_);
    waiting_ = -1;
}

void FrameHandoff::Publish(const Frame& frame, int wholeWidth, int wholeHeight, std::span<const std::uint8_t> source)
{
    Slot& filled = slots_[static_cast<std::size_t>(filling_)];
    filled.frame = frame;
    filled.frame.full = nullptr;
    filled.source = source;
    filled.wholeWidth = wholeWidth;
    filled.wholeHeight = wholeHeight;
    bool replaced = false;
    {
        const std::lock_guard lock(mutex_);
        const int previous = waiting_;
        waiting_ = filling_;
        if (previous >= 0) {
            filling_ = previous;  // the frame nobody took yet is written over
            replaced = true;
        } else {
            for (int i = 0; i < static_cast<int>(slots_.size()); ++i) {
                if (i != waiting_ && i != working_) {
                    filling_ = i;
                    break;
                }
            }
        }
    }
    wake_.notify_one();
    published_.fetch_add(1);
    if (replaced) {
        const std::uint64_t count = replaced_.fetch_add(1) + 1;
        TRACE_LEVEL(kestrel::kLevelQueue, "frame replaced by a newer one before it was measured (%llu so far)",
                    static_cast<unsigned long long>(count));
    }
}

void FrameHandoff::Run()
{
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (!wake_.wait_for(lock, kIdleCheck, [this] { return stop_ || waiting_ >= 0; })) {
            continue;
        }
        if (stop_) {
            break;
        }
        const int taken = waiting_;
        working_ = taken;
        waiting_ = -1;
        const Slot& slot = slots_[static_cast<std::size_t>(taken)];
        lock.unlock();
        Frame frame = slot.frame;
        if (frame.scale > 1 && decodeWhole_) {
            whole_.Reset(&slot);
            frame.full = &whole_;
        }
        sink_.ProcessFrame(frame);
        whole_.Reset(nullptr);
        if (done_) {
            done_(taken);  // the slot is still this thread's until working_ is cleared
        }
        processed_.fetch_add(1);
        lock.lock();
        working_ = -1;
    }
}

}  // namespace vorlix::capture
