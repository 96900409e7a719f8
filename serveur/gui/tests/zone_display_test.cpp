// The zone selection and the history in the window, offscreen, with mouse
// events sent to the picture: zones drawn at any window size, the click, the
// right click, "end" and "ResizeVideo", zones reaching the settings file and
// the engine's thresholds, and the history dialog's pictures and texts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <filesystem>
#include <fstream>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/actions/JpegWriter.h"
#include "serveur/app/MenuCommands.h"
#include "serveur/app/tests/AppDoubles.h"
#include "serveur/audio/AudioConfig.h"
#include "serveur/audio/RecordingPlayer.h"
#include "serveur/audio/tests/AlsaTestEnv.h"
#include "serveur/core/WebCam.h"
#include "serveur/gui/HistoryDialog.h"
#include "serveur/gui/MainWindow.h"
#include "serveur/gui/PictureArea.h"
#include "serveur/gui/ZoneDialog.h"

using namespace vorlix;
using namespace vorlix::app;
using namespace vorlix::app::testing;
using namespace vorlix::gui;
using namespace std::chrono_literals;
namespace profile = kestrel::profile;

namespace {

class QuietShell : public kestrel::TrayShell {
public:
    bool Notify(kestrel::TrayAction /*action*/, const kestrel::TrayIconRecord& /*record*/) override { return true; }
};

// The camera port over a real camera object, as the server's assembly
// adapts it: zones, thresholds and the settings file are the engine's own.
class EngineCamera : public RecordingCamera {
public:
    EngineCamera(CameraRecord& r, WebCam& cam) : RecordingCamera(r), cam_(cam) {}
    void ComputeZoneThresholds() override { cam_.ComputeZoneThresholds(); }
    PictureGeometry Geometry() const override { return {cam_.Width(), cam_.Height(), cam_.TopDown()}; }
    ZoneSnapshot Zones() const override { return cam_.Zones().Snapshot(); }
    void SetZones(const ZoneSnapshot& zones) override { cam_.Zones().SetAll(zones); }
    void ZoneDrawn() override
    {
        cam_.RequestClientRefresh();
        cam_.RequestReferenceImage();
    }
    void SaveZones() override { cam_.SaveZones(); }

private:
    WebCam& cam_;
};

struct Desk {
    TempDir dir;
    CameraRecord cam;
    RecordingMessages messages;
    FixedClock clock{1, 10, 0};
    WindowDisplay display;
    EventsQueue events;
    std::unique_ptr<ServerApp> app;
    std::unique_ptr<MainWindow> window;
    WebCam* engine = nullptr;

    explicit Desk(WebCam* real = nullptr) : engine(real)
    {
        AppServices s;
        s.makeCamera = [this](const ServerPaths&, int) -> std::unique_ptr<CameraPort> {
            if (engine != nullptr) {
                return std::make_unique<EngineCamera>(cam, *engine);
            }
            return std::make_unique<RecordingCamera>(cam);
        };
        s.messages = &messages;
        s.clock = &clock;
        s.events = &events;
        app = std::make_unique<ServerApp>(CommandLine{}, dir.path.string(), std::move(s));
        window = std::make_unique<MainWindow>(*app, display, events, TranslateFn{}, std::make_unique<QuietShell>());
        EXPECT_FALSE(app->Start().has_value());
        window->CreateTray();
        window->show();
        window->Action(kCmdOpen)->trigger();
    }
    ~Desk()
    {
        window.reset();
        app.reset();
    }
    std::string Ini() const { return (dir.path / "Vorlix.ini").string(); }
    // The picture area at exactly w x h.
    void AreaSize(int w, int h)
    {
        window->resize(window->width() + w - window->Picture()->width(),
                       window->height() + h - window->Picture()->height());
        kestrel::test::WaitUntil(
            [&] {
                QApplication::processEvents();
                return window->Picture()->width() == w && window->Picture()->height() == h;
            },
            2s, 1ms);
    }
    void Mouse(QEvent::Type type, Qt::MouseButton button, QPoint at)
    {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, QPointF(at), QPointF(window->Picture()->mapToGlobal(at)),
                          type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
        QApplication::sendEvent(window->Picture(), &event);
    }
    // Picture pixel p at its first screen pixel of the area.
    QPoint At(int x, int y) const
    {
        const PictureGeometry g = app->Cam()->Geometry();
        const int w = window->Picture()->width();
        const int h = window->Picture()->height();
        return {static_cast<int>((static_cast<long long>(x) * w + g.width - 1) / g.width),
                static_cast<int>((static_cast<long long>(y) * h + g.height - 1) / g.height)};
    }
    void Drag(QPoint from, QPoint to)
    {
        Mouse(QEvent::MouseButtonPress, Qt::LeftButton, from);
        Mouse(QEvent::MouseMove, Qt::LeftButton, (from + to) / 2);
        Mouse(QEvent::MouseMove, Qt::LeftButton, to);
        Mouse(QEvent::MouseButtonRelease, Qt::LeftButton, to);
    }
    void RightClick(QPoint at)
    {
        Mouse(QEvent::MouseButtonPress, Qt::RightButton, at);
        Mouse(QEvent::MouseButtonRelease, Qt::RightButton, at);
    }
    void End()
    {
        ASSERT_NE(window->Zones(), nullptr);
        window->Zones()->EndButton()->click();
        QApplication::processEvents();
    }
};

TEST(ZoneDrawing, ADragAddsTheZoneAtAnyWindowSize)
{
    for (const QSize area : {QSize(320, 240), QSize(640, 480), QSize(401, 333), QSize(160, 120), QSize(997, 541)}) {
        Desk d;
        d.AreaSize(area.width(), area.height());
        d.window->RunCommand(kCmdZones);
        ASSERT_NE(d.window->Zones(), nullptr);
        EXPECT_TRUE(d.window->Picture()->Stretch());
        EXPECT_FALSE(d.window->Action(kCmdZones)->isEnabled());  // one selection at a time
        d.Drag(d.At(50, 40), d.At(10, 100));
        ASSERT_EQ(d.cam.zones.count, 1) << area.width() << "x" << area.height();
        EXPECT_EQ(d.cam.zones.slots[0], (ZoneCorners{10, 40, 50, 100, false})) << area.width() << "x" << area.height();
        EXPECT_EQ(d.cam.zoneDrawnCalls, 1);
    }
}

TEST(ZoneDrawing, WithoutTheDialogTheMouseDrawsNothing)
{
    Desk d;
    d.Drag(d.At(50, 40), d.At(10, 100));
    EXPECT_EQ(d.cam.zones.count, 0);
    EXPECT_EQ(d.cam.zoneDrawnCalls, 0);
}

TEST(ZoneDrawing, AClickAddsNothingARightClickRemovesBothOverlappingZones)
{
    Desk d;
    d.AreaSize(320, 240);
    d.window->RunCommand(kCmdZones);
    d.Drag(d.At(30, 30), d.At(30, 30));
    EXPECT_EQ(d.cam.zones.count, 0);
    d.Drag(d.At(10, 10), d.At(120, 120));
    d.Drag(d.At(60, 60), d.At(200, 200));
    d.Drag(d.At(250, 10), d.At(300, 50));
    ASSERT_EQ(d.cam.zones.count, 3);
    d.RightClick(d.At(90, 90));
    ASSERT_EQ(d.cam.zones.count, 1);
    EXPECT_EQ(d.cam.zones.slots[0], (ZoneCorners{250, 10, 300, 50, false}));
}

TEST(ZoneDrawing, EndWithNoZoneLeavesTheWholePictureAndTheOwnSizeAgain)
{
    Desk d;
    profile::WriteInt(d.Ini(), "Vorlix", "ResizeVideo", 0);
    d.window->RunCommand(kCmdZones);
    EXPECT_TRUE(d.window->Picture()->Stretch());  // stretched while the dialog is open
    d.Drag(d.At(50, 40), d.At(10, 100));
    d.window->Zones()->ClearButton()->click();
    EXPECT_EQ(d.cam.zones.count, 0);
    d.End();
    EXPECT_EQ(d.window->Zones(), nullptr);
    ASSERT_EQ(d.cam.zones.count, 1);
    EXPECT_EQ(d.cam.zones.slots[0], (ZoneCorners{0, 0, 320, 240, true}));
    EXPECT_FALSE(d.window->Picture()->Stretch());  // "ResizeVideo" read again
    EXPECT_TRUE(d.window->Action(kCmdZones)->isEnabled());
    EXPECT_EQ(d.cam.zoneSaves, 1);

    // With "ResizeVideo" = 1 the picture stays stretched after "end".
    profile::WriteInt(d.Ini(), "Vorlix", "ResizeVideo", 1);
    d.window->RunCommand(kCmdZones);
    d.End();
    EXPECT_TRUE(d.window->Picture()->Stretch());
}

TEST(ZoneDrawing, ThePictureIsShownInItsOwnSizeOrStretched)
{
    Desk d;
    d.AreaSize(200, 150);
    auto picture = std::make_shared<DisplayPicture>();
    picture->width = 40;
    picture->height = 30;
    picture->rgb.assign(std::size_t{40} * 30 * 3, 0);
    for (std::size_t i = 0; i < picture->rgb.size(); i += 3) {
        picture->rgb[i] = 250;
    }
    d.window->Picture()->SetPicture(picture);
    d.window->Picture()->SetStretch(false);
    QImage own = d.window->Picture()->grab().toImage();
    EXPECT_EQ(qRed(own.pixel(10, 10)), 250);
    EXPECT_NE(qRed(own.pixel(100, 100)), 250);  // beyond the picture: the background
    d.window->RunCommand(kCmdZones);
    QImage stretched = d.window->Picture()->grab().toImage();
    EXPECT_EQ(qRed(stretched.pixel(100, 100)), 250);
    EXPECT_EQ(qRed(stretched.pixel(195, 145)), 250);
}

TEST(ZoneDrawing, DrawnZonesReachTheSettingsFileAndTheThresholds)
{
    TempDir work;
    WebCam cam;
    cam.LoadConfiguration(0, work.path.string());
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(320 * 240 * 3), 80);
    cam.SetCaptureRunning(true);
    cam.ProcessFrame(Frame{grey, 320, 240, kFormatRgb24, kTopDown});
    ASSERT_EQ(cam.Width(), 320);
    Desk d(&cam);
    d.AreaSize(480, 360);
    d.window->RunCommand(kCmdZones);
    d.Drag(d.At(50, 40), d.At(10, 100));
    EXPECT_TRUE(cam.ClientRefreshRequested());
    EXPECT_EQ(cam.LastDetectionTime(), 0);
    d.End();

    const std::string ini = cam.SettingsFile();
    EXPECT_EQ(profile::GetInt(ini, "Vorlix", "NbSelection", -1), 1);
    EXPECT_EQ(profile::GetInt(ini, "Vorlix", "x0_0", -1), 10);
    EXPECT_EQ(profile::GetInt(ini, "Vorlix", "y0_0", -1), 40);
    EXPECT_EQ(profile::GetInt(ini, "Vorlix", "x1_0", -1), 50);
    EXPECT_EQ(profile::GetInt(ini, "Vorlix", "y1_0", -1), 100);
    EXPECT_EQ(profile::GetInt(ini, "Vorlix", "xy_0", -1), 0);
    // 40 x 60 of 320 x 240: 312 + 1 parts per ten thousand, threshold 313 x 500 / 10000 + 1.
    EXPECT_EQ(cam.ZoneThreshold(0), 16);
    EXPECT_EQ(cam.Zone(1), (ZoneCorners{0, 0, 320, 240, true}));  // the scratch slot

    // The next start reads the same zone.
    WebCam again;
    again.LoadConfiguration(0, work.path.string());
    EXPECT_EQ(again.ZoneCount(), 1);
    EXPECT_EQ(again.Zone(0), (ZoneCorners{10, 40, 50, 100, false}));
}

struct HistoryDesk : Desk {
    std::string files;
    HistoryDesk()
    {
        files = (dir.path / "files").string();
        std::filesystem::create_directories(files);
        cam.pictureDir = files;
        cam.shots = 6;  // current picture 1 of 5
        cam.maxJpg = 5;
    }
    void Picture(int n, int w, int h, const std::string& comment)
    {
        std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w * h * 3), 120);
        ASSERT_TRUE(WriteJpeg(rgb, files + "/vorlix_" + std::to_string(n) + ".jpg", 80, w, h, comment));
    }
    HistoryDialog* Open()
    {
        window->RunCommand(kCmdHistory);
        return window->History();
    }
};

TEST(HistoryView, OpensOnTheNewestPictureWithItsTexts)
{
    HistoryDesk d;
    d.Picture(1, 64, 48, "IN1 (130)");
    HistoryDialog* h = d.Open();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->Scroll()->value(), 5);
    EXPECT_EQ(h->Browser().Number(), 1);
    EXPECT_EQ(h->PathText().toStdString(), d.files + "/vorlix_1.jpg");
    EXPECT_EQ(h->DescriptionText().toStdString(), "IN1 (130)    Dimensions : 64 x 48");
    EXPECT_FALSE(h->TimeText().isEmpty());
    EXPECT_FALSE(h->PlayButton()->isVisibleTo(h));  // sound recording off
    const HistoryPlacement at = h->Placement();
    EXPECT_FALSE(at.stretched);
    EXPECT_EQ(at.x, (h->width() - 64) / 2);
    EXPECT_EQ(at.y, (h->height() - 48 - 80) / 2);
    // The picture is painted there, unscaled.
    const QImage shown = h->grab().toImage();
    EXPECT_NEAR(qRed(shown.pixel(at.x + 32, at.y + 24)), 120, 4);
}

TEST(HistoryView, ScrollingWalksTheSetAndAMissingPictureIsSaid)
{
    HistoryDesk d;
    d.Picture(1, 64, 48, "newest");
    d.Picture(0, 64, 48, "older");
    HistoryDialog* h = d.Open();
    ASSERT_NE(h, nullptr);
    h->Scroll()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(h->Scroll()->value(), 4);
    EXPECT_EQ(h->Browser().Number(), 0);
    EXPECT_EQ(h->DescriptionText().toStdString(), "older    Dimensions : 64 x 48");
    h->Scroll()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(h->Browser().Number(), 4);
    EXPECT_EQ(h->PathText().toStdString(), d.files + "/vorlix_4.jpg  (not found)");
    // A grey area of the last picture's size.
    EXPECT_EQ(h->Shown().size(), QSize(64, 48));
    EXPECT_EQ(qRed(h->Shown().pixel(10, 10)), kMissingGrey);
    h->Scroll()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(h->Scroll()->value(), 5);  // held at the newest
    h->Scroll()->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(h->Scroll()->value(), 1);  // and at the oldest
    EXPECT_EQ(h->Browser().Number(), 2);
}

TEST(HistoryView, ALargePictureIsStretchedIntoTheView)
{
    HistoryDesk d;
    d.Picture(1, 800, 600, "big");
    HistoryDialog* h = d.Open();
    ASSERT_NE(h, nullptr);
    h->resize(640, 520);
    const HistoryPlacement at = h->Placement();
    EXPECT_TRUE(at.stretched);
    EXPECT_EQ(at.x, 60);
    EXPECT_EQ(at.y, 5);
    EXPECT_EQ(at.width, h->width() - 120);
    EXPECT_EQ(at.height, h->height() - 160);
    const QImage shown = h->grab().toImage();
    EXPECT_NEAR(qRed(shown.pixel(at.x + at.width - 3, at.y + at.height - 3)), 120, 4);
    h->close();
    QApplication::processEvents();
}

TEST(HistoryView, WithSoundRecordingOffThereIsNoPlayButton)
{
    HistoryDesk d;
    audio::RecordingPlayer player;
    d.cam.player = &player;
    d.Picture(1, 64, 48, "newest");
    HistoryDialog* h = d.Open();
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(h->PlayButton()->isVisibleTo(h));
}

// The play button replays the recording of the shown detections on the
// playback device (an ALSA file device here) while the pictures advance.
TEST(HistoryView, PlayReplaysTheRecordingAndAdvancesThePictures)
{
    const int out = audio::test::AlsaTestEnv::PlaybackNumber("default");
    ASSERT_GE(out, 0);
    std::filesystem::remove(audio::test::AlsaTestEnv::DefaultOutput());
    HistoryDesk d;
    profile::WriteInt(d.Ini(), audio::kAudioSection, "management", 1);
    profile::WriteInt(d.Ini(), audio::kAudioSection, "device in", 0);
    profile::WriteInt(d.Ini(), audio::kAudioSection, "device out", out);
    profile::WriteInt(d.Ini(), audio::kAudioSection, "no activity time", 0);
    audio::RecordingPlayer player;
    player.Configure(audio::LoadAudioConfig(d.Ini()));
    d.cam.player = &player;
    d.Picture(0, 64, 48, "with sound");
    d.Picture(1, 64, 48, "newest");
    const std::string sound(9000, '\x40');  // about 100 ms of 8-bit stereo at 44100 Hz
    std::ofstream(d.files + "/vorlix_0.wav", std::ios::binary) << sound;

    HistoryDialog* h = d.Open();
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(h->PlayButton()->isVisibleTo(h));
    h->PlayButton()->click();
    ASSERT_TRUE(h->Replaying());
    EXPECT_EQ(h->ReplayText().toStdString(), "play vorlix_0.wav (+1 jpg)");
    EXPECT_EQ(h->Browser().Number(), 0);  // the replay starts on the recording's picture
    EXPECT_EQ(h->ReplayIntervalMs(), static_cast<int>(sound.size()) / 90 + 1 + 1);
    // One tick later the next picture is shown, and the replay goes no further.
    EXPECT_TRUE(kestrel::test::WaitUntil(
        [&] {
            QApplication::processEvents();
            return h->Browser().Number() == 1;
        },
        5s, 1ms));
    EXPECT_EQ(h->DescriptionText().toStdString(), "newest    Dimensions : 64 x 48");
    // The sound reached the playback device.
    EXPECT_TRUE(kestrel::test::WaitUntil(
        [] {
            std::error_code ec;
            return std::filesystem::file_size(audio::test::AlsaTestEnv::DefaultOutput(), ec) >= 9000 && !ec;
        },
        5s, 5ms));
    // A second press stops it.
    h->PlayButton()->click();
    EXPECT_FALSE(h->Replaying());
    EXPECT_FALSE(player.DeviceOpen());
    EXPECT_TRUE(h->ReplayText().isEmpty());
    h->close();
    QApplication::processEvents();
}

}  // namespace
