// A V4L2 camera in MJPG, on a scripted device: kept in MJPG, each picture
// decoded to I420 and its buffer queued again, a cut picture skipped and
// counted, "Detection scale" honoured with the whole picture of the same
// frame; and YUYV given up for MJPG only where the driver says MJPG is faster.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/capture/mjpeg/JpegFrameDecoder.h"
#include "serveur/capture/tests/JpegPictures.h"
#include "serveur/capture/tests/ScriptedV4l2Device.h"
#include "serveur/capture/tests/WholeSink.h"
#include "serveur/capture/v4l2/FormatChoice.h"
#include "serveur/capture/v4l2/V4l2Capture.h"
#include "serveur/core/PixelFormat.h"

using namespace std::chrono_literals;

namespace vorlix::capture {
namespace {

using namespace fakes;

constexpr unsigned kW = 128;
constexpr unsigned kH = 96;
constexpr std::size_t kBufferBytes = std::size_t{64} * 1024;

// Picture n: the block at x = 4 + 7n.
std::vector<std::uint8_t> Picture(int n)
{
    return Compress(BlockPicture(kW, kH, 4 + 7 * n, 30, 24), kW, kH, TJSAMP_422, 90);
}

std::vector<std::uint8_t> Decoded(const std::vector<std::uint8_t>& jpeg, int scale)
{
    JpegFrameDecoder decoder;
    std::vector<std::uint8_t> out;
    const std::optional<Frame> frame = decoder.Decode(jpeg, scale, out);
    return frame ? std::vector<std::uint8_t>(frame->data.begin(), frame->data.end()) : std::vector<std::uint8_t>{};
}

// The number of the picture whose decode at `scale` is `data`, -1 for none.
int WhichPicture(const std::vector<std::vector<std::uint8_t>>& pictures, const std::vector<std::uint8_t>& data,
                 int scale)
{
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        if (Decoded(pictures[i], scale) == data) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::unique_ptr<ScriptedDevice> MjpgCamera(const std::vector<std::vector<std::uint8_t>>& pictures)
{
    auto device = std::make_unique<ScriptedDevice>(V4L2_PIX_FMT_MJPEG, kW, kH, 0, kBufferBytes);
    device->acceptsYuyv = true;  // offered, but the camera's own MJPG is kept
    device->frames.assign(pictures.begin(), pictures.end());
    return device;
}

class V4l2Mjpeg : public ::testing::Test {
protected:
    kestrel::test::TraceCapture traces_;
};

TEST_F(V4l2Mjpeg, ACameraInMjpgStaysInItAndEachPictureArrivesAsI420)
{
    std::vector<std::vector<std::uint8_t>> pictures;
    pictures.reserve(10);
    for (int n = 0; n < 10; ++n) {
        pictures.push_back(Picture(n));  // more than the four buffers: each goes back to the driver
    }
    auto device = MjpgCamera(pictures);
    ScriptedDevice* fake = device.get();
    V4l2Capture capture(std::move(device));
    ASSERT_TRUE(capture.Connect(0));
    EXPECT_TRUE(fake->formatsSet.empty()) << "left in MJPG";
    EXPECT_TRUE(capture.Compressed());
    EXPECT_EQ(capture.Format(), kFourccI420);
    EXPECT_EQ(capture.Width(), static_cast<int>(kW));
    WholeSink sink;
    ASSERT_TRUE(capture.Start(sink));
    // A frame that comes while one is measured replaces the waiting one: each
    // picture is measured or replaced, the last one measured.
    EXPECT_TRUE(
        kestrel::test::WaitUntil([&] { return sink.Count() + capture.ReplacedFrames() == pictures.size(); }, 5s));
    capture.Stop();
    EXPECT_EQ(fake->mapped, 0);
    const std::vector<WholeSeen> frames = sink.Frames();
    ASSERT_FALSE(frames.empty());
    int last = -1;
    for (const WholeSeen& f : frames) {
        EXPECT_EQ(f.format, kFourccI420);
        EXPECT_EQ(f.width, static_cast<int>(kW));
        EXPECT_EQ(f.height, static_cast<int>(kH));
        EXPECT_EQ(f.data.size(), FrameBytes(kFourccI420, kW, kH));
        const int n = WhichPicture(pictures, f.data, 1);
        EXPECT_GT(n, last) << "each frame is one of the pictures, in order";
        last = n;
    }
    EXPECT_EQ(last, 9) << "the newest picture is measured";
    EXPECT_EQ(capture.RejectedPictures(), 0U);
}

TEST_F(V4l2Mjpeg, ACutEmptyOrDamagedPictureIsSkippedCountedAndTraced)
{
    // The fourth is whole, but the driver says data of it was lost.
    std::vector<std::vector<std::uint8_t>> pictures{Picture(0), Picture(1), {}, Picture(4), Picture(2)};
    pictures[1].resize(pictures[1].size() * 2 / 3);
    auto device = MjpgCamera(pictures);
    ScriptedDevice* fake = device.get();
    fake->damaged = {4};
    V4l2Capture capture(std::move(device));
    ASSERT_TRUE(capture.Connect(0));
    WholeSink sink;
    ASSERT_TRUE(capture.Start(sink));
    EXPECT_TRUE(kestrel::test::WaitUntil([&] { return capture.RejectedPictures() == 3 && fake->dequeued == 5; }));
    EXPECT_TRUE(kestrel::test::WaitUntil([&] { return sink.Count() + capture.ReplacedFrames() == 2; }));
    EXPECT_TRUE(capture.Capturing()) << "a bad picture does not stop the camera";
    capture.Stop();
    EXPECT_EQ(capture.RejectedPictures(), 3U);
    EXPECT_EQ(traces_.Count("JPEG picture skipped", kestrel::kLevelWarn), 1);
    EXPECT_EQ(traces_.Count("JPEG picture skipped", kestrel::kLevelUser3), 2);
    EXPECT_EQ(traces_.Count("JPEG picture skipped (the driver marked it damaged), 3 so far", kestrel::kLevelUser3), 1);
    const std::vector<WholeSeen> frames = sink.Frames();
    ASSERT_FALSE(frames.empty());
    for (const WholeSeen& f : frames) {
        EXPECT_NE(f.data, Decoded(pictures[3], 1)) << "the damaged picture never reaches the engine";
    }
    EXPECT_EQ(frames.back().data, Decoded(pictures[4], 1));
}

// The picture without its Huffman tables, as many USB cameras send MJPEG.
std::vector<std::uint8_t> WithoutHuffmanTables(const std::vector<std::uint8_t>& jpeg)
{
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        const std::uint8_t marker = jpeg[at + 1];
        if (marker == 0xDA) {  // the scan runs to the end
            out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(at), jpeg.end());
            break;
        }
        const std::size_t length = (static_cast<std::size_t>(jpeg[at + 2]) << 8) | jpeg[at + 3];
        const auto begin = jpeg.begin() + static_cast<std::ptrdiff_t>(at);
        if (marker != 0xC4) {
            out.insert(out.end(), begin, begin + static_cast<std::ptrdiff_t>(2 + length));
        }
        at += 2 + length;
    }
    return out;
}

TEST_F(V4l2Mjpeg, APictureWithoutHuffmanTablesIsDecodedWithTheStandardOnes)
{
    const std::vector<std::uint8_t> whole = Picture(3);
    const std::vector<std::uint8_t> bare = WithoutHuffmanTables(whole);
    ASSERT_LT(bare.size(), whole.size());
    auto device = MjpgCamera({bare});
    V4l2Capture capture(std::move(device));
    ASSERT_TRUE(capture.Connect(0));
    WholeSink sink;
    ASSERT_TRUE(capture.Start(sink));
    EXPECT_TRUE(kestrel::test::WaitUntil([&] { return sink.Count() == 1; }));
    capture.Stop();
    EXPECT_EQ(capture.RejectedPictures(), 0U);
    const std::vector<WholeSeen> frames = sink.Frames();
    ASSERT_EQ(frames.size(), 1U);
    EXPECT_EQ(frames[0].data, Decoded(whole, 1));
}

// The driver writes later pictures into the same four buffers while the first
// frame is measured: the whole picture must still be that frame's.
TEST_F(V4l2Mjpeg, AtScaleTwoTheFrameIsHalfSizeAndItsPictureIsTheWholeOfTheSameFrame)
{
    std::vector<std::vector<std::uint8_t>> pictures;
    pictures.reserve(9);
    for (int n = 0; n < 9; ++n) {
        pictures.push_back(Picture(n));
    }
    auto device = MjpgCamera({pictures[0]});
    ScriptedDevice* fake = device.get();
    V4l2Capture capture(std::move(device));
    capture.SetDetectionScale(2);
    ASSERT_TRUE(capture.Connect(0));
    WholeSink sink;
    sink.Hold();
    ASSERT_TRUE(capture.Start(sink));
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return sink.Entered() == 1; }));
    EXPECT_EQ(traces_.Count("/dev/video0 sends MJPG: pictures decoded to I420, 128 x 96 measured at 64 x 48",
                            kestrel::kLevelInfo),
              1);
    for (std::size_t n = 1; n < pictures.size(); ++n) {
        fake->Add(pictures[n]);
    }
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return fake->dequeued == 9; }));
    sink.Open();
    EXPECT_TRUE(
        kestrel::test::WaitUntil([&] { return sink.Count() + capture.ReplacedFrames() == pictures.size(); }, 5s));
    capture.Stop();
    const std::vector<WholeSeen> frames = sink.Frames();
    ASSERT_GE(frames.size(), 2U);
    int last = -1;
    for (const WholeSeen& f : frames) {
        EXPECT_EQ(f.width, static_cast<int>(kW / 2));
        EXPECT_EQ(f.height, static_cast<int>(kH / 2));
        EXPECT_EQ(f.scale, 2);
        EXPECT_EQ(f.wholeSize, (std::pair<int, int>{kW, kH}));
        const int n = WhichPicture(pictures, f.data, 2);
        ASSERT_GT(n, last);
        last = n;
        EXPECT_EQ(f.wholeWidth, static_cast<int>(kW));
        EXPECT_EQ(f.whole, Decoded(pictures[static_cast<std::size_t>(n)], 1)) << "the whole of frame " << n;
    }
    EXPECT_EQ(WhichPicture(pictures, frames.front().data, 2), 0);
    EXPECT_EQ(last, 8);
}

// Frame intervals as the driver lists them: 1/30 is 30 frames a second.
v4l2_fract PerSecond(unsigned frames)
{
    return v4l2_fract{1, frames};
}

std::unique_ptr<ScriptedDevice> YuyvCamera(unsigned yuyvRate, unsigned mjpgRate)
{
    auto device = std::make_unique<ScriptedDevice>(V4L2_PIX_FMT_YUYV, kW, kH, kW * 2, kBufferBytes);
    device->fps = yuyvRate != 0 ? yuyvRate : 5;
    if (yuyvRate != 0) {
        device->offers.push_back(Offer{V4L2_PIX_FMT_YUYV, kW, kH, {PerSecond(yuyvRate), PerSecond(yuyvRate / 2)}});
    }
    if (mjpgRate != 0) {
        device->offers.push_back(Offer{V4L2_PIX_FMT_MJPEG, kW, kH, {PerSecond(15), PerSecond(mjpgRate), PerSecond(5)}});
    }
    return device;
}

TEST_F(V4l2Mjpeg, YuyvGivesWayToMjpgOnlyWhereTheDriverSaysMjpgIsFasterAtThatSize)
{
    {
        auto device = YuyvCamera(10, 30);
        ScriptedDevice* fake = device.get();
        V4l2Capture capture(std::move(device));
        ASSERT_TRUE(capture.Connect(0));
        EXPECT_TRUE(capture.Compressed());
        EXPECT_EQ(fake->formatsSet, std::vector<std::uint32_t>{V4L2_PIX_FMT_MJPEG});
        ASSERT_EQ(fake->intervalsSet.size(), 1U) << "the camera's full rate asked for";
        EXPECT_EQ(fake->intervalsSet[0].denominator, 30U);
        EXPECT_EQ(capture.Fps(), 30);
        EXPECT_EQ(traces_.Count("switched from YUYV to MJPG: 128x96 at up to 30 frames a second instead of 10",
                                kestrel::kLevelInfo),
                  1);
    }
    for (const auto& [yuyv, mjpg] : {std::pair{30U, 30U}, std::pair{30U, 0U}, std::pair{0U, 30U}}) {
        SCOPED_TRACE(testing::Message() << yuyv << " " << mjpg);
        auto device = YuyvCamera(yuyv, mjpg);
        ScriptedDevice* fake = device.get();
        V4l2Capture capture(std::move(device));
        ASSERT_TRUE(capture.Connect(0));
        EXPECT_FALSE(capture.Compressed()) << "the camera's own mode kept";
        EXPECT_EQ(capture.Format(), kFourccYuy2);
        EXPECT_TRUE(fake->formatsSet.empty());
        EXPECT_TRUE(fake->intervalsSet.empty());
    }
    EXPECT_EQ(traces_.Count("switched"), 1);
}

TEST_F(V4l2Mjpeg, FastestIntervalReadsListsAndRanges)
{
    ScriptedDevice device(V4L2_PIX_FMT_YUYV, kW, kH, 0, 16);
    device.offers.push_back(Offer{V4L2_PIX_FMT_YUYV, kW, kH, {{1, 5}, {1, 10}, {2, 15}}});
    device.offers.push_back(Offer{V4L2_PIX_FMT_MJPEG, kW, kH, {{1, 60}, {1, 1}}, true});
    const std::optional<v4l2_fract> list = FastestInterval(device, V4L2_PIX_FMT_YUYV, kW, kH);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->numerator, 1U);
    EXPECT_EQ(list->denominator, 10U);
    const std::optional<v4l2_fract> range = FastestInterval(device, V4L2_PIX_FMT_MJPEG, kW, kH);
    ASSERT_TRUE(range);
    EXPECT_EQ(range->denominator, 60U);
    EXPECT_FALSE(FastestInterval(device, V4L2_PIX_FMT_MJPEG, kW * 2, kH * 2)) << "another size";
    EXPECT_FALSE(FastestInterval(device, V4L2_PIX_FMT_RGB24, kW, kH));
    EXPECT_TRUE(Shorter({1, 30}, {1, 10}));
    EXPECT_FALSE(Shorter({2, 30}, {1, 15}));
}

TEST_F(V4l2Mjpeg, AFormatNobodyReadsGoesToTheFasterOfYuyvAndMjpg)
{
    {
        auto device = std::make_unique<ScriptedDevice>(V4L2_PIX_FMT_H264, kW, kH, 0, kBufferBytes);
        device->offers.push_back(Offer{V4L2_PIX_FMT_YUYV, kW, kH, {PerSecond(8)}});
        device->offers.push_back(Offer{V4L2_PIX_FMT_MJPEG, kW, kH, {PerSecond(30)}});
        ScriptedDevice* fake = device.get();
        V4l2Capture capture(std::move(device));
        ASSERT_TRUE(capture.Connect(0));
        EXPECT_TRUE(capture.Compressed());
        EXPECT_EQ(fake->formatsSet, std::vector<std::uint32_t>{V4L2_PIX_FMT_MJPEG});
    }
    traces_.Clear();
    {
        // Only MJPG is offered.
        auto device = std::make_unique<ScriptedDevice>(V4L2_PIX_FMT_H264, kW, kH, 0, kBufferBytes);
        device->offers.push_back(Offer{V4L2_PIX_FMT_MJPEG, kW, kH, {}});
        V4l2Capture capture(std::move(device));
        ASSERT_TRUE(capture.Connect(0));
        EXPECT_TRUE(capture.Compressed());
        EXPECT_EQ(traces_.Count("switched from format 0x34363248 to MJPG"), 1);
    }
}

}  // namespace
}  // namespace vorlix::capture
