// JPEG pictures of a camera (an MJPEG stream, a USB camera in MJPG) to the
// engine's frames: each picture decoded to I420 at the detection scale into
// the free buffer of a FrameHandoff, on the thread that reads the camera,
// and measured on the handoff's thread, newest frame first. A broken or cut
// picture is skipped, counted and traced. A frame measured at a fraction
// keeps its compressed picture (SourceKeeper), so the whole picture is
// decoded, on the measuring thread, only for a frame that is written.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

#include "serveur/capture/FrameHandoff.h"
#include "serveur/capture/mjpeg/JpegFrameDecoder.h"
#include "serveur/capture/mjpeg/SourceKeeper.h"
#include "serveur/core/Frame.h"

namespace vorlix::capture {

class JpegFeed {
public:
    // `keeper` keeps the pictures of scaled frames (it must outlive the
    // feed's runs); without one they are copied into buffers of the feed's own.
    explicit JpegFeed(SourceKeeper* keeper = nullptr);
    ~JpegFeed();
    JpegFeed(const JpegFeed&) = delete;
    JpegFeed& operator=(const JpegFeed&) = delete;

    // Starts the measuring thread that hands the frames to `sink`, decoded at
    // 1/scale of the picture (1, 2 or 4; anything else is 1).
    void Start(FrameSink& sink, int scale);
    // Ends it once the frame in work is done; the kept pictures are let go.
    // No Take may run meanwhile.
    void Stop();
    [[nodiscard]] bool Running() const { return handoff_ != nullptr; }

    // The reading thread, one at a time, while running: decodes `jpeg` and
    // hands the frame over. `jpeg` is read during the call only (a scaled
    // frame's picture is kept by the keeper). False for a picture skipped.
    bool Take(std::span<const std::uint8_t> jpeg);
    // A picture the source itself says is broken: skipped, counted and traced as one that does not decode.
    void Skip(const char* why);
    // The size of the last frame handed over (reading thread).
    [[nodiscard]] int Width() const { return width_; }
    [[nodiscard]] int Height() const { return height_; }

    // Since the feed was made: pictures skipped, frames replaced by a newer
    // one before they were measured, frames measured.
    [[nodiscard]] std::uint64_t Rejected() const { return rejected_.load(); }
    [[nodiscard]] std::uint64_t Replaced() const;
    [[nodiscard]] std::uint64_t Processed() const;

private:
    CopyingKeeper ownKeeper_;
    SourceKeeper& keeper_;
    JpegFrameDecoder decoder_;  // reading thread
    JpegFrameDecoder whole_;    // measuring thread
    std::unique_ptr<FrameHandoff> handoff_;
    int scale_ = 1;
    int width_ = 0;
    int height_ = 0;
    std::atomic<std::uint64_t> rejected_{0};
    std::atomic<std::uint64_t> replacedBefore_{0};  // by the runs before this one
    std::atomic<std::uint64_t> processedBefore_{0};
};

}  // namespace vorlix::capture
