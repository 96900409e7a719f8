// The detection road on a real camera object: frames through ProcessFrame
// end as pictures on disk, in every engine format, and every stop sees the
// detection in the order it was registered.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "serveur/actions/VorlixActions.h"
#include "serveur/actions/tests/JpegRead.h"
#include "serveur/core/Frame.h"
#include "serveur/core/WebCam.h"

namespace fs = std::filesystem;

namespace vorlix {
namespace {

constexpr int kW = 160;
constexpr int kH = 120;

// A stop that writes down what reaches it, as the stream server, the FTP and
// mail workers and the sound recorder will.
class Recorded final : public DetectionConsumer {
public:
    Recorded(std::vector<std::string>& calls, std::string name) : calls_(calls), name_(std::move(name)) {}
    void OnClientRefresh(const PictureRequest& request) override { calls_.push_back(name_ + " " + request.path); }
    void OnDetection(const Detection& detection) override
    {
        const bool written = std::filesystem::exists(detection.picturePath);
        calls_.push_back(name_ + " " + (name_ == "record" ? detection.soundPath : detection.picturePath) +
                         (written ? "" : " (not written)"));
    }

private:
    std::vector<std::string>& calls_;
    std::string name_;
};

// Every line the events list is given, in order, in the same call list.
class EventsList final : public EventsWindow {
public:
    explicit EventsList(std::vector<std::string>& calls) : calls_(calls) {}
    void AddEntry(const std::string& line) override { calls_.push_back("event " + line); }

private:
    std::vector<std::string>& calls_;
};

class WebCamActionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = temp_.Path();
        fs::create_directory(dir_ + "/files");
        cam_.LoadConfiguration(0, dir_);
        cam_.SetDetection(true);
        actions_.LoadVocabulary([this](const std::string& text) { return cam_.Translate(text); });
        actions_.Firing().SetEventsWindow(&events_);
        // The server's order: naming, pictures, stream, workers, events, recorder.
        road_.SetClassifier(&actions_.Naming());
        road_.SetPictureWriter(&actions_.Pictures());
        road_.Add(actions_.Pictures());
        road_.Add(notify_);
        road_.Add(ftp_);
        road_.Add(actions_.Events());
        road_.Add(record_);
        cam_.SetRoad(&road_);
    }
    void TearDown() override { cam_.SetRoad(nullptr); }
    std::vector<std::string> Notified() const
    {
        std::vector<std::string> out;
        for (const std::string& call : calls_) {
            if (call.rfind("notify ", 0) == 0) {
                out.push_back(call.substr(7));
            }
        }
        return out;
    }
    void Feed(const std::vector<std::uint8_t>& pixels, int format = kFormatRgb24, int topDown = kTopDown)
    {
        Frame frame;
        frame.data = pixels;
        frame.width = kW;
        frame.height = kH;
        frame.format = format;
        frame.topDown = topDown;
        cam_.ProcessFrame(frame);
    }
    std::vector<std::uint8_t> Rgb(std::uint8_t grey, int blockX = -1) const
    {
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kW * kH * 3), grey);
        if (blockX >= 0) {
            for (int y = 30; y < 90; ++y) {
                for (int x = blockX; x < blockX + 60 && x < kW; ++x) {
                    const auto at = (static_cast<std::size_t>(y) * kW + x) * 3;
                    pixels[at] = 250;
                    pixels[at + 1] = 20;
                    pixels[at + 2] = 20;
                }
            }
        }
        return pixels;
    }

    kestrel::test::TempDir temp_{"webcam_actions"};
    std::string dir_;
    std::time_t now_ = 100000;
    WebCam cam_{[this] { return now_; }};
    std::vector<std::string> calls_;
    VorlixActions actions_;
    EventsList events_{calls_};
    Recorded notify_{calls_, "notify"};
    Recorded ftp_{calls_, "ftp"};
    Recorded record_{calls_, "record"};
    DetectionRoad road_;
};

TEST_F(WebCamActionsTest, FirstFrameWritesTheRefreshPictureAndAMovingBlockADetectionPicture)
{
    Feed(Rgb(60));
    ASSERT_EQ(Notified().size(), 1U);
    EXPECT_EQ(Notified()[0], dir_ + "/files/last.jpg");
    const test::DecodedJpeg last = test::ReadJpeg(dir_ + "/files/last.jpg");
    ASSERT_TRUE(last.ok);
    EXPECT_EQ(last.width, kW);
    EXPECT_EQ(last.height, kH);
    EXPECT_TRUE(last.comments.empty());

    for (int i = 0; i < 3; ++i) {
        ++now_;
        Feed(Rgb(60));
    }
    EXPECT_EQ(cam_.shots.load(), 0);
    ++now_;
    Feed(Rgb(60, 40));
    EXPECT_EQ(cam_.shots.load(), 1);
    ASSERT_EQ(Notified().size(), 2U);
    EXPECT_EQ(Notified()[1], dir_ + "/files/vorlix_1.jpg");
    const test::DecodedJpeg picture = test::ReadJpeg(dir_ + "/files/vorlix_1.jpg");
    ASSERT_TRUE(picture.ok);
    ASSERT_EQ(picture.comments.size(), 1U);
    EXPECT_EQ(picture.comments[0].rfind("Vorlix ==> ", 0), 0U) << picture.comments[0];
    EXPECT_NE(picture.comments[0].find("Quality : 30%"), std::string::npos) << picture.comments[0];
    // the block is red in the picture, the background stays grey
    const auto px = [&](int x, int y) { return &picture.rgb[(static_cast<std::size_t>(y) * kW + x) * 3]; };
    EXPECT_GT(px(70, 60)[0], 200);
    EXPECT_LT(px(70, 60)[1], 80);
    EXPECT_NEAR(px(150, 110)[0], 60, 8);
    EXPECT_NEAR(px(150, 110)[2], 60, 8);
}

TEST_F(WebCamActionsTest, SaveImageRequestWritesTheSavedPictureAndCounts)
{
    Feed(Rgb(60));
    const int before = cam_.saveCounter.load();
    cam_.RequestSaveImage();
    Feed(Rgb(90));
    EXPECT_EQ(cam_.saveCounter.load(), before + 1);
    const test::DecodedJpeg saved =
        test::ReadJpeg(dir_ + "/files/vorlix_save_" + std::to_string(before % cam_.MaxJpg()) + ".jpg");
    ASSERT_TRUE(saved.ok);
    EXPECT_NEAR(saved.rgb[0], 90, 3);
}

TEST_F(WebCamActionsTest, YuyvFramesGiveAColourPicture)
{
    // A YUY2 frame of pure red-ish (Y 81, U 90, V 240), as a V4L2 camera delivers it.
    std::vector<std::uint8_t> yuyv(static_cast<std::size_t>(kW * kH * 2));
    for (std::size_t i = 0; i < yuyv.size(); i += 4) {
        yuyv[i] = 81;
        yuyv[i + 1] = 90;
        yuyv[i + 2] = 81;
        yuyv[i + 3] = 240;
    }
    Feed(yuyv, kFourccYuy2);
    const test::DecodedJpeg last = test::ReadJpeg(dir_ + "/files/last.jpg");
    ASSERT_TRUE(last.ok);
    EXPECT_GT(last.rgb[0], 220);
    EXPECT_LT(last.rgb[1], 40);
    EXPECT_LT(last.rgb[2], 40);
}

TEST_F(WebCamActionsTest, EveryStopSeesTheDetectionInTheOrderOfTheRoad)
{
    cam_.UpdateSettings([](CameraSettings& s) { s.maxJpg = 3; });
    Feed(Rgb(60));
    for (int i = 0; i < 2; ++i) {
        ++now_;
        Feed(Rgb(60));
    }
    calls_.clear();
    for (int i = 0; i < 4; ++i) {
        now_ += 5;
        Feed(Rgb(60, i % 2 == 0 ? 40 : 90));
    }
    const std::string d = dir_ + "/files";
    ASSERT_EQ(cam_.shots.load(), 4);
    std::vector<std::string> pictures;
    for (std::size_t i = 0; i < calls_.size(); ++i) {
        if (calls_[i].rfind("notify ", 0) != 0) {
            continue;
        }
        // the stream is told once the picture is written, then the worker,
        // then the event is listed, then the recorder starts
        pictures.push_back(calls_[i].substr(7));
        ASSERT_LT(i + 3, calls_.size());
        EXPECT_EQ(calls_[i + 1], "ftp " + pictures.back());
        EXPECT_EQ(calls_[i + 2].rfind("event ", 0), 0U) << calls_[i + 2];
        std::size_t next = i + 2;
        while (next < calls_.size() && calls_[next].rfind("event ", 0) == 0) {
            ++next;  // the event's entry, its sound, its Execute line
        }
        ASSERT_LT(next, calls_.size());
        const std::string sound = pictures.back().substr(0, pictures.back().size() - 4) + ".wav";
        EXPECT_EQ(calls_[next], "record " + sound);
    }
    EXPECT_EQ(pictures, (std::vector<std::string>{d + "/vorlix_1.jpg", d + "/vorlix_2.jpg", d + "/vorlix_0.jpg",
                                                  d + "/vorlix_1.jpg"}));
    const test::DecodedJpeg decoded = test::ReadJpeg(d + "/vorlix_1.jpg");
    ASSERT_TRUE(decoded.ok);
    ASSERT_EQ(decoded.comments.size(), 1U);
    EXPECT_EQ(decoded.comments[0].rfind("Vorlix ==> Z_1_", 0), 0U) << decoded.comments[0];
}

TEST_F(WebCamActionsTest, WithoutARoadFramesAreMeasuredAndNothingIsWritten)
{
    cam_.SetRoad(nullptr);
    Feed(Rgb(10));
    ++now_;
    Feed(Rgb(10, 40));
    EXPECT_FALSE(fs::exists(dir_ + "/files/last.jpg"));
    EXPECT_EQ(cam_.shots.load(), 0);
    EXPECT_TRUE(calls_.empty());
}

}  // namespace
}  // namespace vorlix
