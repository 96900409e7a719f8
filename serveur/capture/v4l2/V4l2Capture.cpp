#include "serveur/capture/v4l2/V4l2Capture.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "libkestrel/error/QXError.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/capture/v4l2/FormatChoice.h"
#include "serveur/core/PixelFormat.h"

namespace vorlix::capture {
namespace {

constexpr unsigned kBufferCount = 4;

}  // namespace

int EngineFormat(std::uint32_t pixelformat)
{
    switch (pixelformat) {
        case V4L2_PIX_FMT_YUYV:
            return kFourccYuy2;
        case V4L2_PIX_FMT_YUV420:
            return kFourccI420;
        case V4L2_PIX_FMT_RGB24:
            return kFormatRgb24;
        case V4L2_PIX_FMT_RGB565:
            return kFormatRgb16;
        case V4L2_PIX_FMT_RGB32:
        case V4L2_PIX_FMT_BGR32:
        case V4L2_PIX_FMT_XBGR32:
        case V4L2_PIX_FMT_XRGB32:
            return kFormatRgb32;
        default:
            return 0;
    }
}

V4l2Capture::V4l2Capture(std::unique_ptr<V4l2Device> device) : device_(std::move(device)) {}

V4l2Capture::~V4l2Capture()
{
    Disconnect();
}

bool V4l2Capture::Connect(int index)
{
    return ConnectPath("/dev/video" + std::to_string(index));
}

bool V4l2Capture::ConnectPath(const std::string& path)
{
    Disconnect();
    if (device_->Open(path) < 0) {
        ErrorSysSet(static_cast<unsigned int>(errno));
        TRACE_ERROR("Cannot open %s", path.c_str());
        TRACE_ERROR_DETAIL();
        return false;
    }
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (device_->Ioctl(VIDIOC_G_FMT, &fmt) < 0) {
        ErrorSysSet(static_cast<unsigned int>(errno));
        TRACE_ERROR("Cannot read the video format of %s", path.c_str());
        TRACE_ERROR_DETAIL();
        device_->Close();
        return false;
    }
    if (!ChooseFormat(*device_, path, fmt)) {
        TRACE_ERROR("Unsupported video format 0x%X (%ux%u)", fmt.fmt.pix.pixelformat, fmt.fmt.pix.width,
                    fmt.fmt.pix.height);
        device_->Close();
        return false;
    }
    const bool compressed = IsJpegFormat(fmt.fmt.pix.pixelformat);
    const int format = compressed ? kFourccI420 : EngineFormat(fmt.fmt.pix.pixelformat);
    const auto width = static_cast<std::size_t>(fmt.fmt.pix.width);
    const auto height = static_cast<std::size_t>(fmt.fmt.pix.height);
    // The first plane's row; I420's chroma planes follow it without padding.
    const std::size_t natural = RowBytes(format, static_cast<int>(fmt.fmt.pix.width));
    if (format == 0 || width == 0 || height == 0 ||
        (!compressed && format == kFourccI420 && fmt.fmt.pix.bytesperline > width)) {
        TRACE_ERROR("Unsupported video format 0x%X (%ux%u)", fmt.fmt.pix.pixelformat, fmt.fmt.pix.width,
                    fmt.fmt.pix.height);
        device_->Close();
        return false;
    }
    width_ = static_cast<int>(width);
    height_ = static_cast<int>(height);
    format_ = format;
    compressed_ = compressed;
    bytesPerLine_ = fmt.fmt.pix.bytesperline >= natural ? fmt.fmt.pix.bytesperline : natural;
    frameBytes_ = FrameBytes(format, width_, height_);
    fps_ = 0;
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (device_->Ioctl(VIDIOC_G_PARM, &parm) == 0 && parm.parm.capture.timeperframe.numerator > 0) {
        fps_ = static_cast<int>(parm.parm.capture.timeperframe.denominator / parm.parm.capture.timeperframe.numerator);
    }
    path_ = path;
    connected_ = true;
    return true;
}

void V4l2Capture::Disconnect()
{
    Stop();
    if (connected_) {
        device_->Close();
    }
    connected_ = false;
}

void V4l2Capture::Release()
{
    for (const Buffer& b : buffers_) {
        device_->Unmap(b.address, b.length);
    }
    buffers_.clear();
    v4l2_requestbuffers none{};
    none.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    none.memory = V4L2_MEMORY_MMAP;
    device_->Ioctl(VIDIOC_REQBUFS, &none);
}

bool V4l2Capture::Start(FrameSink& sink, FrameGate* gate)
{
    if (!connected_) {
        return false;
    }
    if (capturing_) {
        return true;
    }
    Stop();  // a thread that ended on a lost device still holds its buffers
    v4l2_requestbuffers req{};
    req.count = kBufferCount;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    bool ok = device_->Ioctl(VIDIOC_REQBUFS, &req) == 0 && req.count > 0;
    for (unsigned i = 0; ok && i < req.count; ++i) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = i;
        ok = device_->Ioctl(VIDIOC_QUERYBUF, &buf) == 0;
        void* address = ok ? device_->Map(buf.length, static_cast<long>(buf.m.offset)) : nullptr;
        ok = ok && address != nullptr;
        if (ok) {
            buffers_.push_back(Buffer{address, buf.length});
        }
        ok = ok && device_->Ioctl(VIDIOC_QBUF, &buf) == 0;
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ok = ok && device_->Ioctl(VIDIOC_STREAMON, &type) == 0;
    if (!ok) {
        Release();
        TRACE_ERROR("Failed to start image capture!");
        return false;
    }
    sink_ = &sink;
    gate_ = gate;
    if (compressed_) {
        feed_.Start(sink, detectionScale_);
        TRACE_INFO("%s sends MJPG: pictures decoded to I420, %d x %d measured at %d x %d", path_.c_str(), width_,
                   height_, FrameWidth(), FrameHeight());
    }
    stopping_ = false;
    capturing_ = true;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void V4l2Capture::Stop()
{
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    feed_.Stop();  // nothing is decoded any more: the measuring thread ends after its frame
    if (!buffers_.empty()) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        device_->Ioctl(VIDIOC_STREAMOFF, &type);
        Release();
    }
    capturing_ = false;
}

void V4l2Capture::Deliver(const Buffer& buffer, std::size_t bytesUsed, bool broken)
{
    const auto* bytes = static_cast<const std::uint8_t*>(buffer.address);
    if (compressed_ && broken) {
        // A picture with lost data may still decode, as a picture torn apart: movement that never was.
        feed_.Skip("the driver marked it damaged");
        return;
    }
    if (compressed_) {
        // Decoded straight from the driver's buffer, which goes back to it
        // right after; a cut or broken picture is skipped and counted.
        feed_.Take({bytes, std::min(bytesUsed, buffer.length)});
        return;
    }
    const std::size_t row = RowBytes(format_, width_);
    const std::size_t needed = bytesPerLine_ == row ? frameBytes_ : bytesPerLine_ * static_cast<std::size_t>(height_);
    if (buffer.length < needed || bytesUsed < needed) {
        return;
    }
    std::span<const std::uint8_t> data(bytes, frameBytes_);
    if (bytesPerLine_ != row) {  // drop the driver's row padding
        tight_.resize(frameBytes_);
        for (int y = 0; y < height_; ++y) {
            std::memcpy(tight_.data() + row * static_cast<std::size_t>(y),
                        bytes + bytesPerLine_ * static_cast<std::size_t>(y), row);
        }
        data = tight_;
    }
    // V4L2 hands over the top row first.
    sink_->ProcessFrame(Frame{data, width_, height_, format_, kTopDown});
}

void V4l2Capture::Run()
{
    while (!stopping_) {
        // Wake for the gate's next timer; the stop flag is looked at every 100 ms at least.
        std::chrono::milliseconds wait(100);
        if (gate_ != nullptr) {
            wait = std::clamp(gate_->Tick(FrameGate::Clock::now()), std::chrono::milliseconds(1), wait);
        }
        const int ready = device_->Wait(static_cast<int>(wait.count()));
        if (ready == 0) {
            continue;
        }
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        if (ready < 0 || device_->Ioctl(VIDIOC_DQBUF, &buf) < 0) {
            if (ready > 0 && errno == EAGAIN) {
                continue;
            }
            ErrorSysSet(static_cast<unsigned int>(errno));
            TRACE_ERROR("Video device %s lost, capture stopped", path_.c_str());
            TRACE_ERROR_DETAIL();
            break;
        }
        const bool wanted = gate_ == nullptr || gate_->Admit(FrameGate::Clock::now());
        if (wanted && buf.index < buffers_.size()) {
            Deliver(buffers_[buf.index], buf.bytesused, (buf.flags & V4L2_BUF_FLAG_ERROR) != 0);
        }
        if (device_->Ioctl(VIDIOC_QBUF, &buf) < 0) {
            ErrorSysSet(static_cast<unsigned int>(errno));
            TRACE_ERROR("Video device %s lost, capture stopped", path_.c_str());
            TRACE_ERROR_DETAIL();
            break;
        }
    }
    capturing_ = false;
}

}  // namespace vorlix::capture
