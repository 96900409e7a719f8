// vorlix_vfw capture: the device's own pixel format, mmap streaming, frames to
// the sink from the capture thread with the format code and row order. A
// camera in MJPG is kept in it: each picture is decoded to I420 on the
// capture thread (at "Detection scale") and measured on a thread of its own,
// newest frame first (JpegFeed), its buffer queued to the driver again at
// once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serveur/capture/mjpeg/JpegFeed.h"
#include "serveur/capture/v4l2/FrameGate.h"
#include "serveur/capture/v4l2/V4l2Device.h"
#include "serveur/core/Frame.h"

namespace vorlix::capture {

// Engine code of a V4L2 pixel format, 0 when the engine cannot read it.
int EngineFormat(std::uint32_t pixelformat);

class V4l2Capture {
public:
    explicit V4l2Capture(std::unique_ptr<V4l2Device> device = MakeSystemV4l2Device());
    ~V4l2Capture();
    V4l2Capture(const V4l2Capture&) = delete;
    V4l2Capture& operator=(const V4l2Capture&) = delete;

    // Opens /dev/video<index> (or `path`) and reads its format (see FormatChoice).
    bool Connect(int index);
    bool ConnectPath(const std::string& path);
    void Disconnect();
    [[nodiscard]] bool Connected() const { return connected_; }

    // `gate` (optional) picks the frames that reach `sink` and runs its timers
    // on the capture thread; without one every frame is delivered.
    bool Start(FrameSink& sink, FrameGate* gate = nullptr);
    void Stop();
    [[nodiscard]] bool Capturing() const { return capturing_; }

    [[nodiscard]] int Width() const { return width_; }
    [[nodiscard]] int Height() const { return height_; }
    // The engine's format of the frames (I420 for a camera in MJPG).
    [[nodiscard]] int Format() const { return format_; }
    // The camera sends JPEG pictures.
    [[nodiscard]] bool Compressed() const { return compressed_; }
    // The size of the frames the sink gets: a camera's JPEG pictures are
    // measured at 1/scale, rounded up.
    [[nodiscard]] int FrameWidth() const
    {
        return compressed_ ? (width_ + detectionScale_ - 1) / detectionScale_ : width_;
    }
    [[nodiscard]] int FrameHeight() const
    {
        return compressed_ ? (height_ + detectionScale_ - 1) / detectionScale_ : height_;
    }
    [[nodiscard]] int Fps() const { return fps_; }  // 0 when the device does not tell
    [[nodiscard]] const std::string& Path() const { return path_; }

    // JPEG pictures decoded at 1/scale for detection (1, 2 or 4), the whole
    // picture decoded only for a frame that is written; from the next Start.
    void SetDetectionScale(int scale) { detectionScale_ = scale == 2 || scale == 4 ? scale : 1; }
    // JPEG pictures skipped (cut short, corrupt) and frames replaced by a
    // newer one before they were measured, since the layer was made.
    [[nodiscard]] std::uint64_t RejectedPictures() const { return feed_.Rejected(); }
    [[nodiscard]] std::uint64_t ReplacedFrames() const { return feed_.Replaced(); }

private:
    struct Buffer {
        void* address = nullptr;
        std::size_t length = 0;
    };
    void Run();
    void Release();
    // Hands the frame of a dequeued buffer on (a short raw frame is dropped);
    // `broken`: the driver marked the buffer's data as damaged.
    void Deliver(const Buffer& buffer, std::size_t bytesUsed, bool broken);

    std::unique_ptr<V4l2Device> device_;
    std::string path_;
    bool connected_ = false;
    int width_ = 0;
    int height_ = 0;
    int format_ = 0;
    int fps_ = 0;
    bool compressed_ = false;
    int detectionScale_ = 1;
    std::size_t bytesPerLine_ = 0;
    std::size_t frameBytes_ = 0;
    std::vector<Buffer> buffers_;
    std::vector<std::uint8_t> tight_;
    JpegFeed feed_;  // a camera in MJPG: copies the picture of a scaled frame, as the buffer goes back at once
    FrameSink* sink_ = nullptr;
    FrameGate* gate_ = nullptr;
    std::atomic<bool> capturing_{false};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace vorlix::capture
