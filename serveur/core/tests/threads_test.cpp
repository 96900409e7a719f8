// The main thread changes zones, flags and settings while the capture thread
// runs ProcessFrame: no torn zone is ever seen and the engine stays sound.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "libkestrel/profile/Profile.h"
#include "serveur/core/WebCam.h"
#include "serveur/core/tests/TestSupport.h"

namespace vorlix {
namespace {

namespace prof = kestrel::profile;
using test::FlatFrame;
using test::PaintBlock;
using test::TempDir;

constexpr int kW = 120, kH = 90;

// Zones written by the main thread always have x1 - x0 == 2 (y1 - y0).
bool Whole(const ZoneCorners& z)
{
    return z.x0 == 0 && z.y0 == 0 && z.x1 == kW && z.y1 == kH;
}
bool Consistent(const ZoneCorners& z)
{
    return Whole(z) || z == ZoneCorners{} || (z.x1 - z.x0 == 2 * (z.y1 - z.y0) && z.x0 >= 0 && z.x1 <= kW);
}

// The road's stops on the capture thread: the zones they are handed were
// copied from one snapshot of the table, and the table itself is never seen
// torn. The counters are read after the join or through atomics.
struct CaptureSideRoad : DetectionClassifier, DetectionConsumer, DisplayHook {
    explicit CaptureSideRoad(const WebCam& cam) : cam_(cam)
    {
        road.SetClassifier(this);
        road.SetDisplay(this);
        road.Add(*this);
    }
    std::atomic<int> detections{0}, refreshes{0}, saves{0}, paints{0}, torn{0}, badKind{0};
    DetectionRoad road;

    void Check(const Detection& d)
    {
        for (int slot = 0; slot < d.zoneCount; ++slot) {
            if (!Consistent(d.Zone(slot).zone)) {
                ++torn;
            }
        }
    }
    void CheckTable()
    {
        for (int slot = 0; slot < kZoneSlots; ++slot) {
            if (!Consistent(cam_.Zone(slot))) {
                ++torn;
            }
        }
    }
    void Classify(Detection& d) override
    {
        Check(d);
        d.label = "IN";
    }
    void OnSaveImage(const PictureRequest&) override { ++saves; }
    void OnClientRefresh(const PictureRequest&) override { ++refreshes; }
    void OnDetection(const Detection& d) override
    {
        Check(d);
        if (d.zone < 0 || d.zone >= kMaxZones || d.zone >= d.zoneCount) {
            ++badKind;
        }
        ++detections;
    }
    void SetActivityRange(int, int) override {}
    void SetActivityPosition(int) override {}
    void SetActivityColour(std::uint32_t) override {}
    void Paint(const Frame&, const DisplayMarks&) override
    {
        CheckTable();
        ++paints;
    }

private:
    const WebCam& cam_;
};

TEST(Threads, MainThreadChangesWhileFramesAreProcessed)
{
    TempDir dir;
    prof::WriteString(dir.File("Vorlix.ini"), "Vorlix", "LANG", "en");
    std::atomic<std::time_t> now{5000};
    WebCam cam([&] { return now.load(); });
    cam.LoadConfiguration(0, dir.Path());
    CaptureSideRoad hooks(cam);
    cam.SetRoad(&hooks.road);
    cam.SetCaptureRunning(true);
    cam.SetDetection(true);

    const std::vector<std::uint8_t> still = FlatFrame(kW, kH, 60);
    std::vector<std::vector<std::uint8_t>> frames;
    for (int k = 0; k < 6; ++k) {
        std::vector<std::uint8_t> f = still;
        PaintBlock(f, kW, 3, k * 20, 30, k * 20 + 20, 60, 220);
        frames.push_back(std::move(f));
    }
    cam.ProcessFrame(Frame{still, kW, kH, kFormatRgb24, kTopDown});  // buffers on the capture side first

    constexpr int kFrames = 600;
    // Frames go on until the main thread has had its turns too: on a busy
    // machine the capture thread could otherwise finish alone.
    constexpr int kMinRounds = 200;
    std::atomic<int> rounds{0};
    std::atomic<bool> done{false};
    std::thread capture([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (int i = 0; i < kFrames || (rounds.load() < kMinRounds && std::chrono::steady_clock::now() < deadline);
             ++i) {
            const auto& f = (i % 3 == 0) ? still : frames[static_cast<std::size_t>(i % 6)];
            cam.ProcessFrame(Frame{f, kW, kH, kFormatRgb24, kTopDown});
            if (i % 50 == 0) {
                ++now;
            }
        }
        done = true;
    });

    int round = 0;
    while (!done.load()) {
        const int slot = round % kMaxZones;
        const int h = 5 + round % 20;
        const int x0 = (round * 7) % 40;
        cam.SetZone(slot, {x0, 10, x0 + 2 * h, 10 + h, false});
        cam.SetZoneCount(1 + round % kMaxZones);
        if (round % 5 == 0) {
            cam.ComputeZoneThresholds();
        }
        cam.SetDetection(round % 7 != 0);
        cam.SetDisplayOn(round % 4 != 0);
        if (round % 11 == 0) {
            cam.RequestReferenceImage();
        }
        if (round % 13 == 0) {
            cam.RequestClientRefresh();
        }
        if (round % 17 == 0) {
            cam.RequestSaveImage();
        }
        if (round % 19 == 0) {
            cam.UpdateSettings([&](CameraSettings& s) { s.noise = 40 + round % 20; });
        }
        // Reads the capture thread writes.
        EXPECT_GE(cam.ZoneMeasure(slot), 0);
        EXPECT_TRUE(Consistent(cam.Zone(slot)));
        ++round;
        rounds.store(round);
        if (round % 64 == 0) {
            std::this_thread::yield();
        }
    }
    capture.join();

    EXPECT_EQ(hooks.torn.load(), 0);
    EXPECT_EQ(hooks.badKind.load(), 0);
    EXPECT_GT(round, 0);
    EXPECT_GT(hooks.paints.load(), 0);

    // The engine is still sound: one known zone and a block inside it.
    cam.SetDisplayOn(true);
    cam.SetDetection(true);
    cam.SetZone(0, {0, 0, kW, kH, true});
    cam.SetZoneCount(1);
    cam.UpdateSettings([](CameraSettings& s) { s.noise = 50; });
    cam.ComputeZoneThresholds();
    // A bright frame differs from any previous image and becomes the previous
    // one by the third time at the latest (a pending save and refresh each take a frame).
    const std::vector<std::uint8_t> bright = FlatFrame(kW, kH, 200);
    for (int i = 0; i < 3; ++i) {
        cam.ProcessFrame(Frame{bright, kW, kH, kFormatRgb24, kTopDown});
    }
    cam.RequestReferenceImage();
    cam.RequestClientRefresh();
    cam.ProcessFrame(Frame{still, kW, kH, kFormatRgb24, kTopDown});
    const int before = hooks.detections.load();
    cam.ProcessFrame(Frame{frames[2], kW, kH, kFormatRgb24, kTopDown});
    EXPECT_EQ(hooks.detections.load(), before + 1);
    EXPECT_EQ(cam.ZoneMeasure(0), 20 * 30 * 3);
}

}  // namespace
}  // namespace vorlix
