// JPEG pictures (MJPEG cameras) decoded straight to the engine's tight I420,
// at full size or at a half or a quarter of it (the DCT's own scaling), into
// buffers kept from frame to frame.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "serveur/core/Frame.h"

namespace vorlix::capture {

class JpegFrameDecoder {
public:
    JpegFrameDecoder();
    ~JpegFrameDecoder();
    JpegFrameDecoder(const JpegFrameDecoder&) = delete;
    JpegFrameDecoder& operator=(const JpegFrameDecoder&) = delete;

    // The picture as a tight I420 frame of ceil(width / scale) x
    // ceil(height / scale); `scale` is 1, 2 or 4 (anything else is 1). Empty
    // for a picture that is not a whole, sound JPEG (cut short, corrupt,
    // not a JPEG, larger than 16384 on a side): it is counted and its reason
    // kept. A scaled frame says its scale (Frame::scale). The frame is written to `out`, whose storage is kept from
    // call to call (it grows only for a larger picture); the frame views `out`.
    std::optional<Frame> Decode(std::span<const std::uint8_t> jpeg, int scale, std::vector<std::uint8_t>& out);

    // The whole size of the last picture decoded (before any scaling).
    [[nodiscard]] int WholeWidth() const { return wholeWidth_; }
    [[nodiscard]] int WholeHeight() const { return wholeHeight_; }
    [[nodiscard]] std::uint64_t Decoded() const { return decoded_; }
    [[nodiscard]] std::uint64_t Rejected() const { return rejected_; }
    // Why the last rejected picture was refused.
    [[nodiscard]] const std::string& LastError() const { return lastError_; }

private:
    bool Reject(std::string why);
    bool RejectAndReset();
    bool DecodePlanes(std::span<const std::uint8_t> jpeg, int width, int height, int subsampling,
                      std::vector<std::uint8_t>& out);
    void ChromaTo420(int width, int height, int subsampling, std::vector<std::uint8_t>& out);

    struct Handle;
    std::unique_ptr<Handle> handle_;
    std::vector<std::uint8_t> scratch_;  // chroma planes of a JPEG that is not 4:2:0
    int wholeWidth_ = 0;
    int wholeHeight_ = 0;
    std::uint64_t decoded_ = 0;
    std::uint64_t rejected_ = 0;
    std::string lastError_;
};

}  // namespace vorlix::capture
