// MJPEG cameras over HTTP, through the GStreamer layer: pictures decoded by
// the capture layer reach the sink as I420 on the measuring thread, cut and
// garbage parts are skipped and counted, and a moving block gives the same
// detections whether our decoder or GStreamer's jpegdec decodes it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/capture/CaptureServer.h"
#include "serveur/capture/WebCamCaptureCamera.h"
#include "serveur/capture/gstreamer/GstCaptureSystem.h"
#include "serveur/capture/tests/CameraKit.h"
#include "serveur/capture/tests/JpegPictures.h"
#include "serveur/capture/tests/MjpegHttpServer.h"
#include "serveur/capture/tests/WholeSink.h"
#include "serveur/core/PixelFormat.h"
#include "serveur/core/WebCam.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace vorlix::capture {
namespace {

constexpr int kW = 160;
constexpr int kH = 120;
constexpr int kBlock = 24;

// Frame n: the block at x = 8 + 5n (its luma tells the frames apart).
std::vector<std::uint8_t> MovingFrame(int n, int subsampling = TJSAMP_420)
{
    return fakes::Compress(fakes::BlockPicture(kW, kH, 8 + 5 * n, 40, kBlock), kW, kH, subsampling, 90);
}

// The block's left edge as the frame shows it: the first bright luma of row 52.
int BlockLeft(const Frame& frame)
{
    const std::uint8_t* row = frame.data.data() + static_cast<std::size_t>(52) * frame.width;
    for (int x = 0; x < frame.width; ++x) {
        if (row[x] > 200) {
            return x;
        }
    }
    return -1;
}

class RecordingSink final : public CaptureCamera, public FrameSink {
public:
    std::string IniFile() const override { return {}; }
    int Fps() const override { return 0; }
    void ResizeBuffers(int, int) override {}
    void ComputeZoneThresholds() override {}
    FrameSink& Sink() override { return *this; }
    void ProcessFrame(const Frame& frame) override
    {
        const std::lock_guard lock(mutex_);
        if (frame.format != kFourccI420 || frame.width != kW || frame.height != kH ||
            frame.data.size() != FrameBytes(kFourccI420, kW, kH)) {
            ++wrong;
        }
        lefts.push_back(BlockLeft(frame));
        threads.insert(std::this_thread::get_id());
        ++count_;
    }
    int Count() const { return count_.load(); }

    std::mutex mutex_;
    std::vector<int> lefts;
    std::set<std::thread::id> threads;
    int wrong = 0;

private:
    std::atomic<int> count_{0};
};

TEST(MjpegCapture, CutAndGarbagePartsAreSkippedAndCountedAndTheGoodOnesArriveAsI420)
{
    std::vector<std::vector<std::uint8_t>> parts;
    std::vector<int> goodLefts;
    for (int n = 0; n < 12; ++n) {
        std::vector<std::uint8_t> jpeg = MovingFrame(n, n % 3 == 0 ? TJSAMP_422 : TJSAMP_420);
        if (n == 3) {
            jpeg.resize(jpeg.size() / 2);  // cut short
        } else if (n == 6) {
            std::fill(jpeg.begin() + 2, jpeg.end() - 2, std::uint8_t{0x5A});  // garbage between the markers
        } else if (n == 9) {
            jpeg = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'};
        } else {
            goodLefts.push_back(8 + 5 * n);
        }
        parts.push_back(std::move(jpeg));
    }
    RecordingSink sink;
    std::atomic<GstCaptureSystem*> system{nullptr};
    // Each part waits until the one before was taken or refused.
    fakes::MjpegHttpServer camera(std::move(parts), [&](std::size_t i) {
        return kestrel::test::WaitUntil([&] {
            GstCaptureSystem* const layer = system.load();
            return layer != nullptr && static_cast<std::size_t>(sink.Count()) + layer->RejectedPictures() >= i;
        });
    });
    CaptureServer server(sink);
    auto layer = std::make_unique<GstCaptureSystem>(camera.Url(), 50ms);
    GstCaptureSystem* const layerView = layer.get();
    ASSERT_TRUE(server.StartSystem(std::move(layer)));
    ASSERT_TRUE(server.StartCapture(0, 0));
    system.store(layerView);
    EXPECT_TRUE(kestrel::test::WaitUntil(
        [&] {
            return static_cast<std::size_t>(sink.Count()) == goodLefts.size() && layerView->RejectedPictures() == 3;
        },
        10s));
    server.CloseDevice();

    const std::lock_guard lock(sink.mutex_);
    EXPECT_EQ(sink.wrong, 0);
    EXPECT_EQ(layerView->RejectedPictures(), 3U);
    EXPECT_EQ(layerView->ReplacedFrames(), 0U);
    EXPECT_EQ(camera.Connections(), 1) << "a bad part does not cost the connection";
    ASSERT_EQ(sink.lefts.size(), goodLefts.size());
    for (std::size_t i = 0; i < goodLefts.size(); ++i) {
        EXPECT_NEAR(sink.lefts[i], goodLefts[i], 1) << "frame " << i;
    }
    // Measured on one thread of the capture layer's own.
    ASSERT_EQ(sink.threads.size(), 1U);
    EXPECT_NE(*sink.threads.begin(), std::this_thread::get_id());
}

// What the consumers are told of each detection.
struct Seen {
    EventKind kind;
    int zone;
    std::uint32_t zoneMask;
    int centreX;
    int centreY;
    int pictureNumber;
    bool operator==(const Seen&) const = default;
};

class EventLog final : public DetectionConsumer {
public:
    void OnDetection(const Detection& d) override
    {
        const std::lock_guard lock(mutex);
        const ZoneReading& z = d.Zone(d.zone);
        events.push_back(Seen{d.kind, d.zone, d.zoneMask, z.centreX, z.centreY, d.pictureNumber});
    }
    std::mutex mutex;
    std::vector<Seen> events;
};

using fakes::ActionsRoad;
using fakes::CountedCamera;

// The block crossing two zones (left and right halves) and back, seen by a
// camera object with its actions; a fixed clock keeps the reference image
// where the frames put it.
struct CameraRun {
    std::vector<Seen> events;
    int pictures = 0;
    int measuredWidth = 0;
    int pictureWidth = 0;  // of the last detection picture written
    int pictureHeight = 0;
};

using fakes::PictureSize;

CameraRun DetectionsOf(JpegDecoding decoding, int scale = 1)
{
    std::vector<std::vector<std::uint8_t>> parts;
    parts.reserve(34);
    for (int n = 0; n < 8; ++n) {
        parts.push_back(MovingFrame(0));  // a still start: the reference image
    }
    for (int n = 0; n < 26; ++n) {
        parts.push_back(MovingFrame(n));
    }
    const std::size_t total = parts.size();
    const kestrel::test::TempDir temp("capture_mjpeg");
    // Two zones, left and right halves, stored for the picture's size.
    const std::string ini = temp.Path() + "/Vorlix.ini";
    for (const auto& [key, value] :
         {std::pair{"NbSelection", 2}, std::pair{"x0_0", 0}, std::pair{"y0_0", 0}, std::pair{"x1_0", kW / 2},
          std::pair{"y1_0", kH}, std::pair{"x0_1", kW / 2}, std::pair{"y0_1", 0}, std::pair{"x1_1", kW},
          std::pair{"y1_1", kH}, std::pair{"width", kW}, std::pair{"height", kH}}) {
        kestrel::profile::WriteInt(ini, "Vorlix", key, value);
    }
    WebCam cam([] { return std::time_t{1'000'000}; });
    cam.LoadConfiguration(0, temp.Path());
    EXPECT_EQ(cam.SettingsFile(), ini);
    fs::create_directories(cam.PictureDir());
    EventLog log;
    CountedCamera counted(cam);
    {
        const ActionsRoad road(cam, &log);
        cam.SetDetection(true);
        // Every frame is measured before the next is sent: both runs see the same frames.
        fakes::MjpegHttpServer camera(std::move(parts), [&](std::size_t i) {
            return kestrel::test::WaitUntil([&] { return static_cast<std::size_t>(counted.frames.load()) >= i; });
        });
        CaptureServer server(counted);
        auto layer = std::make_unique<GstCaptureSystem>(camera.Url(), 50ms, 10s, decoding);
        layer->SetDetectionScale(scale);
        EXPECT_TRUE(server.StartSystem(std::move(layer)));
        EXPECT_TRUE(server.StartCapture(0, 0));
        cam.SetCaptureRunning(true);
        EXPECT_TRUE(
            kestrel::test::WaitUntil([&] { return static_cast<std::size_t>(counted.frames.load()) == total; }, 20s));
        server.CloseDevice();
        cam.SetCaptureRunning(false);
    }
    CameraRun run;
    run.pictures = cam.shots.load();
    run.measuredWidth = cam.Width();
    std::tie(run.pictureWidth, run.pictureHeight) =
        PictureSize(fs::path(cam.PictureDir()) / ("vorlix_" + std::to_string(run.pictures) + ".jpg"));
    const std::lock_guard lock(log.mutex);
    run.events = log.events;
    return run;
}

TEST(MjpegCapture, AMovingBlockGivesTheSameDetectionsThroughOurDecoderAsThroughJpegdec)
{
    const CameraRun ownRun = DetectionsOf(JpegDecoding::Own);
    const CameraRun gstRun = DetectionsOf(JpegDecoding::Gstreamer);
    const std::vector<Seen>& own = ownRun.events;
    const std::vector<Seen>& gst = gstRun.events;
    ASSERT_GE(own.size(), 4U) << "the moving block is detected";
    EXPECT_EQ(ownRun.pictures, gstRun.pictures);
    EXPECT_EQ(ownRun.pictureWidth, kW);
    ASSERT_EQ(own.size(), gst.size());
    std::set<int> zones;
    for (std::size_t i = 0; i < own.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(own[i].kind, gst[i].kind);
        EXPECT_EQ(own[i].zone, gst[i].zone);
        EXPECT_EQ(own[i].zoneMask, gst[i].zoneMask);
        EXPECT_EQ(own[i].pictureNumber, gst[i].pictureNumber);
        EXPECT_NEAR(own[i].centreX, gst[i].centreX, 1);
        EXPECT_NEAR(own[i].centreY, gst[i].centreY, 1);
        zones.insert(own[i].zone);
    }
    EXPECT_EQ(zones.size(), 2U) << "the block is seen in both zones";
}

TEST(MjpegCapture, AtDetectionScaleTwoTheBlockIsSeenInTheSameZonesAndThePicturesAreWhole)
{
    const CameraRun whole = DetectionsOf(JpegDecoding::Own, 1);
    const CameraRun half = DetectionsOf(JpegDecoding::Own, 2);
    EXPECT_EQ(whole.measuredWidth, kW);
    EXPECT_EQ(half.measuredWidth, kW / 2) << "measured at half size";
    EXPECT_EQ(half.pictureWidth, kW) << "written whole";
    EXPECT_EQ(half.pictureHeight, kH);
    ASSERT_GE(whole.events.size(), 4U);
    // Measured at half size the fast pass samples the zones more densely, so
    // it may fire on more frames; the story is the same: the same kinds in
    // the same zones, in the same order.
    const auto story = [](const std::vector<Seen>& events) {
        std::vector<std::pair<EventKind, int>> runs;
        for (const Seen& e : events) {
            if (runs.empty() || runs.back() != std::pair{e.kind, e.zone}) {
                runs.emplace_back(e.kind, e.zone);
            }
        }
        return runs;
    };
    EXPECT_EQ(story(half.events), story(whole.events));
    EXPECT_GE(half.events.size(), whole.events.size());
    // Every place the block was seen at full size is seen at half size, in
    // the picture's pixels, within the scale's rounding.
    for (const Seen& w : whole.events) {
        const bool found = std::any_of(half.events.begin(), half.events.end(), [&](const Seen& h) {
            return h.kind == w.kind && h.zone == w.zone && std::abs(h.centreX - w.centreX) <= 2 &&
                   std::abs(h.centreY - w.centreY) <= 2;
        });
        EXPECT_TRUE(found) << "block at " << w.centreX << "," << w.centreY;
    }
}

// The capture operations' view of a sink that is not a camera object.
class SinkCamera final : public CaptureCamera {
public:
    explicit SinkCamera(FrameSink& sink) : sink_(sink) {}
    std::string IniFile() const override { return {}; }
    int Fps() const override { return 0; }
    void ResizeBuffers(int, int) override {}
    void ComputeZoneThresholds() override {}
    FrameSink& Sink() override { return sink_; }

private:
    FrameSink& sink_;
};

// The part whose decode at `scale` is `data`, -1 for none.
int WhichPart(const std::vector<std::vector<std::uint8_t>>& parts, const std::vector<std::uint8_t>& data, int scale)
{
    for (std::size_t i = 0; i < parts.size(); ++i) {
        JpegFrameDecoder decoder;
        std::vector<std::uint8_t> out;
        const std::optional<Frame> frame = decoder.Decode(parts[i], scale, out);
        if (frame && std::equal(frame->data.begin(), frame->data.end(), data.begin(), data.end())) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The first frame is measured while the camera sends the others, so the
// buffers they came in are the source's newer ones: the whole picture the
// frame gets is still its own.
TEST(MjpegCapture, AtDetectionScaleTwoAFrameWrittenLateGetsItsOwnWholePicture)
{
    std::vector<std::vector<std::uint8_t>> parts;
    parts.reserve(12);
    for (int n = 0; n < 12; ++n) {
        parts.push_back(MovingFrame(n));
    }
    fakes::WholeSink sink;
    sink.Hold();
    SinkCamera camera(sink);
    // The first part alone until it is being measured, then all the others at once.
    fakes::MjpegHttpServer source(parts, [&sink](std::size_t part) {
        return part == 0 || kestrel::test::WaitUntil([&sink] { return sink.Entered() >= 1; }, 10s);
    });
    CaptureServer server(camera);
    auto layer = std::make_unique<GstCaptureSystem>(source.Url(), 50ms);
    layer->SetDetectionScale(2);
    GstCaptureSystem* const view = layer.get();
    ASSERT_TRUE(server.StartSystem(std::move(layer)));
    ASSERT_TRUE(server.StartCapture(0, 0));
    EXPECT_TRUE(kestrel::test::WaitUntil([&] { return sink.Entered() == 1 && view->ReplacedFrames() >= 3; }, 10s));
    sink.Open();
    EXPECT_TRUE(kestrel::test::WaitUntil([&] { return sink.Count() + view->ReplacedFrames() == parts.size(); }, 10s));
    server.CloseDevice();

    const std::vector<fakes::WholeSeen> frames = sink.Frames();
    ASSERT_GE(frames.size(), 2U);
    int last = -1;
    for (const fakes::WholeSeen& f : frames) {
        EXPECT_EQ(f.width, kW / 2);
        EXPECT_EQ(f.scale, 2);
        const int n = WhichPart(parts, f.data, 2);
        ASSERT_GT(n, last) << "each frame is one of the parts, in order";
        last = n;
        EXPECT_EQ(f.wholeWidth, kW);
        EXPECT_EQ(WhichPart(parts, f.whole, 1), n) << "the whole picture of the same part";
    }
    EXPECT_EQ(WhichPart(parts, frames.front().data, 2), 0);
    EXPECT_EQ(last, 11);
    EXPECT_EQ(view->RejectedPictures(), 0U);
}

}  // namespace
}  // namespace vorlix::capture
