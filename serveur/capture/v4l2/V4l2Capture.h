// vorlix_vfw capture: the device's own pixel format, mmap streaming, frames to
// the sink from the capture thread with the format code and row order.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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

    // Opens /dev/video<index> (or `path`) and reads its format.
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
    [[nodiscard]] int Format() const { return format_; }
    [[nodiscard]] int Fps() const { return fps_; }  // 0 when the device does not tell
    [[nodiscard]] const std::string& Path() const { return path_; }

private:
    struct Buffer {
        void* address = nullptr;
        std::size_t length = 0;
    };
    void Run();
    void Release();

    std::unique_ptr<V4l2Device> device_;
    std::string path_;
    bool connected_ = false;
    int width_ = 0;
    int height_ = 0;
    int format_ = 0;
    int fps_ = 0;
    std::size_t bytesPerLine_ = 0;
    std::size_t frameBytes_ = 0;
    std::vector<Buffer> buffers_;
    std::vector<std::uint8_t> tight_;
    FrameSink* sink_ = nullptr;
    FrameGate* gate_ = nullptr;
    std::atomic<bool> capturing_{false};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace vorlix::capture
