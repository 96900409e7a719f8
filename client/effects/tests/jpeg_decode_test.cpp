// JPEG pictures from memory into the display buffer: layout, comment, grey
// output, truncated pictures, broken data without a word on stderr, and the
// size limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "client/effects/JpegDecode.h"
#include "libkestrel/framework/UniqueFd.h"
#include "serveur/actions/JpegWriter.h"

namespace vorlix::client {
namespace {

// Top-down RGB: red grows to the right, green downwards, blue is a checker.
std::vector<std::uint8_t> Pattern(int width, int height)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
            p[0] = static_cast<std::uint8_t>(x * 255 / (width > 1 ? width - 1 : 1));
            p[1] = static_cast<std::uint8_t>(y * 255 / (height > 1 ? height - 1 : 1));
            p[2] = ((x / 8 + y / 8) % 2) != 0 ? 200 : 40;
        }
    }
    return rgb;
}

std::vector<std::uint8_t> Encode(int width, int height, const std::string& comment = "", int quality = 95)
{
    std::vector<std::uint8_t> jpeg;
    EXPECT_TRUE(EncodeJpeg(Pattern(width, height), width, height, quality, comment, jpeg));
    return jpeg;
}

// libjpeg's own memory source, as a reference decoding (top-down RGB).
std::vector<std::uint8_t> ReferenceDecode(const std::vector<std::uint8_t>& jpeg)
{
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(info.output_width) * info.output_height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = rgb.data() + static_cast<std::size_t>(info.output_scanline) * info.output_width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return rgb;
}

// Runs `body` with standard error going to a file; returns what was written.
template <class Body>
std::string StderrOf(Body body)
{
    char path[] = "/tmp/viewer_stderr_XXXXXX";
    const kestrel::UniqueFd file(::mkstemp(path));
    std::fflush(stderr);
    {
        const kestrel::UniqueFd saved(::dup(2));
        ::dup2(file.Get(), 2);
        body();
        std::fflush(stderr);
        ::dup2(saved.Get(), 2);
    }
    std::string text;
    ::lseek(file.Get(), 0, SEEK_SET);
    char buffer[256];
    ssize_t count = 0;
    while ((count = ::read(file.Get(), buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(count));
    }
    ::unlink(path);
    return text;
}

TEST(JpegDecodeTest, RowsAreBottomFirstBlueGreenRedAndMatchLibjpeg)
{
    // Large enough to need several 4096-byte pieces from the source.
    const std::vector<std::uint8_t> jpeg = Encode(203, 150, "", 100);
    ASSERT_GT(jpeg.size(), 3 * kJpegSourcePiece);
    DisplayBuffer picture;
    const DecodeResult result = DecodeJpeg(jpeg, false, picture);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_FALSE(result.truncated);
    EXPECT_EQ(picture.Width(), 203);
    EXPECT_EQ(picture.Height(), 150);
    EXPECT_EQ(picture.TopDownRgb(), ReferenceDecode(jpeg));
    // The top-left pixel (little red, little green) sits in the last row.
    const std::uint8_t* topLeft = picture.Row(149);
    EXPECT_LT(topLeft[2], 20);  // red
    const std::uint8_t* bottomRight = picture.Row(0) + std::size_t{3} * 202;
    EXPECT_GT(bottomRight[2], 235);  // red
    EXPECT_GT(bottomRight[1], 235);  // green
}

TEST(JpegDecodeTest, CommentGivesTheDescription)
{
    DisplayBuffer picture;
    const DecodeResult result = DecodeJpeg(Encode(32, 24, "Vorlix ==> client Quality : 100%"), false, picture);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.comment, "Vorlix ==> client Quality : 100%");
    EXPECT_EQ(PictureDescription(result.comment, result.width, result.height),
              "Vorlix ==> client Quality : 100%    Dimensions : 32 x 24");
    EXPECT_EQ(DecodeJpeg(Encode(8, 8), false, picture).comment, "");
}

TEST(JpegDecodeTest, GreyOutputFillsAllThreeChannels)
{
    DisplayBuffer picture;
    ASSERT_TRUE(DecodeJpeg(Encode(40, 30), true, picture).ok);
    bool varied = false;
    for (std::size_t i = 0; i < picture.Bytes(); i += 3) {
        ASSERT_EQ(picture.Data()[i], picture.Data()[i + 1]);
        ASSERT_EQ(picture.Data()[i], picture.Data()[i + 2]);
        varied = varied || picture.Data()[i] != picture.Data()[0];
    }
    EXPECT_TRUE(varied);
}

TEST(JpegDecodeTest, TruncatedPictureStillDecodesWithItsEndSupplied)
{
    const std::vector<std::uint8_t> jpeg = Encode(64, 64, "", 100);
    const std::vector<std::uint8_t> half(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2));
    DisplayBuffer picture;
    DecodeResult result;
    EXPECT_EQ(StderrOf([&] { result = DecodeJpeg(half, false, picture); }), "");
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(result.truncated);
    EXPECT_EQ(picture.Width(), 64);
    // The top rows arrived and are the picture's.
    const std::vector<std::uint8_t> full = ReferenceDecode(jpeg);
    EXPECT_TRUE(std::equal(full.begin(), full.begin() + std::ptrdiff_t{64} * 3 * 8, picture.TopDownRgb().begin()));
}

TEST(JpegDecodeTest, BrokenDataFailsWithoutAWordOnStderr)
{
    DisplayBuffer picture;
    std::vector<std::uint8_t> junk(5000);
    for (std::size_t i = 0; i < junk.size(); ++i) {
        junk[i] = static_cast<std::uint8_t>(i * 13);
    }
    const std::vector<std::uint8_t> jpeg = Encode(16, 16);
    const std::vector<std::uint8_t> headerOnly(jpeg.begin(), jpeg.begin() + 20);
    std::vector<std::uint8_t> corrupt = jpeg;
    for (std::size_t i = corrupt.size() / 2; i < corrupt.size() - 2; i += 7) {
        corrupt[i] = 0xFF;  // markers in the middle of the coded data: warnings
    }
    DecodeResult junkResult;
    DecodeResult emptyResult;
    DecodeResult headerResult;
    const std::string printed = StderrOf([&] {
        junkResult = DecodeJpeg(junk, false, picture);
        emptyResult = DecodeJpeg({}, false, picture);
        headerResult = DecodeJpeg(headerOnly, false, picture);
        DecodeJpeg(corrupt, false, picture);
    });
    EXPECT_EQ(printed, "");
    EXPECT_FALSE(junkResult.ok);
    EXPECT_FALSE(junkResult.error.empty());
    EXPECT_FALSE(emptyResult.ok);
    EXPECT_FALSE(headerResult.ok);
}

TEST(JpegDecodeTest, PicturesWiderThan4096AreRefused)
{
    DisplayBuffer picture;
    const DecodeResult wide = DecodeJpeg(Encode(4097, 8), false, picture);
    EXPECT_FALSE(wide.ok);
    EXPECT_TRUE(wide.tooLarge);
    EXPECT_EQ(wide.width, 4097);
    EXPECT_TRUE(picture.Empty());
    const DecodeResult edge = DecodeJpeg(Encode(4096, 8), false, picture);
    EXPECT_TRUE(edge.ok);
    EXPECT_EQ(picture.Width(), 4096);
}

TEST(JpegDecodeTest, OddWidthsKeepTheirRows)
{
    for (const int width : {1, 3, 33, 641}) {
        const std::vector<std::uint8_t> jpeg = Encode(width, 9, "", 100);
        DisplayBuffer picture;
        ASSERT_TRUE(DecodeJpeg(jpeg, false, picture).ok) << width;
        EXPECT_EQ(picture.TopDownRgb(), ReferenceDecode(jpeg)) << width;
    }
}

}  // namespace
}  // namespace vorlix::client
