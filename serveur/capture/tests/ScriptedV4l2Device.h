// A scripted V4L2 device for the tests: one format, a list of frames or a
// live stream, a device that vanishes, the names a probe reads, and the
// formats and frame intervals it offers to switch to.
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
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "libkestrel/trace/QXTrace.h"
#include "serveur/capture/v4l2/V4l2CaptureSystem.h"
#include "serveur/capture/v4l2/V4l2Device.h"
#include "serveur/core/Frame.h"

namespace vorlix::capture::fakes {

// A format the device offers at one size, with its frame intervals: a list,
// or a range from the first to the second.
struct Offer {
    std::uint32_t pixelformat;
    unsigned width, height;
    std::vector<v4l2_fract> intervals;
    bool range = false;
};

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
    // Live frames of their own length (JPEG pictures), by frame number; before `paint`.
    std::function<std::vector<std::uint8_t>(int)> picture;
    std::chrono::milliseconds period{5};
    unsigned fps = 0;  // reported by VIDIOC_G_PARM when not 0
    std::string card = "Scripted camera";
    bool acceptsYuyv = false;               // VIDIOC_S_FMT to YUYV succeeds
    std::vector<Offer> offers;              // VIDIOC_S_FMT to these succeeds too; their intervals are listed
    std::vector<std::uint32_t> formatsSet;  // every VIDIOC_S_FMT that succeeded
    std::vector<v4l2_fract> intervalsSet;   // every VIDIOC_S_PARM
    bool opened = false;
    int opens = 0;
    std::string path;
    int mapped = 0;
    std::atomic<int> produced{0};
    std::atomic<int> dequeued{0};  // frames of the list handed out
    std::vector<int> damaged;      // frames of the list (1 = the first) marked V4L2_BUF_FLAG_ERROR

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
    // A frame added to the list while the device streams.
    void Add(std::vector<std::uint8_t> frame)
    {
        const std::lock_guard lock(mutex_);
        frames.push_back(std::move(frame));
    }
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
                const std::uint32_t wanted = f->fmt.pix.pixelformat;
                const bool offered = std::any_of(offers.begin(), offers.end(), [&](const Offer& o) {
                    return o.pixelformat == wanted && o.width == width_ && o.height == height_;
                });
                if (!offered && !(acceptsYuyv && wanted == V4L2_PIX_FMT_YUYV)) {
                    errno = EINVAL;
                    return -1;
                }
                pixelformat_ = wanted;
                bpl_ = wanted == V4L2_PIX_FMT_YUYV ? width_ * 2 : 0;
                f->fmt.pix.width = width_;
                f->fmt.pix.height = height_;
                f->fmt.pix.bytesperline = bpl_;
                formatsSet.push_back(wanted);
                return 0;
            }
            case VIDIOC_ENUM_FRAMEINTERVALS: {
                auto* e = static_cast<v4l2_frmivalenum*>(arg);
                for (const Offer& o : offers) {
                    if (o.pixelformat != e->pixel_format || o.width != e->width || o.height != e->height) {
                        continue;
                    }
                    if (o.range && e->index == 0 && o.intervals.size() == 2) {
                        e->type = V4L2_FRMIVAL_TYPE_CONTINUOUS;
                        e->stepwise.min = o.intervals[0];
                        e->stepwise.max = o.intervals[1];
                        e->stepwise.step = {1, 1};
                        return 0;
                    }
                    if (!o.range && e->index < o.intervals.size()) {
                        e->type = V4L2_FRMIVAL_TYPE_DISCRETE;
                        e->discrete = o.intervals[e->index];
                        return 0;
                    }
                }
                errno = EINVAL;
                return -1;
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
            case VIDIOC_S_PARM: {
                const auto* p = static_cast<const v4l2_streamparm*>(arg);
                intervalsSet.push_back(p->parm.capture.timeperframe);
                if (p->parm.capture.timeperframe.numerator != 0) {
                    fps = p->parm.capture.timeperframe.denominator / p->parm.capture.timeperframe.numerator;
                }
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
                    if (picture) {
                        const std::vector<std::uint8_t> bytes = picture(number);
                        const std::size_t n = std::min(bytes.size(), target.size());
                        std::copy_n(bytes.begin(), n, target.begin());
                        b->bytesused = static_cast<unsigned>(n);
                        return 0;
                    }
                    if (paint) {
                        paint(target, number);
                    } else {
                        std::fill(target.begin(), target.end(), std::uint8_t{0});
                        target[0] = static_cast<std::uint8_t>(number);
                    }
                    b->bytesused = static_cast<unsigned>(size_);
                } else {
                    const std::size_t n = std::min(frames.front().size(), target.size());
                    std::copy_n(frames.front().begin(), n, target.begin());
                    b->bytesused = static_cast<unsigned>(n);
                    frames.pop_front();
                    const int number = ++dequeued;
                    b->flags =
                        std::find(damaged.begin(), damaged.end(), number) != damaged.end() ? V4L2_BUF_FLAG_ERROR : 0;
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

// A V4L2 layer whose first device is `first`; every later one (the probes
// reading names) is a small YUYV device.
inline std::unique_ptr<V4l2CaptureSystem> ScriptedSystem(const V4l2Options& options,
                                                         std::unique_ptr<ScriptedDevice> first)
{
    auto kept = std::make_shared<std::unique_ptr<ScriptedDevice>>(std::move(first));
    return std::make_unique<V4l2CaptureSystem>(options, [kept]() -> std::unique_ptr<V4l2Device> {
        if (*kept) {
            return std::move(*kept);
        }
        return std::make_unique<ScriptedDevice>(V4L2_PIX_FMT_YUYV, 8, 4, 16, 64);
    });
}

}  // namespace vorlix::capture::fakes
