// The stream server on the real camera object: the refresh picture and the
// detection pictures that ProcessFrame writes reach a connected viewer.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/Children.h"
#include "serveur/actions/VorlixActions.h"
#include "serveur/core/Frame.h"
#include "serveur/core/WebCam.h"
#include "serveur/scrambler/PasswordScrambler.h"
#include "serveur/stream/WebCamStreamCamera.h"
#include "serveur/stream/tests/StreamTestKit.h"

namespace vorlix {
namespace {

using namespace testkit;

constexpr int kW = 160;
constexpr int kH = 120;

class WebCamStream : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directory(dir_.File("files"));
        cam_.LoadConfiguration(0, dir_.Path());
        cam_.UpdateSettings([](CameraSettings& s) {
            s.portWebClient = kestrel::test::FreeLoopbackPort();
            s.frequencyTransfert = 0;
        });
        cam_.SetDetection(true);
        actions_.LoadVocabulary([this](const std::string& text) { return cam_.Translate(text); });
    }
    // The camera assembly's road: naming, pictures, the stream, events.
    void Wire(WebCamStreamServer& stream)
    {
        road_.SetClassifier(&actions_.Naming());
        road_.SetPictureWriter(&actions_.Pictures());
        road_.Add(actions_.Pictures());
        road_.Add(stream.Pictures());
        road_.Add(actions_.Events());
        cam_.SetRoad(&road_);
    }
    void TearDown() override { cam_.SetRoad(nullptr); }
    void Feed(int blockX)
    {
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kW * kH * 3), 60);
        for (int y = 30; y < 90 && blockX >= 0; ++y) {
            for (int x = blockX; x < blockX + 60 && x < kW; ++x) {
                pixels[(static_cast<std::size_t>(y) * kW + x) * 3] = 250;
            }
        }
        Frame frame;
        frame.data = pixels;
        frame.width = kW;
        frame.height = kH;
        frame.format = kFormatRgb24;
        frame.topDown = kTopDown;
        cam_.ProcessFrame(frame);
        ++now_;
    }
    std::vector<std::string> Events()
    {
        const std::lock_guard<std::mutex> guard(eventsLock_);
        return events_;
    }

    TempDir dir_{"vorlix_stream"};
    std::time_t now_ = 100000;
    WebCam cam_{[this] { return now_; }};
    VorlixActions actions_;
    DetectionRoad road_;
    std::mutex eventsLock_;
    std::vector<std::string> events_;
};

TEST_F(WebCamStream, RefreshAndDetectionPicturesReachTheViewer)
{
    WebCamStreamServer stream(cam_, [this](const std::string& text) {
        const std::lock_guard<std::mutex> guard(eventsLock_);
        events_.push_back(text);
    });
    Wire(stream);
    ASSERT_GT(stream.StartIfEnabled(), 0);
    Viewer viewer(stream.Server().ListeningPort());
    ASSERT_TRUE(viewer.ReadHead());
    ASSERT_TRUE(WaitUntil([&] { return stream.Server().CountStreamClients() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return Events() == std::vector<std::string>{"New client"}; }));

    Feed(-1);  // the first frame writes the refresh picture
    auto frame = viewer.ReadFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->body, ReadFile(cam_.PictureDir() + "/last.jpg"));

    for (int i = 0; i < 3; ++i) {
        Feed(-1);
    }
    Feed(40);  // a moving block: detection picture number 1
    ASSERT_EQ(cam_.shots.load(), 1);
    const std::string detection = ReadFile(cam_.PictureDir() + "/vorlix_1.jpg");
    ASSERT_FALSE(detection.empty());
    bool seen = false;
    for (int i = 0; i < 4 && !seen; ++i) {
        frame = viewer.ReadFrame(1s);
        seen = frame.has_value() && frame->body == detection;
    }
    EXPECT_TRUE(seen) << "the detection picture was not streamed";

    viewer.Send("History: newer\r\n");
    for (int i = 0; i < 4; ++i) {
        frame = viewer.ReadFrame();
        if (!frame || frame->history) {
            break;
        }
    }
    ASSERT_TRUE(frame.has_value());
    ASSERT_TRUE(frame->history);
    EXPECT_EQ(frame->body, detection);
    EXPECT_EQ(HeaderField(frame->header, "IndiceLast"), "1");
    EXPECT_EQ(HeaderField(frame->header, "Modulo"), std::to_string(cam_.MaxJpg()));
}

TEST_F(WebCamStream, ClientAccessOffStartsNothingAndPicturesAreStillWritten)
{
    cam_.UpdateSettings([](CameraSettings& s) { s.clientAccess = 0; });
    WebCamStreamServer stream(cam_);
    Wire(stream);
    EXPECT_EQ(stream.StartIfEnabled(), 0);
    EXPECT_FALSE(stream.Server().Running());
    Feed(-1);  // notifies a server that is not running: nothing happens
    EXPECT_FALSE(stream.Server().Running());
    EXPECT_FALSE(ReadFile(cam_.PictureDir() + "/last.jpg").empty());
    cam_.SetRoad(nullptr);
}

TEST_F(WebCamStream, MaxClientsAndAnUnreadablePasswordComeFromTheSettingsFile)
{
    const std::string& ini = cam_.SettingsFile();
    WebCamStreamCamera camera(cam_);
    EXPECT_EQ(camera.Settings().maxClients, 100);
    EXPECT_FALSE(camera.Settings().passwordUnreadable);

    kestrel::profile::WriteInt(ini, "Vorlix", "Max clients", 7);
    // Written by hand, not scrambled: the camera object reads no password from it.
    kestrel::profile::WriteString(ini, "Vorlix", "Authentification client", "secret");
    EXPECT_EQ(camera.Settings().maxClients, 7);
    EXPECT_TRUE(camera.Settings().passwordUnreadable);
    {
        WebCamStreamServer stream(cam_);
        EXPECT_EQ(stream.StartIfEnabled(), 0) << "the stream opened without the password";
        EXPECT_FALSE(stream.Server().Listening());
    }

    std::string scrambled;
    ASSERT_TRUE(ScramblePassword("pw", "Authentification client", scrambled));
    kestrel::profile::WriteString(ini, "Vorlix", "Authentification client", scrambled);
    EXPECT_FALSE(camera.Settings().passwordUnreadable);
}

}  // namespace
}  // namespace vorlix
