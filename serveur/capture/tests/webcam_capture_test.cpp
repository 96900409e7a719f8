// The whole road on the built-in test camera: the GStreamer layer, the
// server's capture operations and a real camera object with its detection
// actions; the moving ball must end as detection pictures on disk.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "serveur/actions/WebCamActions.h"
#include "serveur/capture/CaptureServer.h"
#include "serveur/capture/WebCamCaptureCamera.h"
#include "serveur/capture/gstreamer/GstCaptureSystem.h"
#include "serveur/core/WebCam.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace vorlix::capture {
namespace {

// The camera adapter with a frame count in front of ProcessFrame.
class CountedCamera final : public CaptureCamera, public FrameSink {
public:
    explicit CountedCamera(WebCam& cam) : inner_(cam) {}
    std::string IniFile() const override { return inner_.IniFile(); }
    int Fps() const override { return inner_.Fps(); }
    void ResizeBuffers(int width, int height) override { inner_.ResizeBuffers(width, height); }
    void ComputeZoneThresholds() override { inner_.ComputeZoneThresholds(); }
    FrameSink& Sink() override { return *this; }
    void RequestClientRefresh() override { inner_.RequestClientRefresh(); }
    void ProcessFrame(const Frame& frame) override
    {
        ++frames;
        if (frame.width != 640 || frame.height != 480 || frame.format != kFormatRgb24 || frame.topDown != kTopDown)
            ++wrong;
        inner_.Sink().ProcessFrame(frame);
    }
    std::atomic<int> frames{0};
    std::atomic<int> wrong{0};

private:
    WebCamCaptureCamera inner_;
};

class Notifications final : public ImageNotifier {
public:
    void NotifyNewImage(const char* path) override
    {
        if (path != nullptr && std::string_view(path).find("vorlix_") != std::string_view::npos)
            ++pictures;
    }
    std::atomic<int> pictures{0};
};

int PictureFiles(const fs::path& dir)
{
    int count = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename().string();
        count += name.rfind("vorlix_", 0) == 0 && entry.path().extension() == ".jpg" ? 1 : 0;
    }
    return count;
}

TEST(WebCamCapture, TestPatternAt640x480DeliversAtTheModeRateAndTheBallIsDetected)
{
    char pattern[] = "/tmp/capture_webcam_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    unsetenv(kSourceVariable);
    {
        WebCam cam;
        cam.LoadConfiguration(0, dir.string());
        const fs::path pictures = cam.PictureDir();
        fs::create_directories(pictures);
        Notifications notes;
        cam.SetImageNotifier(&notes);
        WebCamActions actions(cam);
        cam.SetDetection(true);
        CountedCamera camera(cam);
        CaptureServer server(camera);
        ASSERT_TRUE(server.StartSystem(MakeGstCaptureSystem(cam.SettingsFile())));
        const std::vector<std::string> devices = server.DeviceList();
        ASSERT_FALSE(devices.empty());
        ASSERT_EQ(devices.back(), kTestPatternName);
        const int device = static_cast<int>(devices.size()) - 1;
        ASSERT_TRUE(server.SelectDevice(device));
        const std::vector<std::string> modes = server.ModeList();
        const auto mode = std::find(modes.begin(), modes.end(), "640 x 480 @ 15 fps - RGB24");
        ASSERT_NE(mode, modes.end());

        ASSERT_TRUE(server.StartCapture(device, static_cast<int>(mode - modes.begin())));
        cam.SetCaptureRunning(true);
        EXPECT_EQ(cam.Width(), 640);
        EXPECT_EQ(cam.Height(), 480);
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(2s);
        const int inTwoSeconds = camera.frames;
        // Detection waits for a reference image; give the ball time to be seen.
        const auto end = start + 8s;
        while (PictureFiles(pictures) < 2 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(50ms);
        server.CloseDevice();
        cam.SetCaptureRunning(false);

        EXPECT_GE(inTwoSeconds, 15) << "15 fps for 2 s, loosely";
        EXPECT_LE(inTwoSeconds, 33) << "no faster than the mode's rate";
        EXPECT_EQ(camera.wrong, 0);
        EXPECT_GE(PictureFiles(pictures), 2) << "the moving ball is detected";
        EXPECT_GE(cam.shots.load(), 2);
        EXPECT_EQ(notes.pictures, cam.shots.load());
        EXPECT_TRUE(fs::exists(pictures / "last.jpg"));
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

}  // namespace
}  // namespace vorlix::capture
