// The V4L2 layer on a scripted device: formats, frames, a device that vanishes.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <chrono>
#include <thread>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/QXTrace.h"
#include "serveur/capture/tests/ScriptedV4l2Device.h"
#include "serveur/capture/v4l2/V4l2Capture.h"

using namespace std::chrono_literals;

namespace vorlix::capture {
namespace {

using namespace fakes;

void WaitFrames(Recorder& r, std::size_t n)
{
    kestrel::test::WaitUntil([&] { return r.Count() >= n; }, 1s);
}

class V4l2 : public ::testing::Test {
protected:
    kestrel::test::TraceCapture traces_;
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
        {V4L2_PIX_FMT_YUYV, kFourccYuy2, 8, 4, 16, std::size_t{8} * 4 * 2},
        {V4L2_PIX_FMT_YUV420, kFourccI420, 8, 4, 8, std::size_t{8} * 4 * 3 / 2},
        {V4L2_PIX_FMT_RGB24, kFormatRgb24, 6, 3, 18, std::size_t{6} * 3 * 3},
        {V4L2_PIX_FMT_RGB565, kFormatRgb16, 8, 4, 16, std::size_t{8} * 4 * 2},
        {V4L2_PIX_FMT_XBGR32, kFormatRgb32, 4, 2, 16, std::size_t{4} * 2 * 4},
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
    for (int y = 0; y < 3; ++y) {
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(y) * 16;
        tight.insert(tight.end(), padded.begin() + row, padded.begin() + row + 15);
    }
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
    kestrel::test::WaitUntil([&] { return !capture.Capturing(); }, 1s);
    EXPECT_FALSE(capture.Capturing());
    EXPECT_EQ(recorder.Count(), 1U);
    EXPECT_EQ(traces_.Count("[ERROR] "), 2);  // the line and its detail
    EXPECT_EQ(traces_.Count("Video device /dev/video0 lost, capture stopped"), 1);
    capture.Stop();
    capture.Disconnect();
    EXPECT_FALSE(fake->opened);
    EXPECT_EQ(fake->mapped, 0);
}

TEST_F(V4l2, MissingDeviceAndUnknownFormatFailToConnect)
{
    V4l2Capture missing(std::make_unique<ScriptedDevice>(V4L2_PIX_FMT_YUYV, 4, 2, 8, 16));
    EXPECT_FALSE(missing.Connect(9));
    EXPECT_EQ(traces_.Count("Cannot open /dev/video9"), 1);
    // H.264, and the device offers nothing else.
    auto device = std::make_unique<ScriptedDevice>(V4L2_PIX_FMT_H264, 4, 2, 8, 16);
    ScriptedDevice* fake = device.get();
    V4l2Capture h264(std::move(device));
    EXPECT_FALSE(h264.Connect(0));
    EXPECT_FALSE(fake->opened);
    EXPECT_EQ(traces_.Count("Unsupported video format 0x34363248"), 1);
    Recorder recorder;
    EXPECT_FALSE(h264.Start(recorder));
}

TEST_F(V4l2, AFormatTheEngineCannotReadIsSwitchedToYuyvWhereTheDeviceOffersIt)
{
    auto device = std::make_unique<ScriptedDevice>(V4L2_PIX_FMT_H264, 4, 2, 0, 16);
    ScriptedDevice* fake = device.get();
    fake->acceptsYuyv = true;
    fake->frames = {Pattern(16, 4)};
    V4l2Capture capture(std::move(device));
    ASSERT_TRUE(capture.Connect(0));
    EXPECT_EQ(capture.Format(), kFourccYuy2);
    EXPECT_FALSE(capture.Compressed());
    EXPECT_EQ(traces_.Count("switched from format 0x34363248 to YUYV"), 1);
    Recorder recorder;
    ASSERT_TRUE(capture.Start(recorder));
    WaitFrames(recorder, 1);
    capture.Stop();
    const std::lock_guard lock(recorder.mutex);
    ASSERT_EQ(recorder.frames.size(), 1U);
    EXPECT_EQ(recorder.frames[0].format, kFourccYuy2);
    EXPECT_EQ(recorder.frames[0].data, Pattern(16, 4));
}

}  // namespace
}  // namespace vorlix::capture
