// JPEG pictures to the engine's frames through the one feed both builds use:
// each picture arrives as I420 of its own content on the measuring thread, a
// broken one is skipped, counted and traced, and a frame measured at a
// fraction gets the whole picture of that same frame, whatever came after it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/capture/mjpeg/JpegFeed.h"
#include "serveur/capture/tests/JpegPictures.h"
#include "serveur/capture/tests/WholeSink.h"
#include "serveur/core/PixelFormat.h"

using namespace std::chrono_literals;

namespace vorlix::capture {
namespace {

using fakes::WholeSeen;
using fakes::WholeSink;

constexpr int kW = 96;
constexpr int kH = 64;

// Picture n: the block at x = 4 + 6n.
std::vector<std::uint8_t> Picture(int n)
{
    return fakes::Compress(fakes::BlockPicture(kW, kH, 4 + 6 * n, 16, 20), kW, kH, TJSAMP_420, 90);
}

// The picture as our decoder gives it on its own: what the engine must get.
std::vector<std::uint8_t> Decoded(const std::vector<std::uint8_t>& jpeg, int scale)
{
    JpegFrameDecoder decoder;
    std::vector<std::uint8_t> out;
    const std::optional<Frame> frame = decoder.Decode(jpeg, scale, out);
    return frame ? std::vector<std::uint8_t>(frame->data.begin(), frame->data.end()) : std::vector<std::uint8_t>{};
}

TEST(JpegFeed, PicturesArriveAsI420OfTheirOwnContentOnTheMeasuringThread)
{
    WholeSink sink;
    JpegFeed feed;
    feed.Start(sink, 1);
    std::vector<std::vector<std::uint8_t>> pictures;
    for (int n = 0; n < 5; ++n) {
        pictures.push_back(Picture(n));
        ASSERT_TRUE(feed.Take(pictures.back()));
        EXPECT_EQ(feed.Width(), kW);
        EXPECT_EQ(feed.Height(), kH);
        ASSERT_TRUE(kestrel::test::WaitUntil([&] { return feed.Processed() == static_cast<std::uint64_t>(n + 1); }));
    }
    feed.Stop();
    EXPECT_FALSE(feed.Running());
    const std::vector<WholeSeen> frames = sink.Frames();
    ASSERT_EQ(frames.size(), pictures.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(frames[i].format, kFourccI420);
        EXPECT_EQ(frames[i].width, kW);
        EXPECT_EQ(frames[i].height, kH);
        EXPECT_EQ(frames[i].scale, 1);
        EXPECT_EQ(frames[i].data.size(), FrameBytes(kFourccI420, kW, kH));
        EXPECT_EQ(frames[i].data, Decoded(pictures[i], 1));
        EXPECT_TRUE(frames[i].whole.empty()) << "a frame at full size has no whole picture to ask for";
        EXPECT_NE(frames[i].thread, std::this_thread::get_id());
    }
    EXPECT_EQ(feed.Rejected(), 0U);
    EXPECT_FALSE(feed.Take(pictures[0])) << "nothing is taken once stopped";
}

TEST(JpegFeed, ACutOrBrokenPictureIsSkippedCountedAndTracedOncePerPicture)
{
    kestrel::test::TraceCapture traces;
    WholeSink sink;
    JpegFeed feed;
    feed.Start(sink, 1);
    std::vector<std::uint8_t> cut = Picture(1);
    cut.resize(cut.size() / 2);
    std::vector<std::uint8_t> garbage = Picture(2);
    std::fill(garbage.begin() + 2, garbage.end() - 2, std::uint8_t{0x5A});
    EXPECT_FALSE(feed.Take(cut));
    EXPECT_FALSE(feed.Take(garbage));
    EXPECT_FALSE(feed.Take({}));
    ASSERT_TRUE(feed.Take(Picture(3)));
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return feed.Processed() == 1; }));
    feed.Stop();
    EXPECT_EQ(feed.Rejected(), 3U);
    EXPECT_EQ(sink.Frames().size(), 1U) << "only the whole picture reaches the engine";
    EXPECT_EQ(traces.Count("JPEG picture skipped", kestrel::kLevelWarn), 1) << "the first said aloud";
    EXPECT_EQ(traces.Count("JPEG picture skipped", kestrel::kLevelUser3), 2);
    EXPECT_EQ(traces.Count("3 so far", kestrel::kLevelUser3), 1);
}

// A keeper that copies, as the V4L2 build does, and counts what it is told.
class CountingKeeper final : public SourceKeeper {
public:
    std::span<const std::uint8_t> Keep(int slot, std::span<const std::uint8_t> jpeg) override
    {
        ++kept;
        return copies_.Keep(slot, jpeg);
    }
    void Release(int /*slot*/) override { ++released; }
    void Clear() override
    {
        ++cleared;
        copies_.Clear();
    }
    std::atomic<int> kept{0};
    std::atomic<int> released{0};
    std::atomic<int> cleared{0};

private:
    CopyingKeeper copies_;
};

// The reading side writes every picture into the same buffer, as a driver
// reuses its buffers: the whole picture must come from what was kept of the
// frame itself, never from the buffer nor from a later frame.
void CheckWholePictures(int scale)
{
    SCOPED_TRACE(scale);
    WholeSink sink;
    CountingKeeper keeper;
    JpegFeed feed(&keeper);
    feed.Start(sink, scale);
    std::vector<std::vector<std::uint8_t>> pictures;
    pictures.reserve(8);
    for (int n = 0; n < 8; ++n) {
        pictures.push_back(Picture(n));
    }
    std::vector<std::uint8_t> reused(8192);
    const auto take = [&](int n) {
        const std::vector<std::uint8_t>& jpeg = pictures[static_cast<std::size_t>(n)];
        std::fill(reused.begin(), reused.end(), std::uint8_t{0});
        std::copy(jpeg.begin(), jpeg.end(), reused.begin());
        return feed.Take(std::span<const std::uint8_t>(reused.data(), jpeg.size()));
    };
    sink.Hold();
    ASSERT_TRUE(take(0));
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return sink.Entered() == 1; }));
    // Frame 0 is measured meanwhile: 1..6 arrive, the newest waits.
    for (int n = 1; n <= 6; ++n) {
        ASSERT_TRUE(take(n));
    }
    sink.Open();
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return feed.Processed() == 2; }));
    ASSERT_TRUE(take(7));
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return feed.Processed() == 3; }));
    feed.Stop();
    EXPECT_EQ(feed.Replaced(), 5U);

    const std::vector<WholeSeen> frames = sink.Frames();
    ASSERT_EQ(frames.size(), 3U);
    const int expected[3] = {0, 6, 7};
    const int w = (kW + scale - 1) / scale;
    const int h = (kH + scale - 1) / scale;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        const std::vector<std::uint8_t>& jpeg = pictures[static_cast<std::size_t>(expected[i])];
        EXPECT_EQ(frames[i].width, w);
        EXPECT_EQ(frames[i].height, h);
        EXPECT_EQ(frames[i].scale, scale);
        EXPECT_EQ(frames[i].data, Decoded(jpeg, scale)) << "measured at 1/" << scale;
        EXPECT_EQ(frames[i].wholeSize, (std::pair<int, int>{kW, kH}));
        EXPECT_EQ(frames[i].wholeWidth, kW);
        EXPECT_EQ(frames[i].whole, Decoded(jpeg, 1)) << "the whole picture of the same frame";
    }
    EXPECT_EQ(keeper.kept.load(), 8) << "every scaled frame kept its picture";
    EXPECT_EQ(keeper.released.load(), 3) << "and let it go once measured";
    EXPECT_EQ(keeper.cleared.load(), 1) << "everything let go at the stop";
}

TEST(JpegFeed, AScaledFrameIsMeasuredAtItsFractionAndItsWholePictureIsThatFrame)
{
    CheckWholePictures(2);
    CheckWholePictures(4);
}

TEST(JpegFeed, StartedAgainItTakesTheNewScaleAndKeepsItsCounts)
{
    WholeSink sink;
    JpegFeed feed;
    feed.Start(sink, 2);
    ASSERT_TRUE(feed.Take(Picture(1)));
    EXPECT_FALSE(feed.Take({}));
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return feed.Processed() == 1; }));
    feed.Start(sink, 3);  // not a scale: the whole picture
    ASSERT_TRUE(feed.Take(Picture(2)));
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return feed.Processed() == 2; }));
    feed.Stop();
    const std::vector<WholeSeen> frames = sink.Frames();
    ASSERT_EQ(frames.size(), 2U);
    EXPECT_EQ(frames[0].width, kW / 2);
    EXPECT_EQ(frames[1].width, kW);
    EXPECT_EQ(frames[1].scale, 1);
    EXPECT_EQ(feed.Rejected(), 1U);
}

}  // namespace
}  // namespace vorlix::capture
