// The pictures of scaled MJPEG frames kept as references to GStreamer's own
// buffers (mapped for reading) instead of copies: the streaming thread
// offers the buffer it is decoding, and the feed keeps it for the slot the
// frame is published in.
#pragma once

#include <gst/gst.h>

#include <array>
#include <cstdint>
#include <span>

#include "serveur/capture/FrameHandoff.h"
#include "serveur/capture/mjpeg/SourceKeeper.h"

namespace vorlix::capture {

class GstKeptBuffers final : public SourceKeeper {
public:
    GstKeptBuffers() = default;
    ~GstKeptBuffers() override;
    GstKeptBuffers(const GstKeptBuffers&) = delete;
    GstKeptBuffers& operator=(const GstKeptBuffers&) = delete;

    // The buffer whose mapped bytes the next Keep is given (streaming
    // thread); not referenced until kept.
    void Offer(GstBuffer* buffer) { offered_ = buffer; }

    // A reference to the offered buffer, mapped again for reading: for a
    // buffer of one memory block, the bytes where the source wrote them. A
    // buffer that was not offered, or cannot be mapped, is copied.
    std::span<const std::uint8_t> Keep(int slot, std::span<const std::uint8_t> jpeg) override;
    // Buffers go back as soon as their frame is measured: a camera's buffer
    // pool (v4l2src) is not kept short for longer than that.
    void Release(int slot) override;
    void Clear() override;

    // Buffers referenced now (tests; not while frames flow).
    [[nodiscard]] int HeldCount() const;

private:
    struct Kept {
        GstBuffer* buffer = nullptr;
        GstMapInfo map{};
    };
    static void Drop(Kept& kept);

    GstBuffer* offered_ = nullptr;
    std::array<Kept, FrameHandoff::kSlots> kept_{};
    CopyingKeeper copies_;
};

}  // namespace vorlix::capture
