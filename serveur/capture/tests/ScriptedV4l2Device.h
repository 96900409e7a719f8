// A scripted V4L2 device for the tests: one format, a list of frames or a
// live stream, a device that vanishes, and the names a probe reads.
#pragma once

#include <linux/videodev2.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "libkestrel/trace/QXTrace.h"
#include "serveur/capture/v4l2/V4l2Device.h"
#include "serveur/core/Frame.h"

namespace vorlix::capture::fakes {

class ScriptedDevice final : public V4l2Device {
public:
    ScriptedDevice(std::uint32_t pixelformat, unsigned width, unsigned height, unsigned bytesPerLine,
                   std::size_t frameBytes)
        : pixelformat_(pixelformat), width_(width), height_(height), bpl_(bytesPerLine), size_(frameBytes)
    {
    }
    std::deque<std::vector<std::uint8_t>> frames;  // filled before Start
    std::atomic<bool> vanish{false};
    // Live: a new frame every `period`, its first byte the frame number.
    bool live = false;
    // Live frame content by frame number (default: zeros and the number).
    std::function<void(std::vector<std::uint8_t>&, int)> paint;
    std::chrono::milliseconds period{5};
    unsigned fps = 0;  // reported by VIDIOC_G_PARM when not 0
    std::string card = "Scripted camera";
    bool acceptsYuyv = false;  // VIDIOC_S_FMT to YUYV succeeds
    bool opened = false;
    int opens = 0;
    std::string path;
    int mapped = 0;
    std::atomic<int> produced{0};

    int Open(const std::string& p) override
    {
        path = p;
        if (p.find("video9") != std::string::npos) {
            errno = ENOENT;
            return -1;
        }
        opened = true;
        ++opens;
        return 0;
    }
    void Close() override { opened = false; }
    int Ioctl(unsigned long request, void* arg) override
    {
        const std::lock_guard lock(mutex_);
        switch (request) {
            case VIDIOC_QUERYCAP: {
                auto* c = static_cast<v4l2_capability*>(arg);
                std::snprintf(reinterpret_cast<char*>(c->card), sizeof c->card, "%s", card.c_str());
                c->capabilities =
                    V4L2_CAP_DEVICE_CAPS | V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
                // Odd nodes are the metadata nodes of the camera before them.
                const bool meta = !path.empty() && (path.back() - '0') % 2 == 1;
                c->device_caps = (meta ? V4L2_CAP_META_CAPTURE : V4L2_CAP_VIDEO_CAPTURE) | V4L2_CAP_STREAMING;
                return 0;
            }
            case VIDIOC_G_FMT: {
                auto* f = static_cast<v4l2_format*>(arg);
                f->fmt.pix.pixelformat = pixelformat_;
                f->fmt.pix.width = width_;
                f->fmt.pix.height = height_;
                f->fmt.pix.bytesperline = bpl_;
                return 0;
            }
            case VIDIOC_S_FMT: {
                auto* f = static_cast<v4l2_format*>(arg);
                if (!acceptsYuyv || f->fmt.pix.pixelformat != V4L2_PIX_FMT_YUYV) {
                    errno = EINVAL;
                    return -1;
                }
                pixelformat_ = V4L2_PIX_FMT_YUYV;
                bpl_ = width_ * 2;
                f->fmt.pix.width = width_;
                f->fmt.pix.height = height_;
                f->fmt.pix.bytesperline = bpl_;
                return 0;
            }
            case VIDIOC_G_PARM: {
                if (fps == 0) {
                    errno = EINVAL;
                    return -1;
                }
                auto* p = static_cast<v4l2_streamparm*>(arg);
                p->parm.capture.timeperframe.numerator = 1;
                p->parm.capture.timeperframe.denominator = fps;
                return 0;
            }
            case VIDIOC_REQBUFS: {
                auto* r = static_cast<v4l2_requestbuffers*>(arg);
                buffers_.assign(r->count, std::vector<std::uint8_t>(size_));
                queued_.clear();
                return 0;
            }
            case VIDIOC_QUERYBUF: {
                auto* b = static_cast<v4l2_buffer*>(arg);
                b->length = static_cast<unsigned>(size_);
                b->m.offset = b->index * 4096;
                return 0;
            }
            case VIDIOC_QBUF:
                queued_.push_back(static_cast<v4l2_buffer*>(arg)->index);
                return 0;
            case VIDIOC_STREAMON:
            case VIDIOC_STREAMOFF:
                return 0;
            case VIDIOC_DQBUF: {
                const bool gone = vanish && (live || frames.empty());
                if (gone || queued_.empty() || (!live && frames.empty())) {
                    errno = gone ? ENODEV : EAGAIN;
                    return -1;
                }
                auto* b = static_cast<v4l2_buffer*>(arg);
                b->index = queued_.front();
                queued_.pop_front();
                auto& target = buffers_[b->index];
                if (live) {
                    const int number = produced.fetch_add(1) + 1;
                    if (paint) {
                        paint(target, number);
                    } else {
                        std::fill(target.begin(), target.end(), std::uint8_t{0});
                        target[0] = static_cast<std::uint8_t>(number);
                    }
                    b->bytesused = static_cast<unsigned>(size_);
                } else {
                    std::copy(frames.front().begin(), frames.front().end(), target.begin());
                    b->bytesused = static_cast<unsigned>(frames.front().size());
                    frames.pop_front();
                }
                return 0;
            }
            default:
                errno = EINVAL;
                return -1;
        }
    }
    void* Map(std::size_t, long offset) override
    {
        ++mapped;
        return buffers_[static_cast<std::size_t>(offset / 4096)].data();
    }
    void Unmap(void*, std::size_t) override { --mapped; }
    int Wait(int ms) override
    {
        if (live && !vanish) {
            std::this_thread::sleep_for(std::min(std::chrono::milliseconds(ms), period));
            return 1;
        }
        {
            const std::lock_guard lock(mutex_);
            if (!frames.empty()) {
                return 1;
            }
            if (vanish) {
                errno = ENODEV;
                return -1;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::max(ms / 10, 1)));
        return 0;
    }

private:
    std::uint32_t pixelformat_;
    unsigned width_;
    unsigned height_;
    unsigned bpl_;
    std::size_t size_;
    std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> buffers_;
    std::deque<unsigned> queued_;
};

struct Seen {
    std::vector<std::uint8_t> data;
    int width, height, format, topDown;
};

class Recorder final : public FrameSink {
public:
    void ProcessFrame(const Frame& f) override
    {
        const std::lock_guard lock(mutex);
        frames.push_back(Seen{{f.data.begin(), f.data.end()}, f.width, f.height, f.format, f.topDown});
    }
    std::size_t Count()
    {
        const std::lock_guard lock(mutex);
        return frames.size();
    }
    std::mutex mutex;
    std::vector<Seen> frames;
};

inline std::vector<std::uint8_t> Pattern(std::size_t n, int seed)
{
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(seed) * 31);
    }
    return v;
}

}  // namespace vorlix::capture::fakes
