// The desktop window over the frame, offscreen: menus and their states after
// each command, the tray's texts and icons, the "Display" rule, the picture
// and activity bar fed from another thread, the events list, the About box
// and the message boxes.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <thread>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/app/MenuCommands.h"
#include "serveur/app/tests/AppDoubles.h"
#include "serveur/gui/ActivityBar.h"
#include "serveur/gui/EventsDialog.h"
#include "serveur/gui/MainWindow.h"
#include "serveur/gui/PictureArea.h"
#include "serveur/gui/TrayIcons.h"

using namespace vorlix::app;
using namespace vorlix::app::testing;
using namespace vorlix::gui;
using namespace std::chrono_literals;
namespace profile = kestrel::profile;

namespace {

struct ShellLog {
    std::vector<kestrel::TrayAction> actions;
    QIcon icon;
    std::string tip;
};

class RecordingShell : public kestrel::TrayShell {
public:
    explicit RecordingShell(ShellLog& log) : log_(log) {}
    bool Notify(kestrel::TrayAction action, const kestrel::TrayIconRecord& record) override
    {
        log_.actions.push_back(action);
        log_.icon = record.icon;
        log_.tip = record.tip.data();
        return true;
    }

private:
    ShellLog& log_;
};

// Runs the event loop until `done` holds (or the deadline passes).
bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit = 3s)
{
    return kestrel::test::WaitUntil(
        [&done] {
            QApplication::processEvents();
            return done();
        },
        limit, 1ms);
}

bool SameIcon(const QIcon& a, const QIcon& b)
{
    return !a.isNull() && !b.isNull() && a.pixmap(32).toImage() == b.pixmap(32).toImage();
}

// A frame, the window over it and a tray that works (or the real one).
struct Desk {
    TempDir dir;
    CameraRecord cam;
    RecordingMessages messages;
    FixedClock clock{1, 10, 0};
    WindowDisplay display;
    EventsQueue events;
    ShellLog tray;
    std::unique_ptr<ServerApp> app;
    std::unique_ptr<MainWindow> window;

    explicit Desk(int camera = 0, bool realTray = false, const std::filesystem::path& where = {})
    {
        if (!where.empty()) {
            dir.path = where;
        }
        CommandLine line;
        line.camera = camera;
        AppServices s;
        s.makeCamera = [this](const ServerPaths&, int) { return std::make_unique<RecordingCamera>(cam); };
        s.messages = &messages;
        s.clock = &clock;
        s.events = &events;
        app = std::make_unique<ServerApp>(line, dir.path.string(), std::move(s));
        std::unique_ptr<kestrel::TrayShell> shell;
        if (!realTray) {
            shell = std::make_unique<RecordingShell>(tray);
        }
        window = std::make_unique<MainWindow>(*app, display, events, TranslateFn{}, std::move(shell));
    }
    ~Desk()
    {
        window.reset();
        app.reset();
    }
    // Start-up steps 9 to 15.
    void Start()
    {
        ASSERT_FALSE(app->Start().has_value());
        window->CreateTray();
        window->ShowAtStart();
    }
    std::string Ini() const
    {
        return (dir.path / (app->Camera() == 0 ? "Vorlix.ini" : "Vorlix_" + std::to_string(app->Camera()) + ".ini"))
            .string();
    }
    bool On(int id) const { return window->Action(id)->isEnabled(); }
};

// Closes the next modal box and gives its title and text.
struct ModalCatcher {
    QString title;
    QString text;
    bool seen = false;
    QTimer timer;
    ModalCatcher()
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr) {
                return;
            }
            seen = true;
            title = modal->windowTitle();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                text = box->text();
            }
            if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                dialog->reject();
            }
        });
        timer.start();
    }
};

}  // namespace

TEST(MainWindowTest, MenusCarryTheirNumbersTitlesAndTranslatedTexts)
{
    TempDir dir;
    CameraRecord cam;
    AppServices s;
    s.makeCamera = [&cam](const ServerPaths&, int) { return std::make_unique<RecordingCamera>(cam); };
    ServerApp app(CommandLine{}, dir.path.string(), std::move(s));
    WindowDisplay display;
    EventsQueue events;
    ShellLog log;
    MainWindow window(
        app, display, events, [](std::string_view t) { return "T:" + std::string(t); },
        std::make_unique<RecordingShell>(log));
    EXPECT_EQ(window.windowTitle(), "vorlix");
    QStringList titles;
    for (QAction* menu : window.menuBar()->actions()) {
        titles << menu->text();
    }
    EXPECT_EQ(titles, (QStringList{"T:&Link device", "T:&Detection", "T:&Help"}));
    for (const MenuCommandInfo& c : MenuCommands()) {
        if (c.text[0] == '\0') {
            EXPECT_EQ(window.Action(c.id), nullptr);
            continue;
        }
        QAction* action = window.Action(c.id);
        ASSERT_NE(action, nullptr) << c.id;
        EXPECT_EQ(action->text(), QString("T:") + c.text);
        EXPECT_EQ(action->data().toInt(), c.id);
    }
    EXPECT_TRUE(window.Action(kCmdAbout)->shortcuts().contains(QKeySequence("Alt+/")));
}

TEST(MainWindowTest, MenuStatesFollowEveryCommand)
{
    Desk d;
    d.Start();
    EXPECT_TRUE(d.On(kCmdOpen));
    for (const int id : {kCmdClose, kCmdSaveImage, kCmdReference, kCmdStop, kCmdStart, kCmdZones}) {
        EXPECT_FALSE(d.On(id)) << id;
    }
    d.window->Action(kCmdOpen)->trigger();
    EXPECT_FALSE(d.On(kCmdOpen));
    for (const int id : {kCmdClose, kCmdSaveImage, kCmdReference, kCmdStop, kCmdEditConfiguration, kCmdEvents}) {
        EXPECT_TRUE(d.On(id)) << id;
    }
    EXPECT_FALSE(d.On(kCmdStart));
    // Every dialog of the menus is there.
    EXPECT_TRUE(d.On(kCmdZones));
    EXPECT_TRUE(d.On(kCmdHistory));
    EXPECT_TRUE(d.On(kCmdConfiguration));

    d.window->Action(kCmdStop)->trigger();
    EXPECT_FALSE(d.On(kCmdStop));
    EXPECT_TRUE(d.On(kCmdStart));
    EXPECT_FALSE(d.cam.detection);
    d.window->Action(kCmdStart)->trigger();
    EXPECT_TRUE(d.On(kCmdStop));
    EXPECT_TRUE(d.cam.detection);
    d.window->Action(kCmdSaveImage)->trigger();
    d.window->Action(kCmdReference)->trigger();
    EXPECT_EQ(d.cam.saveRequests, 1);
    EXPECT_EQ(d.cam.referenceResets, 1);
    d.cam.shots = 512;
    d.window->Action(kCmdClose)->trigger();
    EXPECT_TRUE(d.On(kCmdOpen));
    EXPECT_FALSE(d.On(kCmdClose));
    EXPECT_EQ(profile::GetInt(d.Ini(), "Vorlix", "Current shots", -1), 12);
}

TEST(MainWindowTest, CameraFourShowsIconsOneFortyFiveFiftyAndForty)
{
    Desk d(4);
    d.Start();
    ASSERT_FALSE(d.tray.actions.empty());
    EXPECT_EQ(d.tray.actions.front(), kestrel::TrayAction::kAdd);
    EXPECT_TRUE(SameIcon(d.tray.icon, DrawServerIcon(145)));
    EXPECT_EQ(d.tray.tip, "no client\nVorlix is OFF");
    EXPECT_TRUE(SameIcon(d.window->windowIcon(), DrawServerIcon(150)));

    d.window->Action(kCmdOpen)->trigger();
    EXPECT_TRUE(SameIcon(d.tray.icon, DrawServerIcon(150)));
    EXPECT_EQ(d.tray.tip, "no client");
    EXPECT_EQ(d.tray.actions.back(), kestrel::TrayAction::kModify);

    // Two viewers: the tray message refreshes the tip when the count changed.
    d.cam.clients = 2;
    d.window->OnTrayMessage(kTrayMessage, kTrayIconId, 0x200);
    EXPECT_TRUE(SameIcon(d.tray.icon, DrawServerIcon(140)));
    EXPECT_EQ(d.tray.tip, "2 clients");
    d.window->Action(kCmdStop)->trigger();
    EXPECT_EQ(d.tray.tip, "2 clients\nMotion is OFF");
    EXPECT_FALSE(SameIcon(DrawServerIcon(140), DrawServerIcon(145)));
    EXPECT_FALSE(SameIcon(DrawServerIcon(140), DrawServerIcon(141)));
}

TEST(MainWindowTest, ClosingHidesWritesDisplayZeroAndTheNextStartStaysHidden)
{
    TempDir keep;
    {
        Desk d(0, false, keep.path);
        d.Start();
        EXPECT_TRUE(d.window->isVisible());
        kestrel::test::TraceCapture trace;
        d.window->close();
        EXPECT_FALSE(d.window->isVisible());
        EXPECT_EQ(profile::GetInt(d.Ini(), "Vorlix", "Display", -1), 0);
        EXPECT_TRUE(trace.Contains("WM_CLOSE", kestrel::kLevelUser4));
        EXPECT_FALSE(d.window->Ended());  // the program goes on in the tray
    }
    Desk next(0, false, keep.path);
    next.Start();
    EXPECT_FALSE(next.window->isVisible());
    // The tray's display command brings it back and writes "Display" = "1".
    int popups = 0;
    next.window->Tray().SetPopupRunner([&popups](QMenu& menu, QPoint) {
        ++popups;
        EXPECT_EQ(menu.defaultAction(), menu.actions().first());
        return static_cast<QAction*>(nullptr);
    });
    next.window->OnTrayMessage(kTrayMessage, kTrayIconId, kestrel::kMouseRightUp);
    EXPECT_EQ(popups, 1);
    EXPECT_FALSE(next.window->isVisible());
    next.window->OnTrayMessage(kTrayMessage, kTrayIconId, kestrel::kMouseLeftDoubleClick);
    EXPECT_TRUE(next.window->isVisible());
    EXPECT_EQ(profile::GetInt(next.Ini(), "Vorlix", "Display", -1), 1);
}

TEST(MainWindowTest, WithoutATrayTheWindowIsShownWhateverDisplaySays)
{
    if (kestrel::QtTrayShell::Available()) {
        GTEST_SKIP() << "this desktop has a notification area";
    }
    TempDir keep;
    profile::WriteInt((keep.path / "Vorlix.ini").string(), "Vorlix", "Display", 0);
    Desk d(0, true, keep.path);
    kestrel::test::TraceCapture trace;
    d.Start();
    EXPECT_TRUE(d.window->TrayMissing());
    EXPECT_TRUE(d.window->isVisible());
    EXPECT_TRUE(trace.Contains("No notification area", kestrel::kLevelWarn));
    // Closing cannot hide it where nothing could bring it back.
    d.window->close();
    EXPECT_TRUE(d.window->isVisible());
    EXPECT_EQ(profile::GetInt(d.Ini(), "Vorlix", "Display", -1), 0);
}

TEST(MainWindowTest, PicturesFromTheCaptureThreadArePaintedNewestFirst)
{
    Desk d;
    d.Start();
    d.window->Action(kCmdOpen)->trigger();
    ASSERT_TRUE(Pump([&] { return d.window->Picture()->width() > 0; }));
    constexpr int kW = 64;
    constexpr int kH = 48;
    std::thread capture([&d] {
        for (int n = 0; n < 30; ++n) {
            std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kW) * kH * 3);
            for (std::size_t i = 0; i < rgb.size(); i += 3) {
                rgb[i] = static_cast<std::uint8_t>(n * 8);
                rgb[i + 1] = 40;
                rgb[i + 2] = 200;
            }
            vorlix::Frame f{rgb, kW, kH, vorlix::kFormatRgb24, vorlix::kTopDown};
            d.display.Paint(f, {});
        }
    });
    capture.join();
    ASSERT_TRUE(Pump([&] {
        const DisplayPicture* p = d.window->Picture()->Picture();
        return p != nullptr && p->rgb[0] == 29 * 8;
    }));
    // Thirty pictures, far fewer paints: nothing queued up behind the newest.
    EXPECT_LE(d.window->Picture()->PicturesShown(), 30 - static_cast<int>(d.display.Replaced()));
    const QImage shot = d.window->Picture()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(10, 10), QColor(29 * 8, 40, 200));
}

TEST(MainWindowTest, AutoStartZeroGivesAGreyActivityBar)
{
    Desk d;
    d.cam.autoStart = false;
    d.Start();
    d.window->Action(kCmdOpen)->trigger();
    ASSERT_TRUE(Pump([&] { return d.window->Bar()->State().colour == kActivityGrey; }));
    EXPECT_EQ(d.window->Bar()->State().position, 5000);
    EXPECT_EQ(d.tray.tip, "no client\nMotion is OFF");
    const QImage bar = d.window->Bar()->grab().toImage();
    ASSERT_GT(bar.width(), 4);
    EXPECT_EQ(bar.pixelColor(bar.width() - 2, 5), QColor(200, 200, 200));
}

TEST(MainWindowTest, TheLayoutGivesTheCameraThePictureAreaSize)
{
    Desk d;
    d.Start();
    d.window->resize(500, 400);
    ASSERT_TRUE(Pump([&] { return d.cam.areaWidth == d.window->centralWidget()->width(); }));
    const QWidget* client = d.window->centralWidget();
    EXPECT_EQ(d.cam.areaHeight, client->height() - kActivityBarHeight);
    EXPECT_EQ(d.window->Bar()->geometry(), QRect(0, client->height() - 10, client->width(), 10));
    EXPECT_EQ(d.window->Picture()->geometry(), QRect(0, 0, client->width(), client->height() - 10));
    kestrel::test::TraceCapture trace;
    d.window->repaint();
    EXPECT_TRUE(trace.Contains("WM_PAINT", kestrel::kLevelUser4));
}

TEST(MainWindowTest, AMinimisedOrHiddenWindowSwitchesThePaintingOff)
{
    Desk d;
    d.Start();
    d.window->show();
    ASSERT_TRUE(Pump([&] { return d.cam.areaWidth > 0 && d.cam.areaHeight > 0; }));
    d.window->showMinimized();
    ASSERT_TRUE(Pump([&] { return d.cam.areaWidth == 0 && d.cam.areaHeight == 0; }));
    d.window->showNormal();
    ASSERT_TRUE(Pump([&] { return d.cam.areaWidth > 0 && d.cam.areaHeight > 0; }));
    d.window->close();  // to the tray: hidden
    ASSERT_TRUE(Pump([&] { return d.cam.areaWidth == 0; }));
}

TEST(MainWindowTest, TheEventsListStopsAndRestarts)
{
    Desk d;
    d.Start();
    d.window->Action(kCmdEvents)->trigger();
    EventsDialog* events = d.window->Events();
    ASSERT_NE(events, nullptr);
    EXPECT_EQ(events->windowTitle(), "Evenements list");
    EXPECT_EQ(d.cam.eventsWindow, &d.events);
    EXPECT_EQ(events->List()->item(0)->text(), "Started...");
    EXPECT_TRUE(events->StopButton()->isEnabled());
    EXPECT_FALSE(events->RestartButton()->isEnabled());

    std::thread worker([&d] { d.cam.eventsWindow->AddEntry("Sun Dec 06 08:26:20 2026 Events(3)=\"In zone 1\""); });
    worker.join();
    ASSERT_TRUE(Pump([&] { return events->List()->count() == 2; }));
    EXPECT_EQ(events->List()->currentRow(), 1);

    // A line not yet shown when the user stops the list comes before "Stopped".
    d.events.AddEntry("just before the stop");
    events->StopButton()->click();
    EXPECT_EQ(events->List()->item(2)->text(), "just before the stop");
    EXPECT_EQ(events->List()->item(3)->text(), "Stopped");
    EXPECT_EQ(d.cam.eventsWindow, nullptr);
    EXPECT_FALSE(events->StopButton()->isEnabled());
    EXPECT_TRUE(events->RestartButton()->isEnabled());
    d.events.AddEntry("a line that raced with the stop");
    QApplication::processEvents();
    EXPECT_EQ(events->List()->count(), 4);

    events->RestartButton()->click();
    EXPECT_EQ(events->List()->item(4)->text(), "Re-started...");
    EXPECT_EQ(d.cam.eventsWindow, &d.events);
    EXPECT_TRUE(events->StopButton()->isEnabled());
    EXPECT_FALSE(events->RestartButton()->isEnabled());

    events->close();
    ASSERT_TRUE(Pump([&] { return d.window->Events() == nullptr; }));
    EXPECT_EQ(d.cam.eventsWindow, nullptr);
}

TEST(MainWindowTest, AboutAndTheFramesMessagesAreRealBoxes)
{
    Desk d;
    d.Start();
    {
        ModalCatcher catcher;
        d.window->Action(kCmdAbout)->trigger();
        EXPECT_TRUE(catcher.seen);
        EXPECT_EQ(catcher.title, "About vorlix");
    }
    // The frame's boxes reach the window's message sink; the test's sink records them.
    d.cam.captureOk = false;
    d.window->Action(kCmdOpen)->trigger();
    ASSERT_EQ(d.messages.boxes.size(), 1U);
    EXPECT_EQ(d.messages.boxes[0].caption, "Device Error");
}

TEST(MainWindowTest, ExitEndsTheProgramInOrder)
{
    Desk d;
    d.Start();
    d.window->Action(kCmdOpen)->trigger();
    bool ended = false;
    QObject::connect(d.window.get(), &MainWindow::ProgramEnded, [&ended] { ended = true; });
    kestrel::test::TraceCapture trace;
    d.window->Action(kCmdExit)->trigger();
    EXPECT_TRUE(ended);
    EXPECT_TRUE(d.cam.destroyed);
    EXPECT_EQ(d.tray.actions.back(), kestrel::TrayAction::kDelete);
    EXPECT_FALSE(d.window->isVisible());
    EXPECT_EQ(profile::GetInt(d.Ini(), "Vorlix", "Display", -1), 0);
    EXPECT_TRUE(profile::GetInt(d.Ini(), "Vorlix", "Current shots", -1) >= 0);
    EXPECT_TRUE(trace.Contains("WM_DESTROY", kestrel::kLevelUser4));
}
