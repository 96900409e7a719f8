// The rotating set of detection pictures, "last.jpg" and the saved pictures,
// each decoded with libjpeg.
#include <gtest/gtest.h>

#include <cerrno>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "serveur/actions/DetectionPictures.h"
#include "serveur/actions/Font6x6.h"
#include "serveur/actions/StampImage.h"
#include "serveur/actions/tests/JpegRead.h"
#include "serveur/core/FrameToRgb.h"
#include "serveur/core/PictureNames.h"
#include "serveur/core/PixelFormat.h"

namespace fs = std::filesystem;

namespace vorlix {
namespace {

class DetectionPicturesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = temp_.Path();
        frame_.assign(static_cast<std::size_t>(kWidth) * kHeight * 3, 90);
        annotated_.assign(static_cast<std::size_t>(kWidth) * kHeight * 4, 0);
        picture_.rgb = frame_;
        picture_.annotated = annotated_;
        picture_.width = kWidth;
        picture_.height = kHeight;
        local_.tm_hour = 14;
        local_.tm_min = 5;
        local_.tm_sec = 9;
    }

    static constexpr int kWidth = 160;
    static constexpr int kHeight = 120;
    kestrel::test::TempDir temp_{"pictures_test"};
    fs::path dir_;
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> annotated_;
    FramePicture picture_;
    std::tm local_{};
};

TEST_F(DetectionPicturesTest, MaxJpgThreeRotatesThroughTheSlots)
{
    const int maxJpg = 3;
    int shots = 0;
    std::vector<int> numbers;
    for (int i = 1; i <= 4; ++i) {
        const int number = NextPictureNumber(shots, maxJpg);
        const std::string path = PicturePath(dir_.string(), number);
        EXPECT_TRUE(WriteDetectionPicture(picture_, path, shots + 1, 30, "event " + std::to_string(i), local_));
        numbers.push_back(number);
        EXPECT_EQ(path, dir_.string() + "/vorlix_" + std::to_string(number) + ".jpg");
        EXPECT_EQ(SoundPath(dir_.string(), number), dir_.string() + "/vorlix_" + std::to_string(number) + ".wav");
        ++shots;
    }
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 0, 1}));
    EXPECT_EQ(NextPictureNumber(7, 0), 0);  // a set without a slot
    const test::DecodedJpeg first = test::ReadJpeg((dir_ / "vorlix_1.jpg").string());
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.comments, (std::vector<std::string>{"event 4"}));  // overwritten by the fourth
    EXPECT_EQ(test::ReadJpeg((dir_ / "vorlix_0.jpg").string()).comments, (std::vector<std::string>{"event 3"}));
    EXPECT_EQ(test::ReadJpeg((dir_ / "vorlix_2.jpg").string()).comments, (std::vector<std::string>{"event 2"}));
    // the annotated image holds the stamp of the fourth shot
    std::vector<std::uint8_t> expected = frame_;
    StampImage(expected, kWidth, kHeight, "Vorlix", 4, local_);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), annotated_.begin()));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
}

TEST_F(DetectionPicturesTest, FailedWriteSaysWhyAndStillLeavesTheAnnotatedImage)
{
    int error = 0;
    const bool written =
        WriteDetectionPicture(picture_, PicturePath((dir_ / "missing").string(), 10), 10, 30, "x", local_, &error);
    EXPECT_FALSE(written);
    EXPECT_EQ(error, ENOENT);
    std::vector<std::uint8_t> expected = frame_;
    StampImage(expected, kWidth, kHeight, "Vorlix", 10, local_);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), annotated_.begin()));
}

TEST_F(DetectionPicturesTest, RefreshPictureIsStampedWithoutNumberOrComment)
{
    const std::string path = RefreshPicturePath(dir_.string());
    EXPECT_EQ(path, dir_.string() + "/last.jpg");
    EXPECT_TRUE(WriteRefreshPicture(picture_, path, 30, local_));
    const test::DecodedJpeg decoded = test::ReadJpeg(path);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.width, kWidth);
    EXPECT_EQ(decoded.height, kHeight);
    EXPECT_TRUE(decoded.comments.empty());
    std::vector<std::uint8_t> expected = frame_;
    StampImage(expected, kWidth, kHeight, "Vorlix", 0, local_);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), annotated_.begin()));
    // "Vorlix 14:05:09": its first glyph column starts 10 + 6 x 15 pixels from the right edge
    const int left = kWidth - 10 - 6 * 15;
    EXPECT_EQ(annotated_[(static_cast<std::size_t>(kHeight - 20) * kWidth + left) * 3], 255);  // V's top left
}

TEST_F(DetectionPicturesTest, SavedPicturesAreNumberedFromOneWithoutStamp)
{
    EXPECT_EQ(SavedPicturePath(dir_.string(), 1, 500), dir_.string() + "/vorlix_save_1.jpg");
    EXPECT_EQ(SavedPicturePath(dir_.string(), 502, 500), dir_.string() + "/vorlix_save_2.jpg");
    EXPECT_TRUE(WriteSavedPicture(picture_, SavedPicturePath(dir_.string(), 1, 500)));
    EXPECT_TRUE(WriteSavedPicture(picture_, SavedPicturePath(dir_.string(), 2, 500)));
    EXPECT_TRUE(fs::exists(dir_ / "vorlix_save_2.jpg"));
    EXPECT_TRUE(std::equal(frame_.begin(), frame_.end(), annotated_.begin()));
    const test::DecodedJpeg decoded = test::ReadJpeg(dir_.string() + "/vorlix_save_1.jpg");
    ASSERT_TRUE(decoded.ok);
    EXPECT_TRUE(decoded.comments.empty());
    EXPECT_NEAR(decoded.rgb[(static_cast<std::size_t>(kHeight - 20) * kWidth + 60) * 3], 90, 4);  // no stamp
}

}  // namespace
}  // namespace vorlix

namespace vorlix {
namespace {

// A colourful tight I420 frame (odd-sized chroma blocks: 166 x 94) and the
// same frame as RGB through the engine's conversion.
struct ColourFrame {
    static constexpr int kW = 166, kH = 94;
    std::vector<std::uint8_t> i420, rgb;
    ColourFrame()
    {
        const std::size_t luma = static_cast<std::size_t>(kW) * kH;
        const std::size_t chroma = static_cast<std::size_t>(kW / 2) * (kH / 2);
        i420.resize(luma + 2 * chroma);
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                i420[static_cast<std::size_t>(y) * kW + x] = static_cast<std::uint8_t>(40 + (x + 2 * y) % 160);
            }
        }
        for (std::size_t c = 0; c < chroma; ++c) {
            i420[luma + c] = static_cast<std::uint8_t>(90 + (c / 83) % 60);
            i420[luma + chroma + c] = static_cast<std::uint8_t>(170 - (c % 83) / 2);
        }
        EXPECT_TRUE(ConvertFrameToRgb(i420, kW, kH, kFourccI420, kTopDown, rgb));
    }
};

TEST_F(DetectionPicturesTest, I420FramesAreWrittenFromTheirPlanesStampedWithTheComment)
{
    const ColourFrame colour;
    std::vector<std::uint8_t> annotated(static_cast<std::size_t>(ColourFrame::kW) * ColourFrame::kH * 4);
    FramePicture planes;
    planes.i420 = colour.i420;
    planes.annotated = annotated;
    planes.width = ColourFrame::kW;
    planes.height = ColourFrame::kH;
    const std::string yuvPath = (dir_ / "vorlix_1.jpg").string();
    ASSERT_TRUE(WriteDetectionPicture(planes, yuvPath, 7, 80, "Vorlix ==> IN1 (42)", local_));

    std::vector<std::uint8_t> rgbAnnotated(annotated.size());
    FramePicture rgb;
    rgb.rgb = colour.rgb;
    rgb.annotated = rgbAnnotated;
    rgb.width = ColourFrame::kW;
    rgb.height = ColourFrame::kH;
    const std::string rgbPath = (dir_ / "vorlix_2.jpg").string();
    ASSERT_TRUE(WriteDetectionPicture(rgb, rgbPath, 7, 80, "Vorlix ==> IN1 (42)", local_));

    const test::DecodedJpeg fromPlanes = test::ReadJpeg(yuvPath);
    const test::DecodedJpeg fromRgb = test::ReadJpeg(rgbPath);
    ASSERT_TRUE(fromPlanes.ok);
    ASSERT_TRUE(fromRgb.ok);
    EXPECT_EQ(fromPlanes.width, ColourFrame::kW);
    EXPECT_EQ(fromPlanes.height, ColourFrame::kH);
    EXPECT_EQ(fromPlanes.comments, (std::vector<std::string>{"Vorlix ==> IN1 (42)"}));
    // The same picture to the eye: the planes are taken as full-range
    // YCbCr, the RGB route as video range, so contrast differs a little
    // and nothing else. The stamp is where the RGB route puts it.
    const std::string text = StampText("Vorlix", 7, local_);
    const int left = StampColumn(ColourFrame::kW, text.size());
    const int top = ColourFrame::kH - 20;
    double differenceOutside = 0;
    int outside = 0;
    for (int y = 0; y < ColourFrame::kH; ++y) {
        for (int x = 0; x < ColourFrame::kW; ++x) {
            const bool stamp = y >= top - 1 && y <= top + 6 && x >= left - 1;
            const auto at = static_cast<std::size_t>(y * ColourFrame::kW + x) * 3;
            for (int c = 0; c < 3; ++c) {
                const int d = std::abs(fromPlanes.rgb[at + c] - fromRgb.rgb[at + c]);
                if (!stamp) {
                    differenceOutside += d;
                    ++outside;
                }
            }
        }
    }
    EXPECT_LT(differenceOutside / outside, 20.0);
    // The first glyph ("V") is white on a black outline in both.
    const auto pixel = [](const test::DecodedJpeg& j, int x, int y) {
        const auto at = static_cast<std::size_t>(y * j.width + x) * 3;
        return (j.rgb[at] + j.rgb[at + 1] + j.rgb[at + 2]) / 3;
    };
    EXPECT_GT(pixel(fromPlanes, left, top), 200);
    EXPECT_LT(pixel(fromPlanes, left - 1, top), 60);
    EXPECT_GT(pixel(fromRgb, left, top), 200);
    // The annotated image is the stamped I420 copy.
    EXPECT_EQ(annotated[static_cast<std::size_t>(top * ColourFrame::kW + left)], 255);
    EXPECT_EQ(annotated[0], colour.i420[0]);
}

TEST_F(DetectionPicturesTest, I420PicturesRefuseShortFramesAndShortAnnotatedImages)
{
    const ColourFrame colour;
    std::vector<std::uint8_t> annotated(colour.i420.size());  // no room for the compressor's read past the end
    FramePicture planes;
    planes.i420 = colour.i420;
    planes.annotated = annotated;
    planes.width = ColourFrame::kW;
    planes.height = ColourFrame::kH;
    EXPECT_FALSE(WriteRefreshPicture(planes, (dir_ / "last.jpg").string(), 50, local_));
    std::vector<std::uint8_t> roomy(colour.i420.size() * 2);
    planes.annotated = roomy;
    planes.i420 = std::span<const std::uint8_t>(colour.i420).first(colour.i420.size() - 1);
    EXPECT_FALSE(WriteSavedPicture(planes, (dir_ / "saved.jpg").string()));
    EXPECT_FALSE(fs::exists(dir_ / "last.jpg"));
    EXPECT_FALSE(fs::exists(dir_ / "saved.jpg"));
}

}  // namespace
}  // namespace vorlix
