// From JPEG bytes to the drawn picture (effects, failures, the placeholder),
// and the saved images taken in turn.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "client/app/PicturePipeline.h"
#include "client/effects/JpegDecode.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/actions/JpegWriter.h"

namespace vorlix::client {
namespace {

using kestrel::test::TempDir;
using kestrel::test::TraceCapture;

// A 320 x 240 picture, left half dark and right half light.
std::vector<std::uint8_t> TwoHalves(int width = 320, int height = 240)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t value = x < width / 2 ? 40 : 200;
            std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
            p[0] = p[1] = p[2] = value;
        }
    }
    return rgb;
}

std::vector<std::uint8_t> Jpeg(const std::vector<std::uint8_t>& rgb, int width, int height)
{
    std::vector<std::uint8_t> jpeg;
    EXPECT_TRUE(EncodeJpeg(rgb, width, height, 95, "a comment", jpeg));
    return jpeg;
}

TEST(PicturePipelineTest, LivePictureGoesThroughTheEffects)
{
    PicturePipeline pipeline("/nonexistent/filetemp.jpg");
    DisplayBuffer picture;
    EffectSettings effects;
    effects.blackAndWhite = true;
    effects.biColor = true;
    const auto description = pipeline.Render(Jpeg(TwoHalves(), 320, 240), effects, picture);
    ASSERT_TRUE(description.has_value());
    EXPECT_EQ(*description, "a comment    Dimensions : 320 x 240");
    EXPECT_EQ(picture.Row(0)[0], 0);
    EXPECT_EQ(picture.Row(0)[std::size_t{3} * 319], 255);
}

TEST(PicturePipelineTest, UndecodablePictureIsTracedAndTheOldOneKept)
{
    const TraceCapture trace;
    PicturePipeline pipeline("/nonexistent/filetemp.jpg");
    DisplayBuffer picture;
    ASSERT_TRUE(pipeline.Render(Jpeg(TwoHalves(), 320, 240), {}, picture).has_value());
    const std::vector<std::uint8_t> junk(3000, 0x5A);
    EXPECT_FALSE(pipeline.Render(junk, {}, picture).has_value());
    EXPECT_EQ(trace.Count("error during access jpg file (74)", 0), 1);  // EBADMSG
    EXPECT_EQ(trace.Count("      (74,", 0), 1);
    EXPECT_EQ(picture.Width(), 320);
    EXPECT_GT(picture.Row(0)[std::size_t{3} * 319], 190);  // still the light half
}

TEST(PicturePipelineTest, TooLargePictureIsRefusedWithATrace)
{
    const TraceCapture trace;
    PicturePipeline pipeline("");
    DisplayBuffer picture;
    std::vector<std::uint8_t> jpeg;
    ASSERT_TRUE(EncodeJpeg(std::vector<std::uint8_t>(std::size_t{4100} * 8 * 3, 90), 4100, 8, 50, "", jpeg));
    EXPECT_FALSE(pipeline.Render(jpeg, {}, picture).has_value());
    EXPECT_EQ(trace.Count("picture too large (4100 x 8), at most 4096 x 4096", 0), 1);
    EXPECT_TRUE(picture.Empty());
}

TEST(PicturePipelineTest, NoBytesMeansThePlaceholderFileOfTheLanguage)
{
    const TempDir dir;
    EXPECT_EQ(PlaceholderPath(dir.Path(), "fr"), dir.Path() + "/fr/filetemp.jpg");
    EXPECT_EQ(PlaceholderPath(dir.Path(), ""), dir.Path() + "/filetemp.jpg");
    PicturePipeline pipeline(PlaceholderPath(dir.Path(), ""));
    DisplayBuffer picture;
    EXPECT_FALSE(pipeline.Render({}, {}, picture).has_value());  // missing: nothing drawn
    const std::vector<std::uint8_t> jpeg = Jpeg(TwoHalves(64, 32), 64, 32);
    dir.Write("filetemp.jpg", std::string(jpeg.begin(), jpeg.end()));
    ASSERT_TRUE(pipeline.Render({}, {}, picture).has_value());
    EXPECT_EQ(picture.Width(), 64);
}

TEST(ImageSaverTest, TenFilesInTurnThenTheFirstAgain)
{
    const TempDir dir;
    ASSERT_EQ(::mkdir(dir.File("files").c_str(), 0755), 0);
    DisplayBuffer picture;
    PicturePipeline pipeline("");
    ASSERT_TRUE(pipeline.Render(Jpeg(TwoHalves(), 320, 240), {}, picture).has_value());
    ImageSaver saver(dir.Path());
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(saver.NextPath(), dir.File("files/cl_vorlix_save_" + std::to_string(i) + ".jpg"));
        ASSERT_TRUE(saver.Save(picture, "Vorlix ==> %s Quality : %d%%"));
    }
    const std::string first = dir.Read("files/cl_vorlix_save_0.jpg");
    // The eleventh overwrites number 0 with the (now reversed) picture.
    ReverseColor(picture);
    EXPECT_EQ(saver.NextPath(), dir.File("files/cl_vorlix_save_0.jpg"));
    ASSERT_TRUE(saver.Save(picture, "Vorlix ==> %s Quality : %d%%"));
    EXPECT_NE(dir.Read("files/cl_vorlix_save_0.jpg"), first);

    const std::string saved = dir.Read("files/cl_vorlix_save_1.jpg");
    DisplayBuffer back;
    const DecodeResult decoded =
        DecodeJpeg(std::span(reinterpret_cast<const std::uint8_t*>(saved.data()), saved.size()), false, back);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.comment, "Vorlix ==> client Quality : 100%");
    EXPECT_EQ(back.Width(), 320);
    EXPECT_EQ(back.Height(), 240);
}

TEST(ImageSaverTest, MissingFilesDirectoryIsReportedAndNothingSaved)
{
    const TempDir dir;
    DisplayBuffer picture;
    ASSERT_TRUE(picture.Resize(16, 16));
    ImageSaver saver(dir.Path());
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(saver.Save(picture, "%s %d"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "can't open " + dir.Path() + "/files/cl_vorlix_save_0.jpg for writing. continue\n");
    EXPECT_EQ(saver.NextPath(), dir.File("files/cl_vorlix_save_1.jpg"));
}

TEST(ImageSaverTest, NothingToSaveBeforeTheFirstPicture)
{
    const TempDir dir;
    ImageSaver saver(dir.Path());
    EXPECT_FALSE(saver.Save(DisplayBuffer{}, "%s %d"));
    EXPECT_EQ(saver.Count(), 0);
}

}  // namespace
}  // namespace vorlix::client
