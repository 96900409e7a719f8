// The MJPEG decoder: every chroma layout to tight I420, the DCT's scaled
// sizes, and pictures cut short or made of garbage refused and counted.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "serveur/capture/mjpeg/JpegFrameDecoder.h"
#include "serveur/capture/tests/JpegPictures.h"
#include "serveur/core/PixelFormat.h"

namespace vorlix::capture {
namespace {

using fakes::BlockPicture;
using fakes::Compress;

// Luma of the frame at (x, y).
int Luma(const Frame& f, int x, int y)
{
    return f.data[static_cast<std::size_t>(y) * f.width + x];
}

// Cr (second chroma plane) of the frame at pixel (x, y).
int Cr(const Frame& f, int x, int y)
{
    const std::size_t luma = static_cast<std::size_t>(f.width) * f.height;
    const int cw = (f.width + 1) / 2;
    const int ch = (f.height + 1) / 2;
    return f.data[luma + static_cast<std::size_t>(cw) * ch + static_cast<std::size_t>(y / 2) * cw + x / 2];
}

class EveryLayout : public ::testing::TestWithParam<int> {};

TEST_P(EveryLayout, LandsAsTightI420WithTheBlockAndTheColours)
{
    const int sub = GetParam();
    constexpr int kW = 160;
    constexpr int kH = 120;
    const auto jpeg = Compress(BlockPicture(kW, kH, 96, 40, 32), kW, kH, sub);
    JpegFrameDecoder decoder;
    std::vector<std::uint8_t> out;
    const std::optional<Frame> f = decoder.Decode(jpeg, 1, out);
    ASSERT_TRUE(f.has_value()) << decoder.LastError();
    EXPECT_EQ(f->width, kW);
    EXPECT_EQ(f->height, kH);
    EXPECT_EQ(f->format, kFourccI420);
    EXPECT_EQ(f->topDown, kTopDown);
    ASSERT_EQ(f->data.size(), FrameBytes(kFourccI420, kW, kH));
    EXPECT_GT(Luma(*f, 110, 55), 240);  // inside the block
    EXPECT_LT(Luma(*f, 140, 100), 130);
    if (sub == TJSAMP_GRAY) {
        EXPECT_EQ(Cr(*f, 20, 20), 128);
        EXPECT_EQ(Cr(*f, 140, 100), 128);
    } else {
        EXPECT_GT(Cr(*f, 20, 20), 150);         // red half
        EXPECT_NEAR(Cr(*f, 140, 100), 128, 4);  // grey
        EXPECT_NEAR(Cr(*f, 110, 55), 128, 4);   // white block
    }
    EXPECT_EQ(decoder.Decoded(), 1U);
    EXPECT_EQ(decoder.Rejected(), 0U);
}

INSTANTIATE_TEST_SUITE_P(JpegDecoder, EveryLayout,
                         ::testing::Values(TJSAMP_420, TJSAMP_422, TJSAMP_444, TJSAMP_GRAY, TJSAMP_440, TJSAMP_411));

TEST(JpegDecoder, ScaledDecodeIsAHalfOrAQuarterRoundedUpWithTheBlockInPlace)
{
    constexpr int kW = 322;  // odd halves and quarters
    constexpr int kH = 182;
    const auto jpeg = Compress(BlockPicture(kW, kH, 160, 80, 64), kW, kH, TJSAMP_420);
    JpegFrameDecoder decoder;
    std::vector<std::uint8_t> out;
    for (const int scale : {1, 2, 4}) {
        const std::optional<Frame> f = decoder.Decode(jpeg, scale, out);
        ASSERT_TRUE(f.has_value()) << decoder.LastError();
        EXPECT_EQ(f->width, (kW + scale - 1) / scale);
        EXPECT_EQ(f->scale, scale);
        EXPECT_EQ(f->height, (kH + scale - 1) / scale);
        EXPECT_EQ(f->data.size(), FrameBytes(kFourccI420, f->width, f->height));
        EXPECT_GT(Luma(*f, 190 / scale, 110 / scale), 240) << "scale " << scale;
        EXPECT_LT(Luma(*f, 40 / scale, 40 / scale), 130) << "scale " << scale;
    }
    // A scale the DCT does not offer is full size.
    const std::optional<Frame> f = decoder.Decode(jpeg, 3, out);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->width, kW);
}

TEST(JpegDecoder, BuffersAreKeptFromFrameToFrame)
{
    constexpr int kW = 128;
    constexpr int kH = 96;
    JpegFrameDecoder decoder;
    std::vector<std::uint8_t> out;
    const std::uint8_t* first = nullptr;
    for (int i = 0; i < 5; ++i) {
        const auto jpeg = Compress(BlockPicture(kW, kH, i * 16, 16, 24), kW, kH, i % 2 == 0 ? TJSAMP_420 : TJSAMP_422);
        const std::optional<Frame> f = decoder.Decode(jpeg, 1, out);
        ASSERT_TRUE(f.has_value());
        EXPECT_GT(Luma(*f, i * 16 + 12, 28), 240) << "frame " << i;
        if (first == nullptr) {
            first = f->data.data();
        }
        EXPECT_EQ(f->data.data(), first) << "frame " << i << " was given a new buffer";
    }
}

TEST(JpegDecoder, CutGarbageAndEmptyPicturesAreRefusedAndCounted)
{
    constexpr int kW = 96;
    constexpr int kH = 64;
    const auto jpeg = Compress(BlockPicture(kW, kH, 8, 8, 16), kW, kH, TJSAMP_420);
    JpegFrameDecoder decoder;
    std::vector<std::uint8_t> out;

    std::vector<std::vector<std::uint8_t>> bad;
    for (const std::size_t keep :
         {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{20}, jpeg.size() / 2, jpeg.size() - 2}) {
        bad.emplace_back(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(keep));
    }
    // Garbage with the markers of a picture at both ends.
    std::vector<std::uint8_t> garbage(500);
    std::srand(7);
    for (auto& b : garbage) {
        b = static_cast<std::uint8_t>(std::rand());
    }
    garbage[0] = 0xFF;
    garbage[1] = 0xD8;
    garbage[498] = 0xFF;
    garbage[499] = 0xD9;
    bad.push_back(garbage);
    // The entropy-coded data overwritten in the middle, the end marker kept.
    std::vector<std::uint8_t> corrupt = jpeg;
    for (std::size_t i = corrupt.size() / 2; i < corrupt.size() / 2 + 40; ++i) {
        corrupt[i] = 0xFF;
    }
    bad.push_back(corrupt);
    // The first part of one picture followed by a whole other one's end.
    std::vector<std::uint8_t> spliced(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(jpeg.size() / 3));
    spliced.insert(spliced.end(), jpeg.end() - 10, jpeg.end());
    bad.push_back(spliced);

    for (std::size_t i = 0; i < bad.size(); ++i) {
        EXPECT_FALSE(decoder.Decode(bad[i], 1, out).has_value()) << "bad picture " << i;
        EXPECT_FALSE(decoder.LastError().empty());
    }
    EXPECT_EQ(decoder.Rejected(), bad.size());
    EXPECT_EQ(decoder.Decoded(), 0U);
    // The decoder is still sound afterwards.
    const std::optional<Frame> f = decoder.Decode(jpeg, 1, out);
    ASSERT_TRUE(f.has_value()) << decoder.LastError();
    EXPECT_GT(Luma(*f, 14, 14), 240);
    EXPECT_EQ(decoder.Decoded(), 1U);
}

TEST(JpegDecoder, PaddingAfterTheEndMarkerIsAccepted)
{
    constexpr int kW = 64;
    constexpr int kH = 48;
    const auto jpeg = Compress(BlockPicture(kW, kH, 8, 8, 16), kW, kH, TJSAMP_420);
    JpegFrameDecoder decoder;
    std::vector<std::uint8_t> out;
    // CR LF of a multipart part, and a camera's buffer padded with zeros.
    for (const std::size_t padding : {std::size_t{2}, std::size_t{4000}}) {
        std::vector<std::uint8_t> padded = jpeg;
        padded.insert(padded.end(), padding, padding == 2 ? '\n' : 0);
        const std::optional<Frame> f = decoder.Decode(padded, 1, out);
        ASSERT_TRUE(f.has_value()) << decoder.LastError();
        EXPECT_GT(Luma(*f, 14, 14), 240);
    }
    EXPECT_EQ(decoder.Rejected(), 0U);
}

}  // namespace
}  // namespace vorlix::capture
