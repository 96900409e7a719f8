// What the frame gives a main window: menu states after each command, the
// "Display" rule, the events list's attachment, the editor command, and the
// two hand-overs from worker threads: the newest-wins picture and the
// bounded events queue.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <set>
#include <thread>
#include <tuple>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/app/DisplayProbe.h"
#include "serveur/app/EventsQueue.h"
#include "serveur/app/MenuCommands.h"
#include "serveur/app/WindowDisplay.h"
#include "serveur/app/tests/AppDoubles.h"

using namespace vorlix::app;
using namespace vorlix::app::testing;
namespace profile = kestrel::profile;

namespace {

class RecordingWindow : public WindowPort {
public:
    void MenuStatesChanged() override { ++menuChanges; }
    void TrayChanged(const TrayStatus& status) override { trays.push_back(status); }
    void SetActivity(int position, std::uint32_t colour) override { activity.emplace_back(position, colour); }
    void PlaceWindow(int left, int top, int right, int bottom) override
    {
        places.push_back({left, top, right, bottom});
    }
    int menuChanges = 0;
    std::vector<TrayStatus> trays;
    std::vector<std::pair<int, std::uint32_t>> activity;
    std::vector<std::array<int, 4>> places;
};

// The items whose state the device and detection rules set.
constexpr std::array<int, 7> kRuled = {kCmdOpen, kCmdClose, kCmdSaveImage, kCmdReference,
                                       kCmdStop, kCmdStart, kCmdZones};

std::set<int> EnabledRuled(const ServerApp& app)
{
    std::set<int> on;
    for (const int id : kRuled) {
        if (app.MenuEnabled(id)) {
            on.insert(id);
        }
    }
    return on;
}

vorlix::Frame RgbFrame(const std::vector<std::uint8_t>& bytes, int w, int h, int topDown = vorlix::kTopDown)
{
    vorlix::Frame f;
    f.data = bytes;
    f.width = w;
    f.height = h;
    f.format = vorlix::kFormatRgb24;
    f.topDown = topDown;
    return f;
}

}  // namespace

TEST(WindowMenuTest, ItemsFollowTheDeviceAndTheDetection)
{
    RecordingWindow window;
    Harness h(0, FixedClock(1, 10, 0), &window);
    ASSERT_FALSE(h.app->Start().has_value());
    EXPECT_EQ(EnabledRuled(*h.app), std::set<int>{kCmdOpen});
    for (const int id : {kCmdConfiguration, kCmdEditConfiguration, kCmdHistory, kCmdEvents, kCmdAbout, kCmdExit}) {
        EXPECT_TRUE(h.app->MenuEnabled(id)) << id;
    }
    EXPECT_GE(window.menuChanges, 1);

    EXPECT_EQ(h.app->RunCommand(kCmdOpen), CommandEffect::kDone);
    EXPECT_EQ(EnabledRuled(*h.app), (std::set<int>{kCmdClose, kCmdSaveImage, kCmdReference, kCmdStop, kCmdZones}));
    // The saved rectangle, defaults when the file has none.
    ASSERT_EQ(window.places.size(), 1U);
    EXPECT_EQ(window.places[0], (std::array<int, 4>{388, 251, 739, 570}));
    EXPECT_EQ(window.trays.back().icon, kIconWatching);

    h.app->RunCommand(kCmdStop);
    EXPECT_EQ(EnabledRuled(*h.app), (std::set<int>{kCmdClose, kCmdSaveImage, kCmdReference, kCmdStart}));
    ASSERT_FALSE(window.activity.empty());
    EXPECT_EQ(window.activity.back(), std::make_pair(kActivityStoppedPosition, kActivityGrey));
    EXPECT_EQ(window.trays.back().text, "no client\nMotion is OFF");
    EXPECT_FALSE(h.cam.detection);

    h.app->RunCommand(kCmdStart);
    EXPECT_EQ(EnabledRuled(*h.app), (std::set<int>{kCmdClose, kCmdSaveImage, kCmdReference, kCmdStop, kCmdZones}));
    EXPECT_TRUE(h.cam.detection);

    h.app->RunCommand(kCmdClose);
    EXPECT_EQ(EnabledRuled(*h.app), std::set<int>{kCmdOpen});
    EXPECT_FALSE(h.cam.capturing);
    EXPECT_EQ(window.trays.back().text, "no client\nVorlix is OFF");
}

TEST(WindowMenuTest, AutoStartZeroOpensWithStartOnlyAndAGreyBar)
{
    RecordingWindow window;
    Harness h(0, FixedClock(1, 10, 0), &window);
    h.cam.autoStart = false;
    ASSERT_FALSE(h.app->Start().has_value());
    h.app->RunCommand(kCmdOpen);
    EXPECT_EQ(EnabledRuled(*h.app), (std::set<int>{kCmdClose, kCmdSaveImage, kCmdStart}));
    ASSERT_FALSE(window.activity.empty());
    EXPECT_EQ(window.activity.back(), std::make_pair(5000, std::uint32_t{0xC8C8C8}));
    EXPECT_EQ(window.trays.back().text, "no client\nMotion is OFF");
}

TEST(WindowMenuTest, SavedRectangleIsAppliedWhenTheDeviceOpens)
{
    RecordingWindow window;
    Harness h(2, FixedClock(1, 10, 0), &window);
    const std::string ini = (h.dir.path / "Vorlix_2.ini").string();
    profile::WriteInt(ini, "Vorlix", "window left", 10);
    profile::WriteInt(ini, "Vorlix", "window top", 20);
    profile::WriteInt(ini, "Vorlix", "window right", 650);
    profile::WriteInt(ini, "Vorlix", "window bottom", 520);
    ASSERT_FALSE(h.app->Start().has_value());
    EXPECT_TRUE(window.places.empty());
    h.app->OnScheduleTimer();  // the default schedule opens the device
    ASSERT_EQ(window.places.size(), 1U);
    EXPECT_EQ(window.places[0], (std::array<int, 4>{10, 20, 650, 520}));
}

TEST(WindowMenuTest, CommandsAreTracedByNameAndUnknownOnesByNumber)
{
    Harness h;
    ASSERT_FALSE(h.app->Start().has_value());
    kestrel::test::TraceCapture trace;
    for (const MenuCommandInfo& c : MenuCommands()) {
        if (c.id == kCmdExit || c.id == kCmdTrayExit) {
            continue;
        }
        h.app->RunCommand(c.id);
    }
    const std::vector<std::string> lines = trace.MessagesAt(kestrel::kLevelUser4);
    for (const char* name : {"ID_FICHIER_OPEN", "ID_FICHIER_CLOSE", "ID_FICHIER_SAVEIMAGE",
                             "ID_FICHIER_EDITIONCONFIGURATION", "ID_TRAYICON_EXIT_DISPLAY", "ID_DETECTION_STOP",
                             "ID_DETECTION_START", "ID_DETECTION_SELECTZONE", "ID_DETECTION_VISUALISERHISTORIQUE",
                             "ID_DETECTION_VISUALISEREVENEMENTS", "ID_DETECTION_IMAGEREFERENCE", "IDM_ABOUT"}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), name), lines.end()) << name;
    }
    EXPECT_EQ(h.app->RunCommand(40000), CommandEffect::kUnknown);
    EXPECT_TRUE(trace.Contains("WM_COMMAND wParam=9c40 lParam=0", kestrel::kLevelUser4));
    h.app->RunCommand(kCmdExit);
    EXPECT_TRUE(trace.Contains("ID_TRAYICON_EXIT ou ID_EXIT", kestrel::kLevelUser4));
    EXPECT_TRUE(h.app->Exiting());
    EXPECT_TRUE(h.cam.destroyed);
}

TEST(WindowMenuTest, DialogsAreLeftToTheWindowAndTheEventsListNeedsTheCamera)
{
    Harness h;
    // Before the camera object exists the events list does not open.
    EXPECT_EQ(h.app->RunCommand(kCmdEvents), CommandEffect::kDone);
    ASSERT_FALSE(h.app->Start().has_value());
    EXPECT_EQ(h.app->RunCommand(kCmdEvents), CommandEffect::kOpenEvents);
    EXPECT_EQ(h.app->RunCommand(kCmdAbout), CommandEffect::kOpenAbout);
    EXPECT_EQ(h.app->RunCommand(kCmdZones), CommandEffect::kOpenZones);
    EXPECT_EQ(h.app->RunCommand(kCmdHistory), CommandEffect::kOpenHistory);
    EXPECT_EQ(h.app->RunCommand(kCmdConfiguration), CommandEffect::kOpenConfiguration);
}

TEST(WindowDisplayRuleTest, HidingWritesZeroAndTheTrayCommandWritesOne)
{
    Harness h;
    const std::string ini = (h.dir.path / "Vorlix.ini").string();
    EXPECT_TRUE(h.app->DisplayWanted());  // "Display" defaults to 1
    h.app->WindowHidden();
    EXPECT_EQ(profile::GetInt(ini, "Vorlix", "Display", -1), 0);
    EXPECT_FALSE(h.app->DisplayWanted());
    h.app->RunCommand(kCmdTrayDisplay);
    EXPECT_EQ(profile::GetInt(ini, "Vorlix", "Display", -1), 1);
    EXPECT_TRUE(h.app->DisplayWanted());
}

TEST(WindowEventsTest, TheFeedIsAttachedOnlyWhileTheListIsOpen)
{
    EventsQueue feed;
    Harness h(0, FixedClock(1, 10, 0), nullptr, &feed);
    ASSERT_FALSE(h.app->Start().has_value());
    h.app->AttachEvents(true);
    EXPECT_EQ(h.cam.eventsWindow, &feed);
    h.app->AttachEvents(false);
    EXPECT_EQ(h.cam.eventsWindow, nullptr);
    h.app->PictureAreaSized(320, 230);
    EXPECT_EQ(std::tie(h.cam.areaWidth, h.cam.areaHeight), std::make_tuple(320, 230));
}

TEST(WindowEditorTest, TheEditorOfTheSettingsOpensTheSettingsFile)
{
    std::vector<std::pair<std::string, std::string>> started;
    std::string answer = "gedit";
    Harness h(1, FixedClock(1, 10, 0), nullptr, nullptr, [&](const std::string& editor, const std::string& file) {
        started.emplace_back(editor, file);
        return answer;
    });
    ASSERT_FALSE(h.app->Start().has_value());
    const std::string ini = (h.dir.path / "Vorlix_1.ini").string();
    h.app->RunCommand(kCmdEditConfiguration);
    ASSERT_EQ(started.size(), 1U);
    EXPECT_EQ(started[0], std::make_pair(std::string("notepad"), ini));
    EXPECT_TRUE(h.messages.boxes.empty());
    profile::WriteString(ini, "Vorlix", "Editor", "mousepad");
    answer.clear();  // nothing could start
    h.app->RunCommand(kCmdEditConfiguration);
    ASSERT_EQ(started.size(), 2U);
    EXPECT_EQ(started[1].first, "mousepad");
    ASSERT_EQ(h.messages.boxes.size(), 1U);
    EXPECT_EQ(h.messages.boxes[0].caption, "Edition Configuration");
}

TEST(WindowDisplayTest, TheNewestPictureWinsAndOneNoticeCoversThemAll)
{
    WindowDisplay display;
    std::atomic<int> notices{0};
    display.SetNotify([&notices] { ++notices; });
    for (std::uint8_t n = 1; n <= 5; ++n) {
        const std::vector<std::uint8_t> bytes(std::size_t{12}, n);
        display.Paint(RgbFrame(bytes, 2, 2), {});
    }
    EXPECT_EQ(notices.load(), 1);
    EXPECT_EQ(display.Painted(), 5U);
    EXPECT_EQ(display.Replaced(), 4U);
    DisplayUpdate update = display.Take();
    ASSERT_TRUE(update.picture);
    EXPECT_EQ(update.picture->rgb, std::vector<std::uint8_t>(12, 5));
    EXPECT_FALSE(display.Take().picture);  // nothing twice

    const std::vector<std::uint8_t> more(12, 9);
    display.Paint(RgbFrame(more, 2, 2), {});
    EXPECT_EQ(notices.load(), 2);
}

TEST(WindowDisplayTest, BottomUpFramesAndTheDrawnOverlayAreShownTheRightWay)
{
    WindowDisplay display;
    // Two rows, bottom row first: row 0 of the bytes is the picture's bottom.
    const std::vector<std::uint8_t> bytes = {1, 1, 1, 2, 2, 2};
    display.Paint(RgbFrame(bytes, 1, 2, vorlix::kBottomUp), {});
    DisplayUpdate update = display.Take();
    ASSERT_TRUE(update.picture);
    EXPECT_EQ(update.picture->rgb, (std::vector<std::uint8_t>{2, 2, 2, 1, 1, 1}));

    // A frame that already carries the overlay is shown as it is: no zone
    // frame is drawn over it again.
    const std::vector<std::uint8_t> overlaid = {7, 7, 7, 8, 8, 8};
    vorlix::DisplayMarks marks;
    marks.overlayDrawn = true;
    marks.zones.count = 1;
    marks.zones.slots[0] = vorlix::ZoneCorners{0, 0, 0, 0, false};
    display.Paint(RgbFrame(overlaid, 1, 2), marks);
    update = display.Take();
    ASSERT_TRUE(update.picture);
    EXPECT_EQ(update.picture->rgb, overlaid);
    // A frame of an unknown format is not shown.
    vorlix::Frame odd = RgbFrame(bytes, 1, 2);
    odd.format = 12345;
    display.Paint(odd, {});
    EXPECT_FALSE(display.Take().picture);
}

TEST(WindowDisplayTest, ActivityChangesTravelWithTheNotice)
{
    WindowDisplay display;
    int notices = 0;
    display.SetNotify([&notices] { ++notices; });
    display.SetActivityRange(0, 800);
    display.SetActivityPosition(300);
    display.SetActivityColour(0x00FF00);
    EXPECT_EQ(notices, 1);
    DisplayUpdate update = display.Take();
    EXPECT_TRUE(update.activityChanged);
    EXPECT_EQ(update.activity.high, 800);
    EXPECT_EQ(update.activity.position, 300);
    // The same position again is no change.
    display.SetActivityPosition(300);
    EXPECT_FALSE(display.Take().activityChanged);
    EXPECT_EQ(notices, 1);
}

TEST(WindowDisplayTest, ACaptureThreadNeverQueuesMoreThanOnePicture)
{
    WindowDisplay display;
    std::atomic<int> notices{0};
    display.SetNotify([&notices] { ++notices; });
    constexpr int kFrames = 400;
    std::thread capture([&display] {
        for (int n = 0; n < kFrames; ++n) {
            // The picture's number in its first two bytes.
            std::vector<std::uint8_t> bytes(std::size_t{48}, 0);
            bytes[0] = static_cast<std::uint8_t>(n >> 8);
            bytes[1] = static_cast<std::uint8_t>(n & 0xFF);
            display.Paint(RgbFrame(bytes, 4, 4), {});
        }
    });
    int taken = 0;
    int last = -1;
    bool ordered = true;
    while (taken < kFrames && (capture.joinable() && display.Painted() < kFrames)) {
        if (DisplayUpdate u = display.Take(); u.picture) {
            const int value = u.picture->rgb[0] << 8 | u.picture->rgb[1];
            ordered = ordered && value > last;
            last = value;
            ++taken;
        }
    }
    capture.join();
    if (DisplayUpdate u = display.Take(); u.picture) {
        last = u.picture->rgb[0] << 8 | u.picture->rgb[1];
        ++taken;
    }
    EXPECT_TRUE(ordered);  // never an older picture after a newer one
    EXPECT_EQ(last, kFrames - 1);
    EXPECT_EQ(display.Painted() - display.Replaced(), static_cast<std::uint64_t>(taken));
    EXPECT_LE(notices.load(), taken);
}

TEST(EventsQueueTest, LinesComeOnlyWhileAcceptingAndTheWaitIsBounded)
{
    EventsQueue feed(3);
    int notices = 0;
    feed.SetNotify([&notices] { ++notices; });
    feed.AddEntry("before");
    EXPECT_TRUE(feed.Take().lines.empty());
    feed.SetAccepting(true);
    for (const char* line : {"a", "b", "c", "d", "e"}) {
        feed.AddEntry(line);
    }
    EXPECT_EQ(notices, 1);
    EventsQueue::Batch batch = feed.Take();
    EXPECT_EQ(batch.lines, (std::vector<std::string>{"c", "d", "e"}));
    EXPECT_EQ(batch.dropped, 2U);
    feed.AddEntry("f");
    EXPECT_EQ(notices, 2);
    feed.SetAccepting(false);
    feed.AddEntry("g");
    batch = feed.Take();
    EXPECT_EQ(batch.lines, std::vector<std::string>{"f"});
    EXPECT_EQ(batch.dropped, 0U);
}

namespace {

// A box during which the program is ended (a SIGTERM read by the desktop's
// event loop while the box waits for the user).
class EndingMessages : public MessageSink {
public:
    void Show(const std::string& text, const std::string& /*caption*/) override
    {
        shown.push_back(text);
        if (app != nullptr) {
            app->Exit();
        }
    }
    ServerApp* app = nullptr;
    std::vector<std::string> shown;
};

}  // namespace

TEST(WindowMenuTest, TheProgramEndingDuringTheDeviceBoxLeavesNothingHalfDone)
{
    TempDir dir;
    CameraRecord cam;
    cam.captureOk = false;
    EndingMessages messages;
    AppServices s;
    s.makeCamera = [&cam](const ServerPaths&, int) { return std::make_unique<RecordingCamera>(cam); };
    s.messages = &messages;
    ServerApp app(CommandLine{}, dir.path.string(), std::move(s));
    messages.app = &app;
    ASSERT_FALSE(app.Start().has_value());
    app.OnScheduleTimer();  // opens the device: the box, and the end inside it
    ASSERT_EQ(messages.shown.size(), 1U);
    EXPECT_TRUE(app.Exiting());
    EXPECT_TRUE(cam.destroyed);
    EXPECT_EQ(cam.thresholdCalls, 0);
    EXPECT_FALSE(app.ScheduleDue().has_value());
}

TEST(DisplayProbeTest, APlatformNamedOrADisplayThatAnswers)
{
    const auto keep = [](const char* name) {
        const char* v = std::getenv(name);
        return std::make_pair(std::string(name), v != nullptr ? std::optional<std::string>(v) : std::nullopt);
    };
    const std::vector<std::pair<std::string, std::optional<std::string>>> saved = {
        keep("QT_QPA_PLATFORM"), keep("DISPLAY"), keep("WAYLAND_DISPLAY")};
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    std::string why;
    EXPECT_FALSE(DesktopDisplayAvailable(why));
    EXPECT_EQ(why, "DISPLAY and WAYLAND_DISPLAY are not set");

    setenv("DISPLAY", ":4093", 1);  // no X server there
    EXPECT_FALSE(DesktopDisplayAvailable(why));
    EXPECT_EQ(why, "the display :4093 does not answer");
    setenv("DISPLAY", "garbage", 1);
    EXPECT_FALSE(DesktopDisplayAvailable(why));

    // A listening socket where WAYLAND_DISPLAY points.
    TempDir dir;
    const std::string path = (dir.path / "wl-0").string();
    const kestrel::UniqueFd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(listener.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener.Get(), 1), 0);
    setenv("WAYLAND_DISPLAY", path.c_str(), 1);
    EXPECT_TRUE(DesktopDisplayAvailable(why));

    unsetenv("WAYLAND_DISPLAY");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    EXPECT_TRUE(DesktopDisplayAvailable(why));

    for (const auto& [name, value] : saved) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
}
