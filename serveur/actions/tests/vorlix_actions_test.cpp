// The actions' stops on values as the engine hands them: naming with the
// enlarged zone's centre, direction events from successive detections, the
// pictures at the engine's paths and the event listed with its picture.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "serveur/actions/VorlixActions.h"
#include "serveur/actions/tests/JpegRead.h"
#include "serveur/core/Frame.h"
#include "serveur/core/PictureNames.h"
#include "serveur/core/ZoneMath.h"

namespace vorlix {
namespace {

class EventsList final : public EventsWindow {
public:
    void AddEntry(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

class VorlixActionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        frame_.assign(std::size_t{320} * 240 * 3, 70);
        annotated_.assign(std::size_t{320} * 240 * 4, 0);
        actions_.Firing().SetEventsWindow(&list_);
        actions_.LoadVocabulary([](const std::string& text) { return text; });
    }
    CameraFacts Facts(int maxJpg = 500) const
    {
        auto settings = std::make_shared<CameraSettings>();
        settings->maxJpg = maxJpg;
        CameraFacts facts;
        facts.settings = settings;
        facts.settingsFile = dir_.File("Vorlix.ini");
        facts.pictureDir = dir_.Path();
        return facts;
    }
    FramePicture Picture() { return FramePicture{frame_, annotated_, 320, 240, {}}; }
    // One matching zone {0, 0, 100, 100} measured `measure`; the enlarged
    // zone measured 100 around (cx, cy), as the engine hands it.
    Detection SingleZone(int measure, int cx, int cy, int shotsBefore = 0, int maxJpg = 500)
    {
        Detection d;
        d.matched = 1;
        d.zone = 0;
        d.zoneCount = 1;
        d.zones[0] = ZoneReading{{0, 0, 100, 100}, measure, 10, 40, 40};
        d.enlarged = ZoneReading{EnlargedZone(d.zones[0].zone, 320, 240), 100, 0, cx, cy};
        d.width = 320;
        d.height = 240;
        d.format = kFormatRgb24;
        d.topDown = kTopDown;
        d.time = now_;
        d.camera = Facts(maxJpg);
        d.shotsBefore = shotsBefore;
        d.shot = shotsBefore + 1;
        d.pictureNumber = NextPictureNumber(shotsBefore, maxJpg);
        d.picturePath = PicturePath(dir_.Path(), d.pictureNumber);
        d.soundPath = SoundPath(dir_.Path(), d.pictureNumber);
        d.picture = Picture();
        return d;
    }

    kestrel::test::TempDir dir_{"actions_hooks"};
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> annotated_;
    std::time_t now_ = 50000;
    VorlixActions actions_;
    EventsList list_;
};

TEST_F(VorlixActionsTest, NamingReadsTheEnlargedZoneOfTheValue)
{
    Detection d = SingleZone(34, 50, 50);
    actions_.Naming().Classify(d);
    EXPECT_EQ(d.kind, EventKind::IN);
    EXPECT_EQ(d.label, "Z_1_IN_CENTER (34) ");
    d = SingleZone(32, 10, 90);
    actions_.Naming().Classify(d);
    EXPECT_EQ(d.label, "Z_1_AHEAD_DOWN_LEFT (32) ");
    d = SingleZone(32, 0, 50);
    actions_.Naming().Classify(d);
    EXPECT_EQ(d.kind, EventKind::NEAR);
}

TEST_F(VorlixActionsTest, SteadyDriftFiresOneDirectionEventBeforeTheDetection)
{
    for (const int x : {10, 40, 70}) {
        Detection d = SingleZone(50, x, 50, 6);
        actions_.Naming().Classify(d);
        ++now_;
    }
    int directions = 0;
    for (const std::string& line : list_.lines) {
        directions += line.find("\"In zone 1 left to right\"") != std::string::npos ? 1 : 0;
        // fired before the detection's picture: listed with the last one written
        EXPECT_NE(line.find(" Events(6)="), std::string::npos) << line;
    }
    EXPECT_EQ(directions, 1);
    EXPECT_EQ(actions_.Naming().Tracking(0).lastTime, 0);  // restarts at the next detection
}

TEST_F(VorlixActionsTest, SomeZonesTrackEachMatchingZoneAtItsOwnCentre)
{
    Detection d;
    d.matched = 2;
    d.kind = EventKind::SOMEZ;
    d.zoneCount = 3;
    d.zones[0] = ZoneReading{{0, 0, 50, 50}, 90, 10, 20, 20};
    d.zones[1] = ZoneReading{{50, 0, 100, 50}, 5, 10, 70, 20};
    d.zones[2] = ZoneReading{{100, 0, 150, 50}, 90, 10, 120, 30};
    d.time = now_;
    d.camera = Facts();
    d.label = "SOMEZ_1_3 (185) ";
    actions_.Naming().Classify(d);
    EXPECT_EQ(d.label, "SOMEZ_1_3 (185) ");  // named by the engine
    EXPECT_EQ(actions_.Naming().Tracking(0).lastX, 20);
    EXPECT_EQ(actions_.Naming().Tracking(1).lastTime, 0);  // not matching: untouched
    EXPECT_EQ(actions_.Naming().Tracking(2).lastX, 120);
    EXPECT_EQ(actions_.Naming().Tracking(2).lastY, 30);
}

TEST_F(VorlixActionsTest, DetectionPictureAtTheEngineSPathAndItsEvent)
{
    Detection d = SingleZone(130, 50, 50, 3, 3);
    d.label = "Z_1_IN_CENTER (130) ";
    actions_.Pictures().WriteDetectionPicture(d);
    actions_.Events().OnDetection(d);
    EXPECT_EQ(d.picturePath, dir_.Path() + "/vorlix_1.jpg");
    const test::DecodedJpeg decoded = test::ReadJpeg(d.picturePath);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.comments, (std::vector<std::string>{"Vorlix ==> Z_1_IN_CENTER (130)  Quality : 30%"}));
    // the event is listed with the picture just written (shot modulo Max jpg)
    ASSERT_FALSE(list_.lines.empty());
    EXPECT_NE(list_.lines[0].find(" Events(1)=\"In zone 1\""), std::string::npos) << list_.lines[0];
}

TEST_F(VorlixActionsTest, TranslatedCommentFormatIsUsed)
{
    actions_.LoadVocabulary([](const std::string& text) {
        return text == "Vorlix ==> %s Quality : %d%%" ? std::string("Vorlix ==> %s Qualite : %d%%") : text;
    });
    Detection d = SingleZone(130, 50, 50);
    d.label = "ALLZ (5) ";
    actions_.Pictures().WriteDetectionPicture(d);
    EXPECT_EQ(test::ReadJpeg(d.picturePath).comments, (std::vector<std::string>{"Vorlix ==> ALLZ (5)  Qualite : 30%"}));
}

TEST_F(VorlixActionsTest, RefreshAndSavePicturesAtTheRequestedPaths)
{
    PictureRequest refresh{Picture(), Facts(), RefreshPicturePath(dir_.Path()), now_};
    actions_.Pictures().OnClientRefresh(refresh);
    EXPECT_TRUE(test::ReadJpeg(dir_.Path() + "/last.jpg").ok);
    PictureRequest save{Picture(), Facts(), SavedPicturePath(dir_.Path(), 1, 500), now_};
    actions_.Pictures().OnSaveImage(save);
    EXPECT_TRUE(test::ReadJpeg(dir_.Path() + "/vorlix_save_1.jpg").ok);
    EXPECT_TRUE(list_.lines.empty());
}

}  // namespace
}  // namespace vorlix
