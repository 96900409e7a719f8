// The hooks over a camera: the enlarged zone in the scratch slot, direction
// events from successive classifications, and the order of the detection
// actions with their hand-offs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "serveur/actions/VorlixActions.h"
#include "serveur/actions/tests/JpegRead.h"
#include "serveur/core/Frame.h"
#include "serveur/core/WebCam.h"

namespace fs = std::filesystem;

namespace vorlix {
namespace {

// A camera's state as plain data; the enlarged measure and its centre are
// what the detection engine would have measured.
class CameraState final : public CameraAccess, public ImageNotifier, public RecorderHook, public UploadRequests {
public:
    int Format() const override { return kFormatRgb24; }
    int TopDownFlag() const override { return kTopDown; }
    ZoneRect Zone(int slot) const override { return zones[static_cast<std::size_t>(slot)]; }
    void SetZone(int slot, const ZoneRect& zone) override { zones[static_cast<std::size_t>(slot)] = zone; }
    int ScratchSlot() const override { return count; }
    int ZoneMeasure(int slot) const override { return measures[static_cast<std::size_t>(slot)]; }
    int ZoneThreshold(int /*slot*/) const override { return 10; }
    std::pair<int, int> ZoneCentre(int slot) const override { return centres[static_cast<std::size_t>(slot)]; }
    int MeasureWithoutMask(int slot) override
    {
        measuredRects.push_back(zones[static_cast<std::size_t>(slot)]);
        centres[static_cast<std::size_t>(slot)] = enlargedCentre;
        return enlargedMeasure;
    }
    PictureJob Pictures() override
    {
        PictureJob job;
        job.frame = frame;
        job.annotated = annotated;
        job.width = width;
        job.height = height;
        job.pictureDir = dir;
        job.quality = 30;
        job.maxJpg = maxJpg;
        return job;
    }
    std::atomic<int>& Shots() override { return shots; }
    std::atomic<int>& SaveCounter() override { return saves; }
    EventContext EventState(int zone) override
    {
        EventContext context;
        context.settingsFile = dir + "/Vorlix.ini";
        context.pictureDir = dir;
        context.shots = shots;
        context.maxJpg = maxJpg;
        context.width = width;
        context.height = height;
        context.zone = zones[static_cast<std::size_t>(zone < 0 ? 0 : zone)];
        return context;
    }
    std::string Translate(const std::string& text) override { return text; }
    ImageNotifier* Notifier() override { return this; }
    RecorderHook* Recorder() override { return this; }
    UploadRequests* Uploads() override { return this; }
    WebCam& Camera() override { return camera; }

    void NotifyNewImage(const char* path) override { calls.push_back(std::string("notify ") + path); }
    int RecorderOnEvent(WebCam& /*cam*/, int rate, const std::string& wav) override
    {
        calls.push_back("record " + std::to_string(rate) + " " + wav);
        return 0;
    }
    int RecorderOnQuietFrame(WebCam& /*cam*/) override { return 0; }
    int StopRecordingForced(WebCam& /*cam*/) override { return 0; }
    void RequestFtpUpload() override { calls.push_back("ftp"); }
    void NotifyMailEvent() override { calls.push_back("mail"); }

    int width = 320;
    int height = 240;
    int count = 1;
    std::array<ZoneRect, 10> zones{};
    std::array<int, 10> measures{};
    std::array<std::pair<int, int>, 10> centres{};
    int enlargedMeasure = 100;
    std::pair<int, int> enlargedCentre{50, 50};
    std::vector<ZoneRect> measuredRects;
    std::vector<std::uint8_t> frame;
    std::vector<std::uint8_t> annotated;
    std::string dir;
    int maxJpg = 500;
    std::atomic<int> shots{0};
    std::atomic<int> saves{1};
    WebCam camera;  // what the hooks are handed; its own state is not read here
    std::vector<std::string> calls;
};

class EventsList final : public EventsWindow {
public:
    void AddEntry(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

class VorlixActionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/actions_hooks_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        camera_.dir = pattern;
        camera_.zones[0] = {0, 0, 100, 100};
        camera_.zones[1] = {0, 0, 320, 240};
        camera_.frame.assign(320 * 240 * 3, 70);
        camera_.annotated.assign(320 * 240 * 4, 0);
        actions_.Events().SetEventsWindow(&list_);
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(camera_.dir, ignored);
    }
    WebCam& Cam() { return camera_.Camera(); }

    CameraState camera_;
    std::time_t now_ = 50000;
    VorlixActions actions_{camera_, [this] { return now_; }};
    EventsList list_;
};

TEST_F(VorlixActionsTest, EnlargedZoneIsMeasuredInTheScratchSlotThenReset)
{
    camera_.measures[0] = 34;
    const SingleZoneResult result = actions_.ClassifySingleZone(Cam(), 0);
    ASSERT_EQ(camera_.measuredRects.size(), 1U);
    EXPECT_EQ(camera_.measuredRects[0], (ZoneRect{0, 0, 150, 150}));
    EXPECT_EQ(camera_.zones[1], (ZoneRect{0, 0, 320, 240}));
    EXPECT_EQ(result.kind, EventKind::IN);
    EXPECT_EQ(result.label, "Z_1_IN_CENTER (34) ");
    camera_.measures[0] = 32;
    camera_.enlargedCentre = {10, 90};
    EXPECT_EQ(actions_.ClassifySingleZone(Cam(), 0).label, "Z_1_AHEAD_DOWN_LEFT (32) ");
    camera_.enlargedCentre = {0, 50};
    EXPECT_EQ(actions_.ClassifySingleZone(Cam(), 0).kind, EventKind::NEAR);
}

TEST_F(VorlixActionsTest, SteadyDriftFiresOneDirectionEventBeforeTheDetection)
{
    camera_.measures[0] = 50;
    for (const int x : {10, 40, 70}) {
        camera_.enlargedCentre = {x, 50};
        actions_.ClassifySingleZone(Cam(), 0);
        ++now_;
    }
    int directions = 0;
    for (const std::string& line : list_.lines) {
        directions += line.find("\"In zone 1 left to right\"") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(directions, 1);
    EXPECT_EQ(actions_.Tracking(0).lastTime, 0);  // restarts at the next detection
}

TEST_F(VorlixActionsTest, DetectionActionsInOrder)
{
    camera_.maxJpg = 3;
    Detection detection;
    detection.zone = 0;
    detection.kind = EventKind::IN;
    detection.label = "Z_1_IN_CENTER (130) ";
    for (int i = 0; i < 4; ++i) {
        actions_.OnDetection(Cam(), detection);
    }
    const std::string d = camera_.dir;
    ASSERT_EQ(camera_.calls.size(), 16U);
    EXPECT_EQ(camera_.calls[0], "notify " + d + "/vorlix_1.jpg");
    EXPECT_EQ(camera_.calls[1], "ftp");
    EXPECT_EQ(camera_.calls[2], "mail");
    EXPECT_EQ(camera_.calls[3], "record 44100 " + d + "/vorlix_1.wav");
    EXPECT_EQ(camera_.calls[4], "notify " + d + "/vorlix_2.jpg");
    EXPECT_EQ(camera_.calls[8], "notify " + d + "/vorlix_0.jpg");
    EXPECT_EQ(camera_.calls[12], "notify " + d + "/vorlix_1.jpg");
    EXPECT_EQ(camera_.shots.load(), 4);
    // the event is listed with the picture just written (shots modulo Max jpg)
    ASSERT_FALSE(list_.lines.empty());
    EXPECT_NE(list_.lines[0].find(" Events(1)=\"In zone 1\""), std::string::npos) << list_.lines[0];
    const test::DecodedJpeg decoded = test::ReadJpeg(d + "/vorlix_1.jpg");
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.comments, (std::vector<std::string>{"Vorlix ==> Z_1_IN_CENTER (130)  Quality : 30%"}));
}

TEST_F(VorlixActionsTest, RefreshAndSavePictures)
{
    actions_.OnClientRefresh(Cam());
    ASSERT_EQ(camera_.calls.size(), 1U);
    EXPECT_EQ(camera_.calls[0], "notify " + camera_.dir + "/last.jpg");
    EXPECT_TRUE(test::ReadJpeg(camera_.dir + "/last.jpg").ok);
    actions_.OnSaveImage(Cam());
    EXPECT_TRUE(test::ReadJpeg(camera_.dir + "/vorlix_save_1.jpg").ok);
    EXPECT_EQ(camera_.saves.load(), 2);
}

}  // namespace
}  // namespace vorlix
