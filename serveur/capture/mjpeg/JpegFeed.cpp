#include "serveur/capture/mjpeg/JpegFeed.h"

#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"

namespace vorlix::capture {

JpegFeed::JpegFeed(SourceKeeper* keeper) : keeper_(keeper != nullptr ? *keeper : ownKeeper_) {}

JpegFeed::~JpegFeed()
{
    Stop();
}

void JpegFeed::Start(FrameSink& sink, int scale)
{
    Stop();
    scale_ = scale == 2 || scale == 4 ? scale : 1;
    handoff_ = std::make_unique<FrameHandoff>(
        sink,
        [this](std::span<const std::uint8_t> source, std::vector<std::uint8_t>& out) {
            return whole_.Decode(source, 1, out);
        },
        [this](int slot) { keeper_.Release(slot); });
    handoff_->Start();
}

void JpegFeed::Stop()
{
    if (handoff_ == nullptr) {
        return;
    }
    handoff_->Stop();
    replacedBefore_ += handoff_->Replaced();
    processedBefore_ += handoff_->Processed();
    handoff_.reset();
    keeper_.Clear();  // nobody reads a kept picture any more
}

std::uint64_t JpegFeed::Replaced() const
{
    return replacedBefore_.load() + (handoff_ != nullptr ? handoff_->Replaced() : 0);
}

std::uint64_t JpegFeed::Processed() const
{
    return processedBefore_.load() + (handoff_ != nullptr ? handoff_->Processed() : 0);
}

void JpegFeed::Skip(const char* why)
{
    const std::uint64_t count = rejected_.fetch_add(1) + 1;
    if (count == 1) {
        TRACE_WARN("Video source: JPEG picture skipped (%s)", why);
    } else {
        TRACE_LEVEL(kestrel::kLevelUser3, "JPEG picture skipped (%s), %llu so far", why,
                    static_cast<unsigned long long>(count));
    }
}

bool JpegFeed::Take(std::span<const std::uint8_t> jpeg)
{
    if (handoff_ == nullptr) {
        return false;
    }
    // Decoded into the handoff's free buffer while the measuring thread works on the previous frame.
    const std::optional<Frame> frame = decoder_.Decode(jpeg, scale_, handoff_->Buffer());
    if (!frame) {
        Skip(decoder_.LastError().c_str());
        return false;
    }
    width_ = frame->width;
    height_ = frame->height;
    std::span<const std::uint8_t> source;
    if (frame->scale > 1) {
        // Kept for the whole picture, should this frame be written.
        source = keeper_.Keep(handoff_->FillingSlot(), jpeg);
    }
    handoff_->Publish(*frame, decoder_.WholeWidth(), decoder_.WholeHeight(), source);
    return true;
}

}  // namespace vorlix::capture
