// The GStreamer layer on its built-in test camera and on pipelines of
// VORLIX_VIDEO_SOURCE, driven through the server's capture operations.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/QXTrace.h"
#include "serveur/capture/CaptureServer.h"
#include "serveur/capture/gstreamer/GstCaptureSystem.h"
#include "serveur/core/PixelFormat.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace vorlix::capture {
namespace {

class RecordingCamera final : public CaptureCamera, public FrameSink {
public:
    explicit RecordingCamera(std::string ini) : ini_(std::move(ini)) {}
    std::string IniFile() const override { return ini_; }
    int Fps() const override { return 0; }
    void ResizeBuffers(int width, int height) override
    {
        resizedWidth = width;
        resizedHeight = height;
    }
    void ComputeZoneThresholds() override { ++thresholds; }
    FrameSink& Sink() override { return *this; }

    void ProcessFrame(const Frame& frame) override
    {
        const std::lock_guard lock(mutex);
        // A mode of known size announces it before the first frame; a learnt
        // size comes with the frames (the camera object follows it).
        const int announced = resizedWidth.load();
        if ((announced != 0 && (frame.width != announced || frame.height != resizedHeight)) ||
            (frameWidth != 0 && (frame.width != frameWidth || frame.height != frameHeight))) {
            ++wrongSize;
        }
        frameWidth = frame.width;
        frameHeight = frame.height;
        if (frame.data.size() != static_cast<std::size_t>(frame.width) * frame.height * 3) {
            ++wrongSize;
        }
        if (frame.format != kFormatRgb24 || frame.topDown != kTopDown) {
            ++wrongSize;
        }
        if (frames.size() < 64) {
            frames.emplace_back(frame.data.begin(), frame.data.end());
        }
        ++count;
    }
    int Count()
    {
        const std::lock_guard lock(mutex);
        return count;
    }

    std::mutex mutex;
    std::vector<std::vector<std::uint8_t>> frames;
    int count = 0;
    int wrongSize = 0;
    int frameWidth = 0;  // of the frames delivered so far
    int frameHeight = 0;
    std::atomic<int> resizedWidth{0};
    std::atomic<int> resizedHeight{0};
    std::atomic<int> thresholds{0};

private:
    std::string ini_;
};

class GstCapture : public ::testing::Test {
protected:
    kestrel::test::TraceCapture traces_;
    void SetUp() override
    {
        dir_ = temp_.Path();
        unsetenv(kSourceVariable);
    }
    void TearDown() override { unsetenv(kSourceVariable); }
    std::string Ini() const { return (dir_ / "Vorlix.ini").string(); }

    // Starts the server operations on a fresh GStreamer layer.
    GstCaptureSystem* Start(CaptureServer& server, std::chrono::milliseconds retry = 10s)
    {
        auto system = std::make_unique<GstCaptureSystem>(std::string{}, retry);
        GstCaptureSystem* raw = system.get();
        EXPECT_TRUE(server.StartSystem(std::move(system)));
        return raw;
    }
    static int TestPatternIndex(CaptureServer& server)
    {
        const auto names = server.DeviceList();
        return names.empty() || names.back() != kTestPatternName ? -1 : static_cast<int>(names.size()) - 1;
    }
    static bool WaitFor(RecordingCamera& camera, int frames, std::chrono::milliseconds limit)
    {
        return kestrel::test::WaitUntil([&] { return camera.Count() >= frames; }, limit, 5ms);
    }

    kestrel::test::TempDir temp_{"capture_test"};
    fs::path dir_;
};

TEST_F(GstCapture, TestPatternIsListedLastWithItsModes)
{
    RecordingCamera camera(Ini());
    CaptureServer server(camera);
    Start(server);
    const int device = TestPatternIndex(server);
    ASSERT_GE(device, 0);
    EXPECT_GE(traces_.Count(kTestPatternName), 1);
    ASSERT_TRUE(server.SelectDevice(device));
    const std::vector<std::string> expected{"320 x 240 @ 15 fps - RGB24",  "320 x 240 @ 30 fps - RGB24",
                                            "640 x 480 @ 15 fps - RGB24",  "640 x 480 @ 30 fps - RGB24",
                                            "1280 x 720 @ 15 fps - RGB24", "1280 x 720 @ 30 fps - RGB24"};
    EXPECT_EQ(server.ModeList(), expected);
}

TEST_F(GstCapture, TestPatternDeliversMovingFramesAtTheModeRate)
{
    RecordingCamera camera(Ini());
    CaptureServer server(camera);
    Start(server);
    const int device = TestPatternIndex(server);
    ASSERT_GE(device, 0);
    ASSERT_TRUE(server.StartCapture(device, 3));  // 640 x 480 @ 30 fps
    EXPECT_TRUE(server.Running());
    EXPECT_EQ(camera.resizedWidth, 640);
    EXPECT_EQ(camera.resizedHeight, 480);
    EXPECT_GE(camera.thresholds, 1);
    std::this_thread::sleep_for(1500ms);  // a rate is counted over a fixed window
    server.CloseDevice();
    const int count = camera.Count();
    EXPECT_GE(count, 10) << "30 fps for 1.5 s";  // loose: the machine is shared
    EXPECT_LE(count, 60);
    EXPECT_FALSE(server.Running());
    const std::lock_guard lock(camera.mutex);
    EXPECT_EQ(camera.wrongSize, 0);
    ASSERT_GE(camera.frames.size(), 3U);
    const std::set<std::vector<std::uint8_t>> distinct(camera.frames.begin(), camera.frames.end());
    EXPECT_GE(distinct.size(), 2U) << "the ball moves";
    // Nothing arrives after the device is closed.
    const int after = camera.count;
    camera.mutex.unlock();
    std::this_thread::sleep_for(100ms);  // nothing may arrive: a window, not a wait
    camera.mutex.lock();
    EXPECT_EQ(camera.count, after);
}

TEST_F(GstCapture, ConfiguredDeviceAndModeAreUsed)
{
    RecordingCamera camera(Ini());
    CaptureServer server(camera);
    Start(server);
    ASSERT_TRUE(server.System()->HasDeviceSettings());
    const int device = TestPatternIndex(server);
    ASSERT_TRUE(server.StartConfigured(device, 2));
    EXPECT_EQ(server.DeviceIndex(), device);
    EXPECT_EQ(server.ModeIndex(), 2);
    EXPECT_EQ(camera.resizedWidth, 640);
    EXPECT_FALSE(server.StartConfigured(device, 6));
    EXPECT_EQ(traces_.Count("Failed to GET mode info!"), 1);
}

TEST_F(GstCapture, ModeBeyondTheCountLeavesTheDeviceConnectedNotCapturing)
{
    RecordingCamera camera(Ini());
    CaptureServer server(camera);
    GstCaptureSystem* system = Start(server);
    const int device = TestPatternIndex(server);
    ASSERT_GE(device, 0);
    EXPECT_FALSE(server.StartCapture(device, 6));
    EXPECT_EQ(traces_.Count("[ERROR] "), 1);
    EXPECT_EQ(traces_.Count("Failed to GET mode info!</COLOR>"), 1);
    EXPECT_TRUE(system->Connected());
    EXPECT_FALSE(system->Capturing());
    EXPECT_FALSE(server.Running());
    std::this_thread::sleep_for(100ms);  // nothing may arrive: a window, not a wait
    EXPECT_EQ(camera.Count(), 0);
}

TEST_F(GstCapture, SelectingTheConnectedDeviceDoesNotReconnect)
{
    RecordingCamera camera(Ini());
    CaptureServer server(camera);
    GstCaptureSystem* system = Start(server);
    const int device = TestPatternIndex(server);
    ASSERT_TRUE(server.SelectDevice(device));
    EXPECT_EQ(system->ConnectionCount(), 1);
    EXPECT_TRUE(server.SelectDevice(device));
    ASSERT_TRUE(server.StartCapture(device, 0));
    EXPECT_EQ(system->ConnectionCount(), 1);
    // The dialog's start passes no device: the connected one is kept.
    ASSERT_TRUE(server.StartCapture(std::nullopt, 1));
    EXPECT_EQ(system->ConnectionCount(), 1);
    EXPECT_EQ(server.ModeIndex(), 1);
    EXPECT_FALSE(server.SelectDevice(device + 1));
    EXPECT_EQ(traces_.Count("Could not connect to device!"), 1);
}

TEST_F(GstCapture, StoredPropertiesAreAppliedAndMissingOnesLeftAlone)
{
    ASSERT_TRUE(kestrel::profile::WriteInt(Ini(), kFormatSection, "Brightness", 300));
    ASSERT_TRUE(kestrel::profile::WriteInt(Ini(), kFormatSection, "Saturation", -250));
    RecordingCamera camera(Ini());
    CaptureServer server(camera);
    GstCaptureSystem* system = Start(server);
    const int device = TestPatternIndex(server);
    ASSERT_TRUE(server.SelectDevice(device));
    ASSERT_TRUE(server.StartCapture(std::nullopt, 0));
    PropertyValue value;
    ASSERT_EQ(system->GetProperty(0, value), 0);
    EXPECT_EQ(value.value, 300);
    ASSERT_EQ(system->GetProperty(3, value), 0);
    EXPECT_EQ(value.value, -250);
    ASSERT_EQ(system->GetProperty(1, value), 0);
    const int contrast = value.value;  // device's own value, untouched
    EXPECT_EQ(contrast, 0);
    EXPECT_NE(system->GetProperty(4, value), 0) << "the test camera has no sharpness";

    system->SetProperty(1, 120);
    server.SaveProperties();
    EXPECT_EQ(kestrel::profile::GetInt(Ini(), kFormatSection, "Contrast", -9999), 120);
    EXPECT_EQ(kestrel::profile::GetInt(Ini(), kFormatSection, "Brightness", -9999), 300);
    EXPECT_FALSE(kestrel::profile::Read(Ini(), kFormatSection, "Sharpness").has_value());
    EXPECT_EQ(traces_.Count("): Contrast=120"), 1);
    EXPECT_EQ(traces_.Count("): Hue=0"), 1);
}

// Writes `count` frames of a moving ball as PNG files, and decodes them again
// with ffmpeg (an independent decoder) into tight RGB rows, one file per frame.
std::vector<std::vector<std::uint8_t>> MakeSequence(const fs::path& dir, int width, int height, int count)
{
    const std::string caps = "video/x-raw,format=RGB,width=" + std::to_string(width) +
                             ",height=" + std::to_string(height) + ",framerate=30/1";
    const std::string png = "gst-launch-1.0 -q videotestsrc pattern=ball num-buffers=" + std::to_string(count) + " ! " +
                            caps + " ! pngenc ! multifilesink location=" + (dir / "f%03d.png").string();
    EXPECT_EQ(std::system(png.c_str()), 0);
    const fs::path raw = dir / "decoded.rgb";
    const std::string decode =
        "ffmpeg -loglevel error -y -i " + (dir / "f%03d.png").string() + " -f rawvideo -pix_fmt rgb24 " + raw.string();
    EXPECT_EQ(std::system(decode.c_str()), 0);
    std::ifstream in(raw, std::ios::binary);
    const std::vector<std::uint8_t> all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t frame = static_cast<std::size_t>(width) * height * 3;
    EXPECT_EQ(all.size(), frame * static_cast<std::size_t>(count));
    std::vector<std::vector<std::uint8_t>> decoded;
    for (std::size_t at = 0; at + frame <= all.size(); at += frame) {
        decoded.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at),
                             all.begin() + static_cast<std::ptrdiff_t>(at + frame));
    }
    return decoded;
}

TEST_F(GstCapture, SourcePipelineFramesArriveByteExactAndInOrder)
{
    constexpr int kWidth = 66;  // 198-byte rows: the layer must drop GStreamer's row padding
    constexpr int kHeight = 50;
    constexpr int kCount = 4;
    const std::vector<std::vector<std::uint8_t>> expected = MakeSequence(dir_, kWidth, kHeight, kCount);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(kCount));
    ASSERT_EQ(std::set<std::vector<std::uint8_t>>(expected.begin(), expected.end()).size(),
              static_cast<std::size_t>(kCount))
        << "the ball moves between the frames";

    const std::string source = "multifilesrc location=" + (dir_ / "f%03d.png").string() +
                               " index=0 loop=true caps=image/png,framerate=30/1 ! pngdec";
    setenv(kSourceVariable, source.c_str(), 1);
    RecordingCamera camera(Ini());
    CaptureServer server(camera);
    Start(server);
    ASSERT_EQ(server.DeviceList().size(), 1U) << "the pipeline is the only device";
    ASSERT_TRUE(server.StartCapture(0, 0));
    EXPECT_TRUE(WaitFor(camera, 12, 3s));
    server.CloseDevice();
    const std::lock_guard lock(camera.mutex);
    EXPECT_EQ(camera.wrongSize, 0);
    EXPECT_EQ(camera.frameWidth, kWidth);
    EXPECT_EQ(camera.frameHeight, kHeight);
    ASSERT_GE(camera.frames.size(), 12U);
    std::set<int> seen;
    int previous = -1;
    int backwards = 0;
    for (const auto& frame : camera.frames) {
        const auto at = std::find(expected.begin(), expected.end(), frame);
        ASSERT_NE(at, expected.end()) << "a frame differs from every decoded PNG";
        const int index = static_cast<int>(at - expected.begin());
        seen.insert(index);
        // Files come in order, looping; a dropped frame skips ahead, never back.
        if (previous >= 0 && index <= previous) {
            ++backwards;
        }
        previous = index;
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kCount));
    const int loops = static_cast<int>(camera.frames.size()) / kCount;
    EXPECT_LE(backwards, loops + 1) << "only the loop goes back to the first file";
}

TEST_F(GstCapture, LostSourceIsReopenedWithAWarning)
{
    setenv(kSourceVariable, "videotestsrc num-buffers=3 ! video/x-raw,width=32,height=24,framerate=100/1", 1);
    RecordingCamera camera(Ini());
    CaptureServer server(camera);
    Start(server, 50ms);
    ASSERT_TRUE(server.StartCapture(0, 0));
    EXPECT_TRUE(WaitFor(camera, 7, 5s)) << "frames come again after the source ended";
    server.CloseDevice();
    EXPECT_GE(traces_.Count("[WARN ] "), 2);
    EXPECT_GE(traces_.Count("lost (end of stream), reconnecting in 0 s"), 2);
}

TEST_F(GstCapture, SilentSourceIsSaidRetriedAndClearedByTheNextFrame)
{
    // One frame every 5 s: after the first one the source is silent for
    // longer than the allowed 300 ms, is said, retried, and the retry's
    // first frame clears it.
    setenv(kSourceVariable, "videotestsrc ! video/x-raw,width=32,height=24,framerate=1/5", 1);
    RecordingCamera camera(Ini());
    CaptureServer server(camera);
    auto system = std::make_unique<GstCaptureSystem>(std::string{}, 200ms, 300ms);
    GstCaptureSystem* gst = system.get();
    ASSERT_TRUE(server.StartSystem(std::move(system)));
    ASSERT_TRUE(server.StartCapture(0, 0));
    ASSERT_TRUE(WaitFor(camera, 1, 5s));
    EXPECT_TRUE(kestrel::test::WaitUntil([&] { return gst->Silent(); }, 5s, 2ms));
    EXPECT_TRUE(kestrel::test::WaitUntil([&] { return traces_.Count("lost (no frame in 300 ms)") > 0; }, 5s, 5ms));
    EXPECT_TRUE(WaitFor(camera, 3, 5s)) << "each retry delivers again";
    EXPECT_GE(traces_.Count("delivers frames again"), 1);
    server.CloseDevice();
    EXPECT_FALSE(server.Silent());
    EXPECT_EQ(camera.Count() > 0 ? camera.wrongSize : -1, 0);
}

// Writes a YUV4MPEG2 file of `count` I420 frames of known, distinct bytes.
std::vector<std::vector<std::uint8_t>> WriteY4m(const fs::path& file, int width, int height, int count)
{
    std::ofstream out(file, std::ios::binary);
    out << "YUV4MPEG2 W" << width << " H" << height << " F30:1 Ip A1:1 C420jpeg\n";
    const std::size_t bytes = FrameBytes(kFourccI420, width, height);
    std::vector<std::vector<std::uint8_t>> frames;
    for (int f = 0; f < count; ++f) {
        std::vector<std::uint8_t> frame(bytes);
        for (std::size_t i = 0; i < bytes; ++i) {
            frame[i] = static_cast<std::uint8_t>((i * 7 + static_cast<std::size_t>(f) * 50 + i / 61) % 251);
        }
        out << "FRAME\n";
        out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(bytes));
        frames.push_back(std::move(frame));
    }
    return frames;
}

struct LayoutSink final : CaptureCamera, FrameSink {
    explicit LayoutSink(std::string ini) : ini(std::move(ini)) {}
    std::string IniFile() const override { return ini; }
    int Fps() const override { return 0; }
    void ResizeBuffers(int, int) override {}
    void ComputeZoneThresholds() override {}
    FrameSink& Sink() override { return *this; }
    void ProcessFrame(const Frame& frame) override
    {
        const std::lock_guard lock(mutex);
        if (frames.size() < 16) {
            frames.emplace_back(frame.data.begin(), frame.data.end());
            formats.push_back(frame.format);
            widths.push_back(frame.width);
        }
    }
    std::size_t Count()
    {
        const std::lock_guard lock(mutex);
        return frames.size();
    }
    std::string ini;
    std::mutex mutex;
    std::vector<std::vector<std::uint8_t>> frames;
    std::vector<int> formats, widths;
};

TEST_F(GstCapture, AddressFramesArriveInTheDecodersLayoutByteExact)
{
    // 64 wide: the decoder's rows are tight and measured in place; 66 wide:
    // GStreamer pads the rows to 68 and 36 bytes, packed for the engine.
    for (const int width : {64, 66}) {
        SCOPED_TRACE(width);
        const fs::path file = dir_ / ("clip" + std::to_string(width) + ".y4m");
        const auto expected = WriteY4m(file, width, 18, 3);
        LayoutSink sink(Ini());
        CaptureServer server(sink);
        ASSERT_TRUE(server.StartSystem(std::make_unique<GstCaptureSystem>(file.string(), 20ms)));
        ASSERT_TRUE(server.StartCapture(0, 0));
        EXPECT_TRUE(kestrel::test::WaitUntil([&] { return sink.Count() >= 4; }, 5s, 5ms));
        server.CloseDevice();
        const std::lock_guard lock(sink.mutex);
        ASSERT_GE(sink.frames.size(), 3U);
        for (std::size_t i = 0; i < sink.frames.size(); ++i) {
            EXPECT_EQ(sink.formats[i], kFourccI420);
            EXPECT_EQ(sink.widths[i], width);
            EXPECT_NE(std::find(expected.begin(), expected.end(), sink.frames[i]), expected.end()) << "frame " << i;
        }
    }
}

TEST_F(GstCapture, BrokenSourcePipelineFailsToSetTheMode)
{
    setenv(kSourceVariable, "nosuchelement ! alsonot", 1);
    RecordingCamera camera(Ini());
    CaptureServer server(camera);
    Start(server);
    EXPECT_FALSE(server.StartCapture(0, 0));
    EXPECT_EQ(traces_.Count("Failed to set mode!"), 1);
    EXPECT_FALSE(server.Running());
}

}  // namespace
}  // namespace vorlix::capture

namespace vorlix::capture {
namespace {

long ResidentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// Long run of the test camera, only when VORLIX_CAPTURE_SOAK_SECONDS is set
// (not in CI): the resident size must not keep growing.
TEST_F(GstCapture, SoakOnTheTestCamera)
{
    const char* seconds = std::getenv("VORLIX_CAPTURE_SOAK_SECONDS");
    if (seconds == nullptr) {
        GTEST_SKIP() << "set VORLIX_CAPTURE_SOAK_SECONDS to run";
    }
    RecordingCamera camera(Ini());
    CaptureServer server(camera);
    Start(server);
    ASSERT_TRUE(server.StartCapture(TestPatternIndex(server), 3));
    std::this_thread::sleep_for(5s);
    const long start = ResidentKb();
    std::this_thread::sleep_for(std::chrono::seconds(std::strtol(seconds, nullptr, 10)));
    const long end = ResidentKb();
    server.CloseDevice();
    std::printf("soak: %d frames, RSS %ld kB after 5 s, %ld kB at the end\n", camera.Count(), start, end);
    EXPECT_LT(end, start + start / 10);
}

}  // namespace
}  // namespace vorlix::capture
