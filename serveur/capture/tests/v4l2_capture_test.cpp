// The V4L2 layer on a scripted device: formats, frames, a device that vanishes.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "libkestrel/trace/QXTrace.h"
#include "serveur/capture/v4l2/V4l2Capture.h"

using namespace std::chrono_literals;

namespace vorlix::capture {
namespace {

std::mutex g_lock;
std::vector<std::string> g_traces;

void Capture(int /*level*/, const char* format, ...)
{
    char buffer[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    const std::lock_guard lock(g_lock);
    g_traces.emplace_back(buffer);
}

int TracesWith(const std::string& part)
{
    const std::lock_guard lock(g_lock);
    int count = 0;
    for (const auto& line : g_traces)
        count += line.find(part) != std::string::npos ? 1 : 0;
    return count;
}

// Plays a list of frames, then either idles or vanishes (ENODEV).
class ScriptedDevice final : public V4l2Device {
public:
    ScriptedDevice(std::uint32_t pixelformat, unsigned width, unsigned height, unsigned bytesPerLine,
                   std::size_t frameBytes)
        : pixelformat_(pixelformat), width_(width), height_(height), bpl_(bytesPerLine), size_(frameBytes)
    {
    }
    std::deque<std::vector<std::uint8_t>> frames;  // filled before Start
    bool vanish = false;
    bool opened = false;
    std::string path;
    int mapped = 0;

    int Open(const std::string& p) override
    {
        path = p;
        if (p == "/dev/video9") {
            errno = ENOENT;
            return -1;
        }
        opened = true;
        return 0;
    }
    void Close() override { opened = false; }
    int Ioctl(unsigned long request, void* arg) override
    {
        const std::lock_guard lock(mutex_);
        switch (request) {
            case VIDIOC_G_FMT: {
                auto* f = static_cast<v4l2_format*>(arg);
                f->fmt.pix.pixelformat = pixelformat_;
                f->fmt.pix.width = width_;
                f->fmt.pix.height = height_;
                f->fmt.pix.bytesperline = bpl_;
                return 0;
            }
            case VIDIOC_REQBUFS: {
                auto* r = static_cast<v4l2_requestbuffers*>(arg);
                buffers_.assign(r->count, std::vector<std::uint8_t>(size_));
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
                if (frames.empty()) {
                    errno = vanish ? ENODEV : EAGAIN;
                    return -1;
                }
                auto* b = static_cast<v4l2_buffer*>(arg);
                b->index = queued_.front();
                queued_.pop_front();
                auto& target = buffers_[b->index];
                std::copy(frames.front().begin(), frames.front().end(), target.begin());
                b->bytesused = static_cast<unsigned>(frames.front().size());
                frames.pop_front();
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
        {
            const std::lock_guard lock(mutex_);
            if (!frames.empty())
                return 1;
            if (vanish) {
                errno = ENODEV;
                return -1;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(ms / 10));
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

std::vector<std::uint8_t> Pattern(std::size_t n, int seed)
{
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(seed) * 31);
    return v;
}

void WaitFrames(Recorder& r, std::size_t n)
{
    for (int i = 0; i < 200 && r.Count() < n; ++i)
        std::this_thread::sleep_for(5ms);
}

class V4l2 : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::lock_guard lock(g_lock);
        g_traces.clear();
        SetTracelnFunction(&Capture);
    }
    void TearDown() override { SetTracelnFunction(&QXTraceNull); }
};

struct FormatCase {
    std::uint32_t pixelformat;
    int code;
    unsigned width, height, bytesPerLine;
    std::size_t frameBytes;  // what the engine is given
};

TEST_F(V4l2, EachFormatReachesTheEngineWithItsCodeSizeAndRowOrder)
{
    const std::vector<FormatCase> cases{
        {V4L2_PIX_FMT_YUYV, kFourccYuy2, 8, 4, 16, 8 * 4 * 2},
        {V4L2_PIX_FMT_YUV420, kFourccI420, 8, 4, 8, 8 * 4 * 3 / 2},
        {V4L2_PIX_FMT_RGB24, kFormatRgb24, 6, 3, 18, 6 * 3 * 3},
        {V4L2_PIX_FMT_RGB565, kFormatRgb16, 8, 4, 16, 8 * 4 * 2},
        {V4L2_PIX_FMT_XBGR32, kFormatRgb32, 4, 2, 16, 4 * 2 * 4},
    };
    for (const auto& c : cases) {
        auto device = std::make_unique<ScriptedDevice>(c.pixelformat, c.width, c.height, c.bytesPerLine, c.frameBytes);
        ScriptedDevice* fake = device.get();
        fake->frames = {Pattern(c.frameBytes, 1), Pattern(c.frameBytes, 2)};
        V4l2Capture capture(std::move(device));
        ASSERT_TRUE(capture.Connect(0)) << c.code;
        EXPECT_EQ(fake->path, "/dev/video0");
        Recorder recorder;
        ASSERT_TRUE(capture.Start(recorder));
        WaitFrames(recorder, 2);
        capture.Stop();
        EXPECT_EQ(fake->mapped, 0) << "buffers unmapped at stop";
        const std::lock_guard lock(recorder.mutex);
        ASSERT_EQ(recorder.frames.size(), 2U) << c.code;
        for (int i = 0; i < 2; ++i) {
            const Seen& s = recorder.frames[static_cast<std::size_t>(i)];
            EXPECT_EQ(s.format, c.code);
            EXPECT_EQ(s.width, static_cast<int>(c.width));
            EXPECT_EQ(s.height, static_cast<int>(c.height));
            EXPECT_EQ(s.topDown, kTopDown);
            EXPECT_EQ(s.data, Pattern(c.frameBytes, i + 1));
        }
    }
}

TEST_F(V4l2, PaddedRowsAreDeliveredTight)
{
    // RGB24 5 pixels wide: 15 bytes of picture in 16-byte rows.
    auto device = std::make_unique<ScriptedDevice>(V4L2_PIX_FMT_RGB24, 5, 3, 16, 48);
    ScriptedDevice* fake = device.get();
    const auto padded = Pattern(48, 3);
    fake->frames = {padded};
    V4l2Capture capture(std::move(device));
    ASSERT_TRUE(capture.Connect(1));
    Recorder recorder;
    ASSERT_TRUE(capture.Start(recorder));
    WaitFrames(recorder, 1);
    capture.Stop();
    const std::lock_guard lock(recorder.mutex);
    ASSERT_EQ(recorder.frames.size(), 1U);
    std::vector<std::uint8_t> tight;
    for (int y = 0; y < 3; ++y)
        tight.insert(tight.end(), padded.begin() + y * 16, padded.begin() + y * 16 + 15);
    EXPECT_EQ(recorder.frames[0].data, tight);
}

TEST_F(V4l2, VanishedDeviceIsTracedAndCaptureStops)
{
    auto device = std::make_unique<ScriptedDevice>(V4L2_PIX_FMT_YUYV, 4, 2, 8, 16);
    ScriptedDevice* fake = device.get();
    fake->frames = {Pattern(16, 1)};
    fake->vanish = true;
    V4l2Capture capture(std::move(device));
    ASSERT_TRUE(capture.Connect(0));
    Recorder recorder;
    ASSERT_TRUE(capture.Start(recorder));
    for (int i = 0; i < 200 && capture.Capturing(); ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(capture.Capturing());
    EXPECT_EQ(recorder.Count(), 1U);
    EXPECT_EQ(TracesWith("[ERROR] "), 2);  // the line and its detail
    EXPECT_EQ(TracesWith("Video device /dev/video0 lost, capture stopped"), 1);
    capture.Stop();
    capture.Disconnect();
    EXPECT_FALSE(fake->opened);
    EXPECT_EQ(fake->mapped, 0);
}

TEST_F(V4l2, MissingDeviceAndUnknownFormatFailToConnect)
{
    V4l2Capture missing(std::make_unique<ScriptedDevice>(V4L2_PIX_FMT_YUYV, 4, 2, 8, 16));
    EXPECT_FALSE(missing.Connect(9));
    EXPECT_EQ(TracesWith("Could not connect to device!"), 1);
    auto device = std::make_unique<ScriptedDevice>(V4L2_PIX_FMT_MJPEG, 4, 2, 8, 16);
    ScriptedDevice* fake = device.get();
    V4l2Capture mjpeg(std::move(device));
    EXPECT_FALSE(mjpeg.Connect(0));
    EXPECT_FALSE(fake->opened);
    Recorder recorder;
    EXPECT_FALSE(mjpeg.Start(recorder));
}

}  // namespace
}  // namespace vorlix::capture
