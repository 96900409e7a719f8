// The stamp font, the stamp's place and the JPEG writer, checked by decoding
// the written files with libjpeg.
#include <gtest/gtest.h>

#include <cerrno>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "serveur/actions/Font6x6.h"
#include "serveur/actions/JpegWriter.h"
#include "serveur/actions/StampImage.h"
#include "serveur/actions/StampedPicture.h"
#include "serveur/actions/tests/JpegRead.h"

namespace fs = std::filesystem;

namespace vorlix {
namespace {

std::vector<std::uint8_t> Grey(int width, int height, std::uint8_t value = 128)
{
    return std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3, value);
}

std::uint8_t At(const std::vector<std::uint8_t>& rgb, int width, int x, int y, int c = 0)
{
    return rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c];
}

std::tm Clock(int hour, int minute, int second)
{
    std::tm local{};
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    return local;
}

TEST(Font6x6, EveryNeededCharacterHasAGlyph)
{
    for (char c = 'A'; c <= 'Z'; ++c) {
        ASSERT_NE(Glyph6x6(c), nullptr) << c;
        EXPECT_EQ(Glyph6x6(static_cast<char>(c - 'A' + 'a')), Glyph6x6(c));
        int lit = 0;
        for (int row = 0; row < 6; ++row) {
            lit += __builtin_popcount(Glyph6x6(c)[row]);
            EXPECT_EQ(Glyph6x6(c)[row] & 1, 0) << "column 5 stays blank for the outline of the next";
        }
        EXPECT_GT(lit, 0) << c;
    }
    for (char c : std::string("0123456789:-")) {
        ASSERT_NE(Glyph6x6(c), nullptr) << c;
    }
    ASSERT_NE(Glyph6x6(' '), nullptr);
    EXPECT_EQ(Glyph6x6('#'), nullptr);
    EXPECT_EQ(Glyph6x6('\xe9'), nullptr);
}

TEST(Font6x6, WhitePixelsWithBlackOutline)
{
    const int width = 40;
    const int height = 20;
    auto image = Grey(width, height);
    DrawText6x6(image, width, height, 3, 5, "-");  // row 2, columns 1..3 of the glyph
    for (int x = 4; x <= 6; ++x) {
        EXPECT_EQ(At(image, width, x, 7), 255);
        EXPECT_EQ(At(image, width, x, 6), 0);
        EXPECT_EQ(At(image, width, x, 8), 0);
    }
    EXPECT_EQ(At(image, width, 3, 7), 0);
    EXPECT_EQ(At(image, width, 7, 7), 0);
    EXPECT_EQ(At(image, width, 3, 6), 128);  // the diagonal is not outlined
    EXPECT_EQ(At(image, width, 4, 7, 2), 255);
}

TEST(Font6x6, UnknownCharactersAdvanceAndTheEdgeStopsDrawing)
{
    const int width = 30;
    auto image = Grey(width, 10);
    DrawText6x6(image, width, 10, 0, 2, "#I#I");
    // '#' draws nothing; the first I sits at 6, the second at 18
    EXPECT_EQ(At(image, width, 0, 2), 128);
    EXPECT_EQ(At(image, width, 6, 2), 255);
    EXPECT_EQ(At(image, width, 18, 2), 255);
    auto narrow = Grey(width, 10);
    DrawText6x6(narrow, width, 10, 18, 2, "II");  // the second would end at 30
    EXPECT_EQ(At(narrow, width, 18, 2), 255);
    EXPECT_EQ(At(narrow, width, 24, 2), 128);
    // clipped at the bottom without writing outside the buffer
    DrawText6x6(narrow, width, 10, 0, 7, "I");
    EXPECT_EQ(At(narrow, width, 0, 7), 255);
}

TEST(Stamp, TextAndColumn)
{
    EXPECT_EQ(StampText("Vorlix", 17, Clock(14, 5, 9)), "Vorlix 14:05:09-17");
    EXPECT_EQ(StampText("Vorlix", 0, Clock(0, 0, 0)), "Vorlix 00:00:00");
    EXPECT_EQ(StampColumn(640, 18), 640 - 10 - 108);
    EXPECT_EQ(StampColumn(100, 18), 0);
    EXPECT_EQ(StampColumn(20, 18), 10);
}

class JpegFiles : public ::testing::Test {
protected:
    void SetUp() override { dir_ = temp_.Path(); }
    std::vector<std::string> Leftovers() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            if (entry.path().filename().string().front() == '.') {
                names.push_back(entry.path().filename());
            }
        }
        return names;
    }
    kestrel::test::TempDir temp_{"jpeg_test"};
    fs::path dir_;
};

TEST(JpegComment, FormatsOnlyItsOwnPlaceholders)
{
    EXPECT_EQ(JpegComment("Vorlix ==> %s Quality : %d%%", "Z_1_IN_CENTER (130) ", 30),
              "Vorlix ==> Z_1_IN_CENTER (130)  Quality : 30%");
    EXPECT_EQ(JpegComment("%n %x %s%", "L", 5), "%n %x L%");
}

TEST_F(JpegFiles, WrittenFileDecodesWithSizeCommentAndStamp)
{
    const int width = 320;
    const int height = 240;
    auto image = Grey(width, height);
    const std::tm local = Clock(14, 5, 9);
    StampImage(image, width, height, "Vorlix", 17, local);
    const std::string path = (dir_ / "vorlix_1.jpg").string();
    const std::string comment = JpegComment("Vorlix ==> %s Quality : %d%%", "Z_1_IN_CENTER (130) ", 95);
    ASSERT_TRUE(WriteJpeg(image, path, 95, width, height, comment));

    const test::DecodedJpeg decoded = test::ReadJpeg(path);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.width, width);
    EXPECT_EQ(decoded.height, height);
    EXPECT_EQ(decoded.components, 3);
    EXPECT_FALSE(decoded.progressive);
    ASSERT_EQ(decoded.comments.size(), 1U);
    EXPECT_EQ(decoded.comments[0], "Vorlix ==> Z_1_IN_CENTER (130)  Quality : 95%");
    EXPECT_TRUE(Leftovers().empty());

    // Every glyph pixel of "Vorlix 14:05:09-17" is bright and every outline
    // pixel dark, at row height - 20, right-aligned 10 pixels from the edge.
    const std::string text = StampText("Vorlix", 17, local);
    const int left = StampColumn(width, text.size());
    ASSERT_EQ(left, width - 10 - 6 * static_cast<int>(text.size()));
    long brightSum = 0;
    long brightCount = 0;
    long darkSum = 0;
    long darkCount = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint8_t* glyph = Glyph6x6(text[i]);
        ASSERT_NE(glyph, nullptr);
        for (int row = 0; row < 6; ++row) {
            for (int column = 0; column < 6; ++column) {
                const int x = left + static_cast<int>(i) * 6 + column;
                const int y = height - 20 + row;
                const bool lit = (glyph[row] & (0x20 >> column)) != 0;
                EXPECT_EQ(At(image, width, x, y), lit ? 255 : At(image, width, x, y));
                if (lit) {
                    brightSum += At(decoded.rgb, width, x, y);
                    ++brightCount;
                } else if (At(image, width, x, y) == 0) {
                    darkSum += At(decoded.rgb, width, x, y);
                    ++darkCount;
                }
            }
        }
    }
    ASSERT_GT(brightCount, 50);
    ASSERT_GT(darkCount, 50);
    EXPECT_GT(brightSum / brightCount, 200);
    EXPECT_LT(darkSum / darkCount, 70);
    // far from the stamp the picture is its grey
    EXPECT_NEAR(At(decoded.rgb, width, 20, 20), 128, 3);
    EXPECT_NEAR(At(decoded.rgb, width, 20, height - 18), 128, 3);
}

TEST_F(JpegFiles, EmptyCommentWritesNoMarkerAndQualityIsHonoured)
{
    const int width = 64;
    const int height = 48;
    std::vector<std::uint8_t> image(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>((i * 37) ^ (i >> 5));
    }
    const std::string low = (dir_ / "low.jpg").string();
    const std::string high = (dir_ / "high.jpg").string();
    ASSERT_TRUE(WriteJpeg(image, low, 10, width, height, ""));
    ASSERT_TRUE(WriteJpeg(image, high, 150, width, height, ""));  // taken as 100
    EXPECT_TRUE(test::ReadJpeg(low).comments.empty());
    EXPECT_LT(fs::file_size(low), fs::file_size(high));
    EXPECT_TRUE(test::ReadJpeg(high).ok);
}

TEST_F(JpegFiles, MissingDirectoryFailsWithTheReason)
{
    const auto image = Grey(16, 16);
    const std::string path = (dir_ / "no_such_dir" / "vorlix_1.jpg").string();
    int error = 0;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(WriteJpeg(image, path, 30, 16, 16, "x", nullptr, &error));
    // said by the caller once per failure streak, not by every write
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(WriteJpeg(image, (dir_ / "short.jpg").string(), 30, 16, 17, "x", nullptr, &error));  // too small
    EXPECT_EQ(error, EINVAL);
}

TEST_F(JpegFiles, FailedWriteLeavesThePreviousPictureIntact)
{
    const std::string path = (dir_ / "vorlix_3.jpg").string();
    const auto small = Grey(16, 16, 40);
    ASSERT_TRUE(WriteJpeg(small, path, 30, 16, 16, "old"));
    const auto before = fs::file_size(path);

    // A file-size limit below the new picture's size makes the write fail
    // half-way, as a full disk would.
    std::vector<std::uint8_t> noisy(std::size_t{400} * 300 * 3);
    for (std::size_t i = 0; i < noisy.size(); ++i) {
        noisy[i] = static_cast<std::uint8_t>(std::rand());
    }
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool written = WriteJpeg(noisy, path, 90, 400, 300, "new");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(fs::file_size(path), before);
    const test::DecodedJpeg decoded = test::ReadJpeg(path);
    ASSERT_TRUE(decoded.ok);
    ASSERT_EQ(decoded.comments.size(), 1U);
    EXPECT_EQ(decoded.comments[0], "old");
    EXPECT_TRUE(Leftovers().empty());
}

std::vector<char> Bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(JpegFiles, OnePassPictureEqualsCopyStampThenWrite)
{
    for (const auto& [width, height] : {std::pair{320, 240}, std::pair{97, 35}, std::pair{40, 12}}) {
        std::vector<std::uint8_t> frame(static_cast<std::size_t>(width) * height * 3);
        for (std::size_t i = 0; i < frame.size(); ++i) {
            frame[i] = static_cast<std::uint8_t>(i * 7 + i / 300);
        }
        StampRequest stamp;
        stamp.number = 42;
        stamp.local = Clock(23, 59, 58);
        std::vector<std::uint8_t> annotated(frame.size() + 16, 1);  // larger, as the camera's buffers are
        const fs::path onePass = dir_ / "one.jpg";
        ASSERT_TRUE(WriteFramePicture(frame, annotated, width, height, &stamp, onePass, 60, "c"));

        std::vector<std::uint8_t> expected = frame;
        StampImage(expected, width, height, "Vorlix", 42, stamp.local);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), annotated.begin())) << width;
        const fs::path twoPass = dir_ / "two.jpg";
        ASSERT_TRUE(WriteJpeg(expected, twoPass, 60, width, height, "c"));
        EXPECT_EQ(Bytes(onePass), Bytes(twoPass)) << width;

        // without stamp: the plain copy
        ASSERT_TRUE(WriteFramePicture(frame, annotated, width, height, nullptr, onePass, 90, ""));
        EXPECT_TRUE(std::equal(frame.begin(), frame.end(), annotated.begin()));
    }
    // a failed write still leaves the annotated image complete
    const auto frame = Grey(32, 32, 77);
    std::vector<std::uint8_t> annotated(frame.size(), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(WriteFramePicture(frame, annotated, 32, 32, nullptr, (dir_ / "none" / "x.jpg").string(), 30, ""));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(annotated, frame);
}

}  // namespace
}  // namespace vorlix
