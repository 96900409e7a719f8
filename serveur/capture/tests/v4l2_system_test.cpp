// vorlix_vfw's capture system through the server's capture operations, on
// scripted devices: the node list, the one mode, the grab and preview timers,
// the client refresh and a device that vanishes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/QXTrace.h"
#include "serveur/capture/CaptureServer.h"
#include "serveur/capture/tests/ScriptedV4l2Device.h"
#include "serveur/capture/v4l2/V4l2CaptureSystem.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace vorlix::capture {
namespace {

using namespace fakes;

class Camera final : public CaptureCamera {
public:
    explicit Camera(std::string ini) : ini_(std::move(ini)) {}
    std::string IniFile() const override { return ini_; }
    int Fps() const override { return 30; }
    void ResizeBuffers(int width, int height) override
    {
        resizedWidth = width;
        resizedHeight = height;
    }
    void ComputeZoneThresholds() override {}
    FrameSink& Sink() override { return recorder; }
    void RequestClientRefresh() override { ++refreshes; }

    Recorder recorder;
    std::atomic<int> refreshes{0};
    std::atomic<int> resizedWidth{0};
    std::atomic<int> resizedHeight{0};

private:
    std::string ini_;
};

using kestrel::test::WaitUntil;

class V4l2System : public ::testing::Test {
protected:
    kestrel::test::TraceCapture traces_;
    void SetUp() override
    {
        dir_ = temp_.Path();
        for (const char* name : {"video0", "video1", "video2", "video10", "videoX", "media0"}) {
            std::ofstream(dir_ / name).put('\n');
        }
    }
    std::string Ini() const { return (dir_ / "Vorlix.ini").string(); }

    // A system whose capture device is `device`; names are read through fresh devices.
    std::unique_ptr<V4l2CaptureSystem> Make(std::unique_ptr<ScriptedDevice> device, GrabSettings grab = {},
                                            int detectionScale = 1)
    {
        fake_ = device.get();
        V4l2Options options;
        options.deviceDir = dir_.string();
        options.grab = grab;
        options.detectionScale = detectionScale;
        options.wallClock = [this] { return wall_.load(); };
        return ScriptedSystem(options, std::move(device));
    }
    static std::unique_ptr<ScriptedDevice> Yuyv(bool live = false)
    {
        auto d = std::make_unique<ScriptedDevice>(V4L2_PIX_FMT_YUYV, 8, 4, 16, 64);
        d->fps = 25;
        d->live = live;
        return d;
    }

    kestrel::test::TempDir temp_{"capture_v4l2"};
    fs::path dir_;
    ScriptedDevice* fake_ = nullptr;
    std::atomic<std::time_t> wall_{5000};
};

TEST_F(V4l2System, ListsTheCaptureNodesInNumberOrder)
{
    Camera camera(Ini());
    CaptureServer server(camera);
    ASSERT_TRUE(server.StartSystem(Make(Yuyv())));
    const std::string d = dir_.string();
    const std::vector<std::string> expected{"Scripted camera (" + d + "/video0)", "Scripted camera (" + d + "/video2)",
                                            "Scripted camera (" + d + "/video10)"};
    EXPECT_EQ(server.DeviceList(), expected) << "metadata nodes and other names are left out";
    EXPECT_EQ(traces_.Count("[TRACE] "), 6) << "each name traced at start and when the list is filled";
    ASSERT_TRUE(server.SelectDevice(2));
    EXPECT_EQ(fake_->path, d + "/video10");
    EXPECT_TRUE(server.SelectDevice(0));
    EXPECT_EQ(fake_->path, d + "/video0");
    EXPECT_FALSE(server.SelectDevice(3));
    EXPECT_EQ(traces_.Count("Could not connect to device!</COLOR>"), 1);
}

TEST_F(V4l2System, TheOneModeIsTheDeviceOwnFormat)
{
    struct Case {
        std::uint32_t pixelformat;
        unsigned fps;
        std::string line;
    };
    const std::vector<Case> cases{
        {V4L2_PIX_FMT_YUYV, 25, "8 x 4 @ 25 fps - YUY2"},  {V4L2_PIX_FMT_YUV420, 30, "8 x 4 @ 30 fps - I420"},
        {V4L2_PIX_FMT_RGB24, 0, "8 x 4 @ 0 fps - RGB24"},  {V4L2_PIX_FMT_RGB565, 15, "8 x 4 @ 15 fps - RGB565"},
        {V4L2_PIX_FMT_XBGR32, 5, "8 x 4 @ 5 fps - RGB32"}, {V4L2_PIX_FMT_MJPEG, 30, "8 x 4 @ 30 fps - MJPG"}};
    for (const Case& c : cases) {
        auto device = std::make_unique<ScriptedDevice>(c.pixelformat, 8, 4, 0, 128);
        device->fps = c.fps;
        Camera camera(Ini());
        CaptureServer server(camera);
        ASSERT_TRUE(server.StartSystem(Make(std::move(device))));
        EXPECT_TRUE(server.ModeList().empty()) << "no device connected yet";
        ASSERT_TRUE(server.SelectDevice(0));
        EXPECT_EQ(server.ModeList(), std::vector<std::string>{c.line});
    }
}

TEST_F(V4l2System, ModeBeyondTheCountLeavesTheDeviceConnectedAndReselectionKeepsIt)
{
    Camera camera(Ini());
    CaptureServer server(camera);
    auto system = Make(Yuyv());
    V4l2CaptureSystem* raw = system.get();
    ASSERT_TRUE(server.StartSystem(std::move(system)));
    EXPECT_FALSE(server.StartCapture(0, 1));
    EXPECT_EQ(traces_.Count("[ERROR] "), 1);
    EXPECT_EQ(traces_.Count("Failed to GET mode info!</COLOR>"), 1);
    EXPECT_TRUE(raw->Connected());
    EXPECT_FALSE(raw->Capturing());
    EXPECT_FALSE(server.Running());
    EXPECT_EQ(fake_->opens, 1);
    EXPECT_TRUE(server.SelectDevice(0));
    ASSERT_TRUE(server.StartCapture(0, 0));
    EXPECT_EQ(fake_->opens, 1) << "the connected device is not opened again";
    EXPECT_EQ(camera.resizedWidth, 8);
    EXPECT_EQ(camera.resizedHeight, 4);
    server.CloseDevice();
    EXPECT_FALSE(fake_->opened);
    EXPECT_EQ(fake_->mapped, 0);
}

TEST_F(V4l2System, TheConfiguredDeviceAndModeAreIgnored)
{
    Camera camera(Ini());
    CaptureServer server(camera);
    ASSERT_TRUE(server.StartSystem(Make(Yuyv())));
    ASSERT_FALSE(server.System()->HasDeviceSettings());
    ASSERT_TRUE(server.StartConfigured(2, 5)) << "no VideoDevice or VideoFormat in this build";
    EXPECT_EQ(fake_->path, dir_.string() + "/video0");
    EXPECT_EQ(server.DeviceIndex(), 0);
    EXPECT_EQ(server.ModeIndex(), 0);
    EXPECT_TRUE(server.Running());
}

TEST_F(V4l2System, AnMjpgCameraAtDetectionScaleTwoSizesTheImagesForItsHalfSizeFrames)
{
    auto device = std::make_unique<ScriptedDevice>(V4L2_PIX_FMT_MJPEG, 9, 5, 0, 4096);
    device->fps = 30;
    Camera camera(Ini());
    CaptureServer server(camera);
    ASSERT_TRUE(server.StartSystem(Make(std::move(device), {}, 2)));
    ASSERT_TRUE(server.StartConfigured(0, 0));
    EXPECT_EQ(server.ModeList(), std::vector<std::string>{"9 x 5 @ 30 fps - MJPG"}) << "the camera's own mode";
    EXPECT_EQ(camera.resizedWidth, 5) << "the size the frames are measured at, rounded up";
    EXPECT_EQ(camera.resizedHeight, 3);
    server.CloseDevice();
}

TEST_F(V4l2System, ThisBuildHasNoPictureProperties)
{
    ASSERT_TRUE(kestrel::profile::WriteInt(Ini(), kFormatSection, "Brightness", 300));
    Camera camera(Ini());
    CaptureServer server(camera);
    ASSERT_TRUE(server.StartSystem(Make(Yuyv())));
    ASSERT_TRUE(server.StartCapture(0, 0));
    server.SaveProperties();
    EXPECT_EQ(kestrel::profile::KeyNames(Ini(), kFormatSection), std::vector<std::string>{"Brightness"});
    EXPECT_EQ(traces_.Count("): Brightness="), 0);
}

TEST_F(V4l2System, GrabsAtTheFrequencyWhileHiddenAndFollowsTheWindow)
{
    GrabSettings grab;
    grab.frequency = 40ms;
    grab.first = 50ms;
    grab.handover = 50ms;
    grab.watchdog = 250ms;
    grab.refreshSeconds = 3;
    Camera camera(Ini());
    CaptureServer server(camera);
    auto system = Make(Yuyv(true), grab);
    V4l2CaptureSystem* raw = system.get();
    ASSERT_TRUE(server.StartSystem(std::move(system)));
    ASSERT_TRUE(server.StartCapture(0, 0));
    EXPECT_EQ(traces_.Count("): launch video timer(id=1)"), 1);
    // The grab rate is a rate: it is counted over a fixed window.
    std::this_thread::sleep_for(600ms);
    const int produced = fake_->produced;
    const auto grabbed = static_cast<int>(camera.recorder.Count());
    EXPECT_EQ(raw->Mode(), GrabScheduler::Mode::Grab);
    EXPECT_GE(grabbed, 4) << "about (600 - 100) / 40 grabs";
    EXPECT_LE(grabbed, 16);
    EXPECT_GT(produced, grabbed * 2) << "the device's other frames are dropped";

    wall_ += 4;
    EXPECT_TRUE(WaitUntil([&] { return camera.refreshes > 0; }, 1s)) << "an expiry asks for a client refresh";
    EXPECT_EQ(camera.refreshes, 1);

    server.SetWindowShown(true);
    EXPECT_TRUE(WaitUntil([&] { return raw->Mode() == GrabScheduler::Mode::Preview; }, 2s));
    EXPECT_EQ(traces_.Count("): launch the timer lent (id=3, 5 sec) window is open"), 1);
    const std::size_t before = camera.recorder.Count();
    EXPECT_TRUE(WaitUntil([&] { return camera.recorder.Count() >= before + 3; }, 2s))
        << "the preview goes on delivering";

    server.SetWindowShown(false);
    EXPECT_TRUE(WaitUntil([&] { return raw->Mode() == GrabScheduler::Mode::Grab; }, 2s));
    EXPECT_EQ(traces_.Count("): launch quick timer(id=2, 40 ms), window is close"), 1);
    server.CloseDevice();

    const std::lock_guard lock(camera.recorder.mutex);
    for (const Seen& s : camera.recorder.frames) {
        EXPECT_EQ(s.format, kFourccYuy2);
        EXPECT_EQ(s.topDown, kTopDown);
        EXPECT_EQ(s.data.size(), 64U);
    }
}

TEST_F(V4l2System, ShownWindowAtStartGoesStraightToPreview)
{
    GrabSettings grab;
    grab.frequency = 30ms;
    grab.first = 20ms;
    grab.handover = 20ms;
    Camera camera(Ini());
    CaptureServer server(camera);
    auto system = Make(Yuyv(true), grab);
    V4l2CaptureSystem* raw = system.get();
    ASSERT_TRUE(server.StartSystem(std::move(system)));
    server.SetWindowShown(true);
    ASSERT_TRUE(server.StartCapture(0, 0));
    EXPECT_TRUE(WaitUntil([&] { return raw->Mode() == GrabScheduler::Mode::Preview; }, 2s));
    // A restart keeps the window state.
    ASSERT_TRUE(server.StartCapture(std::nullopt, 0));
    EXPECT_TRUE(WaitUntil([&] { return raw->Mode() == GrabScheduler::Mode::Preview; }, 2s));
    EXPECT_EQ(traces_.Count("window is open"), 2);
}

TEST_F(V4l2System, VanishedDeviceIsTracedAndTheServerClosesItCleanly)
{
    GrabSettings grab;
    grab.frequency = 10ms;
    grab.first = 10ms;
    grab.handover = 10ms;
    Camera camera(Ini());
    CaptureServer server(camera);
    auto system = Make(Yuyv(true), grab);
    V4l2CaptureSystem* raw = system.get();
    ASSERT_TRUE(server.StartSystem(std::move(system)));
    ASSERT_TRUE(server.StartCapture(0, 0));
    ASSERT_TRUE(WaitUntil([&] { return camera.recorder.Count() >= 2; }, 2s));
    fake_->vanish = true;
    EXPECT_TRUE(WaitUntil([&] { return !raw->Capturing(); }, 2s));
    EXPECT_EQ(traces_.Count("lost, capture stopped"), 1);
    EXPECT_FALSE(server.Running()) << "the schedule's next check may open it again";
    const std::size_t seen = camera.recorder.Count();
    std::this_thread::sleep_for(50ms);  // nothing may arrive: a window, not a wait
    EXPECT_EQ(camera.recorder.Count(), seen);
    // The menu's Open again: the device is back.
    fake_->vanish = false;
    ASSERT_TRUE(server.StartCapture(0, 0));
    EXPECT_TRUE(WaitUntil([&] { return camera.recorder.Count() > seen; }, 2s));
    EXPECT_TRUE(server.Running());
    server.CloseDevice();
    EXPECT_FALSE(fake_->opened);
    EXPECT_EQ(fake_->mapped, 0);
}

TEST_F(V4l2System, MadeFromTheSettingsFile)
{
    auto defaults = MakeV4l2CaptureSystem(Ini());
    auto* plain = dynamic_cast<V4l2CaptureSystem*>(defaults.get());
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->Options().grab.frequency, 90ms);
    EXPECT_EQ(plain->Options().grab.refreshSeconds, 60);
    EXPECT_EQ(plain->Options().deviceDir, "/dev");
    EXPECT_EQ(plain->Options().detectionScale, 1);
    ASSERT_TRUE(kestrel::profile::WriteInt(Ini(), "Vorlix", "Frequency", 200));
    ASSERT_TRUE(kestrel::profile::WriteInt(Ini(), "Vorlix", "Refresh Picture", 7));
    ASSERT_TRUE(kestrel::profile::WriteInt(Ini(), "Vorlix", "Detection scale", 4));
    auto made = MakeV4l2CaptureSystem(Ini());
    auto* set = dynamic_cast<V4l2CaptureSystem*>(made.get());
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->Options().grab.frequency, 200ms);
    EXPECT_EQ(set->Options().grab.refreshSeconds, 7);
    EXPECT_EQ(set->Options().detectionScale, 4);
    EXPECT_EQ(set->Initialise(), 0);
}

}  // namespace
}  // namespace vorlix::capture
