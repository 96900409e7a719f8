// The whole road on the built-in test camera: the GStreamer layer, the
// server's capture operations and a real camera object with its detection
// actions; the moving ball must end as detection pictures on disk.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "libkestrel/testkit/TestKit.h"
#include "serveur/capture/CaptureServer.h"
#include "serveur/capture/WebCamCaptureCamera.h"
#include "serveur/capture/gstreamer/GstCaptureSystem.h"
#include "serveur/capture/tests/CameraKit.h"
#include "serveur/capture/tests/JpegPictures.h"
#include "serveur/capture/tests/ScriptedV4l2Device.h"
#include "serveur/capture/v4l2/V4l2CaptureSystem.h"
#include "serveur/core/PixelFormat.h"
#include "serveur/core/WebCam.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace vorlix::capture {
namespace {

// The detection pictures as the stream server is told of them.
class Notifications final : public DetectionConsumer {
public:
    void OnDetection(const Detection& detection) override
    {
        if (detection.picturePath.find("vorlix_") != std::string::npos) {
            ++pictures;
        }
    }
    std::atomic<int> pictures{0};
};

using fakes::ActionsRoad;
using fakes::CountedCamera;
using fakes::PictureSize;

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
    const kestrel::test::TempDir temp("capture_webcam");
    const fs::path dir = temp.Path();
    unsetenv(kSourceVariable);
    {
        WebCam cam;
        cam.LoadConfiguration(0, dir.string());
        const fs::path pictures = cam.PictureDir();
        fs::create_directories(pictures);
        Notifications notes;
        ActionsRoad actions(cam, &notes);
        cam.SetDetection(true);
        CountedCamera camera(cam, [](const Frame& frame) {
            return frame.width == 640 && frame.height == 480 && frame.format == kFormatRgb24 &&
                   frame.topDown == kTopDown;
        });
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
        std::this_thread::sleep_for(2s);  // a rate is counted over a fixed window
        const int inTwoSeconds = camera.frames;
        // Detection waits for a reference image; give the ball time to be seen.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(start + 8s - std::chrono::steady_clock::now());
        kestrel::test::WaitUntil([&] { return PictureFiles(pictures) >= 2; }, std::max(left, 1ms), 20ms);
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
}

// A dark scene with a bright block that moves right by 4 pixels a frame, in
// the pixel layout of `code`.
void PaintScene(std::vector<std::uint8_t>& frame, int number, int code, int width, int height)
{
    const bool planar = code == kFourccI420;
    const int bpp = planar ? 1 : BytesPerPixel(code);
    const std::size_t luma = static_cast<std::size_t>(width) * height * (planar ? 1 : bpp);
    std::fill(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(luma), std::uint8_t{0x10});
    if (planar) {
        std::fill(frame.begin() + static_cast<std::ptrdiff_t>(luma), frame.end(), std::uint8_t{0x80});
    }
    const int left = (number * 4) % (width - 40);
    for (int y = height / 4; y < height * 3 / 4; ++y) {
        for (int x = left; x < left + 40; ++x) {
            for (int b = 0; b < bpp; ++b) {
                frame[(static_cast<std::size_t>(y) * width + x) * bpp + b] = 0xF0;
            }
        }
    }
}

// A grab every 50 ms from the device nodes in `dir`.
V4l2Options QuickGrab(const fs::path& dir)
{
    V4l2Options options;
    options.deviceDir = dir.string();
    options.grab.frequency = 50ms;
    options.grab.first = 20ms;
    options.grab.handover = 20ms;
    return options;
}

// vorlix_vfw's road over `device` (live, a frame every 10 ms, the only node
// in the options' directory) until its first detection picture, at most 8 s:
// the camera object with its actions and the server's capture operations.
::testing::AssertionResult RunVfwRoad(WebCam& cam, std::unique_ptr<fakes::ScriptedDevice> device,
                                      const V4l2Options& options)
{
    std::ofstream(fs::path(options.deviceDir) / "video0").put('\n');
    const fs::path pictures = cam.PictureDir();
    fs::create_directories(pictures);
    const ActionsRoad actions(cam);
    cam.SetDetection(true);
    WebCamCaptureCamera camera(cam);
    CaptureServer server(camera);
    device->live = true;
    device->period = 10ms;
    if (!server.StartSystem(fakes::ScriptedSystem(options, std::move(device)))) {
        return ::testing::AssertionFailure() << "the V4L2 layer did not start";
    }
    if (!server.StartConfigured(0, 0)) {
        return ::testing::AssertionFailure() << "the capture did not start";
    }
    kestrel::test::WaitUntil([&] { return PictureFiles(pictures) >= 1; }, 8s, 10ms);
    server.CloseDevice();
    return ::testing::AssertionSuccess();
}

// vorlix_vfw's road: scripted V4L2 devices in each format, grabbed at the
// "Frequency" and detected by the camera object in the device's own format.
TEST(WebCamCapture, EachV4l2FormatIsDetectedInItsOwnFormat)
{
    constexpr int kW = 160;
    constexpr int kH = 120;
    struct Case {
        std::uint32_t pixelformat;
        int code;
        std::size_t bytes;
    };
    constexpr std::size_t kPixels = static_cast<std::size_t>(kW) * kH;
    const std::vector<Case> cases{{V4L2_PIX_FMT_YUYV, kFourccYuy2, kPixels * 2},
                                  {V4L2_PIX_FMT_YUV420, kFourccI420, kPixels * 3 / 2},
                                  {V4L2_PIX_FMT_RGB24, kFormatRgb24, kPixels * 3},
                                  {V4L2_PIX_FMT_RGB565, kFormatRgb16, kPixels * 2},
                                  {V4L2_PIX_FMT_XBGR32, kFormatRgb32, kPixels * 4}};
    for (const Case& c : cases) {
        const kestrel::test::TempDir temp("capture_vfw");
        const fs::path dir = temp.Path();
        WebCam cam;
        cam.LoadConfiguration(0, dir.string());
        auto device = std::make_unique<fakes::ScriptedDevice>(c.pixelformat, kW, kH, 0, c.bytes);
        device->paint = [code = c.code](std::vector<std::uint8_t>& f, int n) { PaintScene(f, n, code, kW, kH); };
        ASSERT_TRUE(RunVfwRoad(cam, std::move(device), QuickGrab(dir))) << c.code;
        EXPECT_EQ(cam.Format(), c.code);
        EXPECT_EQ(cam.Width(), kW);
        EXPECT_EQ(cam.Height(), kH);
        EXPECT_EQ(cam.TopDown(), kTopDown);
        EXPECT_GE(PictureFiles(cam.PictureDir()), 1) << "the moving block is detected, format " << c.code;
    }
}

// vorlix_vfw's road with a USB camera in MJPG at "Detection scale" 2: measured
// as I420 at half size, the detection pictures written whole.
TEST(WebCamCapture, AV4l2CameraInMjpgIsDetectedAtHalfSizeAndItsPicturesAreWhole)
{
    constexpr int kW = 160;
    constexpr int kH = 120;
    const kestrel::test::TempDir temp("capture_vfw_mjpg");
    const fs::path dir = temp.Path();
    WebCam cam;
    cam.LoadConfiguration(0, dir.string());
    const fs::path pictures = cam.PictureDir();
    auto device = std::make_unique<fakes::ScriptedDevice>(V4L2_PIX_FMT_MJPEG, kW, kH, 0, 64 * 1024);
    device->picture = [](int n) {
        return fakes::Compress(fakes::BlockPicture(kW, kH, (n * 4) % (kW - 40), 40, 40), kW, kH, TJSAMP_422);
    };
    V4l2Options options = QuickGrab(dir);
    options.detectionScale = 2;
    ASSERT_TRUE(RunVfwRoad(cam, std::move(device), options));
    EXPECT_EQ(cam.Format(), kFourccI420);
    EXPECT_EQ(cam.Width(), kW / 2) << "measured at half size";
    EXPECT_EQ(cam.Height(), kH / 2);
    ASSERT_GE(PictureFiles(pictures), 1) << "the moving block is detected";
    const fs::path last = pictures / ("vorlix_" + std::to_string(cam.shots.load()) + ".jpg");
    EXPECT_EQ(PictureSize(last), (std::pair<int, int>{kW, kH})) << "written whole";
}

}  // namespace
}  // namespace vorlix::capture
