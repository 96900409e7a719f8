// The rotating set of detection pictures, "last.jpg" and the saved pictures,
// each decoded with libjpeg.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "serveur/actions/DetectionPictures.h"
#include "serveur/actions/Font6x6.h"
#include "serveur/actions/StampImage.h"
#include "serveur/actions/tests/JpegRead.h"

namespace fs = std::filesystem;

namespace vorlix {
namespace {

class DetectionPicturesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/pictures_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        frame_.assign(static_cast<std::size_t>(kWidth) * kHeight * 3, 90);
        annotated_.assign(static_cast<std::size_t>(kWidth) * kHeight * 4, 0);
        job_.frame = frame_;
        job_.annotated = annotated_;
        job_.width = kWidth;
        job_.height = kHeight;
        job_.pictureDir = dir_.string();
        job_.quality = 30;
        local_.tm_hour = 14;
        local_.tm_min = 5;
        local_.tm_sec = 9;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    static constexpr int kWidth = 160;
    static constexpr int kHeight = 120;
    fs::path dir_;
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> annotated_;
    PictureJob job_;
    std::tm local_{};
};

TEST_F(DetectionPicturesTest, MaxJpgThreeRotatesThroughTheSlots)
{
    job_.maxJpg = 3;
    int shots = 0;
    std::vector<int> numbers;
    for (int i = 1; i <= 4; ++i) {
        const DetectionFiles files = WriteDetectionPicture(job_, shots, "event " + std::to_string(i), local_);
        EXPECT_TRUE(files.written);
        numbers.push_back(files.number);
        EXPECT_EQ(files.jpeg, dir_.string() + "/vorlix_" + std::to_string(files.number) + ".jpg");
        EXPECT_EQ(files.wav, dir_.string() + "/vorlix_" + std::to_string(files.number) + ".wav");
    }
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 0, 1}));
    EXPECT_EQ(shots, 4);
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

TEST_F(DetectionPicturesTest, FailedWriteStillCountsTheShot)
{
    job_.pictureDir = (dir_ / "missing").string();
    int shots = 9;
    testing::internal::CaptureStderr();
    const DetectionFiles files = WriteDetectionPicture(job_, shots, "x", local_);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(files.written);
    EXPECT_EQ(files.number, 10);
    EXPECT_EQ(shots, 10);
}

TEST_F(DetectionPicturesTest, RefreshPictureIsStampedWithoutNumberOrComment)
{
    bool written = false;
    const std::string path = WriteRefreshPicture(job_, local_, &written);
    EXPECT_TRUE(written);
    EXPECT_EQ(path, dir_.string() + "/last.jpg");
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
    job_.maxJpg = 500;
    int saves = 1;
    bool written = false;
    EXPECT_EQ(WriteSavedPicture(job_, saves, &written), dir_.string() + "/vorlix_save_1.jpg");
    EXPECT_TRUE(written);
    EXPECT_EQ(WriteSavedPicture(job_, saves), dir_.string() + "/vorlix_save_2.jpg");
    EXPECT_EQ(saves, 3);
    EXPECT_TRUE(std::equal(frame_.begin(), frame_.end(), annotated_.begin()));
    const test::DecodedJpeg decoded = test::ReadJpeg(dir_.string() + "/vorlix_save_1.jpg");
    ASSERT_TRUE(decoded.ok);
    EXPECT_TRUE(decoded.comments.empty());
    EXPECT_NEAR(decoded.rgb[(static_cast<std::size_t>(kHeight - 20) * kWidth + 60) * 3], 90, 4);  // no stamp
}

}  // namespace
}  // namespace vorlix
