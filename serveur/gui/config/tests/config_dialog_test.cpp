// The configuration dialog offscreen: its twelve pages in tab order with the
// controls of the settings table, "save" and "cancel", the password rule and
// the planner's times as typed, the Video page's "Test" and device buttons,
// and the device dialogs over the real GStreamer test camera. With
// VORLIX_SCREENSHOTS set to a directory, each page is saved there as a PNG.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <cstdlib>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/app/MenuCommands.h"
#include "serveur/app/ServerApp.h"
#include "serveur/app/SourceProbe.h"
#include "serveur/app/tests/AppDoubles.h"
#include "serveur/capture/CaptureServer.h"
#include "serveur/capture/WebCamCaptureCamera.h"
#include "serveur/capture/gstreamer/GstCaptureSystem.h"
#include "serveur/core/WebCam.h"
#include "serveur/gui/MainWindow.h"
#include "serveur/gui/config/ConfigDialog.h"
#include "serveur/gui/config/DeviceDialog.h"
#include "serveur/scrambler/PasswordScrambler.h"

using namespace vorlix::app;
using namespace vorlix::app::testing;
using namespace vorlix::gui;
using namespace std::chrono_literals;
namespace prof = kestrel::profile;

namespace {

// The test double of the frame's camera, with a real capture server when given one.
class CapturingCamera : public RecordingCamera {
public:
    CapturingCamera(CameraRecord& r, vorlix::capture::CaptureServer* capture) : RecordingCamera(r), capture_(capture) {}
    vorlix::capture::CaptureServer* Capture() override { return capture_; }
    std::string PictureDir() const override { return "/srv/pictures"; }

private:
    vorlix::capture::CaptureServer* capture_;
};

class NoTray : public kestrel::TrayShell {
public:
    bool Notify(kestrel::TrayAction, const kestrel::TrayIconRecord&) override { return true; }
};

// Closes the next modal box and keeps its text.
struct BoxCatcher {
    QString text;
    bool seen = false;
    QTimer timer;
    BoxCatcher()
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            seen = true;
            text = box->text();
            box->accept();
        });
        timer.start();
    }
};

struct Desk {
    TempDir dir;
    CameraRecord cam;
    std::unique_ptr<ServerApp> app;
    vorlix::capture::CaptureServer* capture = nullptr;

    explicit Desk(bool gst = true, vorlix::capture::CaptureServer* server = nullptr) : capture(server)
    {
        AppServices s;
        s.makeCamera = [this](const ServerPaths&, int) { return std::make_unique<CapturingCamera>(cam, capture); };
        if (gst) {
            s.probeSource = [](const std::string& address) { return ProbeVideoSource(address, 5s); };
        }
        app = std::make_unique<ServerApp>(CommandLine{}, dir.path.string(), std::move(s));
        EXPECT_FALSE(app->Start().has_value());
    }
    std::string Ini() const { return (dir.path / "Vorlix.ini").string(); }
};

QLineEdit* Edit(ConfigDialog& d, const char* section, const char* key, FieldKind kind = FieldKind::kText)
{
    return qobject_cast<QLineEdit*>(d.Control(FieldIndex(section, key, kind)));
}

QCheckBox* Tick(ConfigDialog& d, const char* section, const char* key, FieldKind kind = FieldKind::kCheck)
{
    return qobject_cast<QCheckBox*>(d.Control(FieldIndex(section, key, kind)));
}

QPushButton* Button(QWidget& w, const char* name)
{
    return w.findChild<QPushButton*>(name);
}

// The label QFormLayout shows beside `control` (a box carries its own).
QString LabelOf(QWidget* control)
{
    if (auto* box = qobject_cast<QCheckBox*>(control)) {
        return box->text();
    }
    auto* form = qobject_cast<QFormLayout*>(control->parentWidget()->layout());
    if (form == nullptr) {
        return {};
    }
    auto* label = qobject_cast<QLabel*>(form->labelForField(control));
    return label != nullptr ? label->text() : QString();
}

}  // namespace

TEST(ConfigDialogTest, TwelvePagesInTabOrderEachWithTheControlsOfTheTable)
{
    Desk desk;
    ConfigDialog dialog(*desk.app, [](std::string_view t) { return "T:" + std::string(t); });
    EXPECT_EQ(dialog.windowTitle(), "T:Vorlix configuration");
    EXPECT_EQ(Button(dialog, "save")->text(), "T:save");
    EXPECT_EQ(Button(dialog, "cancel")->text(), "T:cancel");
    QTabWidget* tabs = dialog.Tabs();
    ASSERT_EQ(tabs->count(), kConfigPageCount);
    const auto pages = ConfigPages();
    for (int i = 0; i < kConfigPageCount; ++i) {
        EXPECT_EQ(tabs->tabText(i), QString("T:") + pages[static_cast<std::size_t>(i)].label);
    }
    EXPECT_EQ(tabs->currentIndex(), 0);

    const auto fields = ConfigFields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const ConfigField& f = fields[i];
        SCOPED_TRACE(f.key);
        QWidget* control = dialog.Control(i);
        if (!FieldShown(f, true)) {
            EXPECT_EQ(control, nullptr);
            continue;
        }
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->objectName(), QString("field_%1").arg(f.control));
        EXPECT_EQ(control->parentWidget(), tabs->widget(static_cast<int>(f.page))) << "on its own page";
        EXPECT_EQ(LabelOf(control), QString("T:") + f.label);
    }
    // The page of the chosen tab is shown, the others not.
    dialog.show();
    tabs->setCurrentIndex(static_cast<int>(ConfigPage::kMail));
    QApplication::processEvents();
    EXPECT_TRUE(tabs->widget(static_cast<int>(ConfigPage::kMail))->isVisible());
    EXPECT_FALSE(tabs->widget(static_cast<int>(ConfigPage::kVideo))->isVisible());
}

TEST(ConfigDialogTest, SavingUnchangedKeepsThePasswordsAndReachesTheCamera)
{
    Desk desk;
    std::string scrambled;
    ASSERT_TRUE(vorlix::ScramblePassword("secret", "Authentification client", scrambled));
    prof::WriteString(desk.Ini(), "Vorlix", "Authentification client", scrambled);
    ASSERT_TRUE(vorlix::ScramblePassword("ftp", "Password", scrambled));
    prof::WriteString(desk.Ini(), "Vorlix FTP", "Password", scrambled);
    const std::string ftpScrambled = scrambled;
    const int reloads = desk.cam.reloads;

    ConfigDialog dialog(*desk.app, {});
    QLineEdit* client = Edit(dialog, "Vorlix", "Authentification client", FieldKind::kPassword);
    EXPECT_EQ(client->text(), kPasswordPlaceholder);
    EXPECT_EQ(client->echoMode(), QLineEdit::Password);
    client->clear();  // emptied: the stored one stays
    QTimer::singleShot(0, Button(dialog, "save"), &QPushButton::click);
    EXPECT_EQ(dialog.exec(), kConfigSaved);

    std::string plain;
    ASSERT_TRUE(vorlix::UnscramblePassword(prof::GetString(desk.Ini(), "Vorlix", "Authentification client", ""),
                                           "Authentification client", plain));
    EXPECT_EQ(plain, "secret");
    EXPECT_EQ(prof::GetString(desk.Ini(), "Vorlix FTP", "Password", ""), ftpScrambled);
    EXPECT_EQ(desk.cam.reloads, reloads + 1) << "the camera and its workers take the save";
}

TEST(ConfigDialogTest, TheMenuCommandOpensTheDialogOverTheMainWindow)
{
    Desk desk;
    WindowDisplay display;
    EventsQueue events;
    MainWindow window(*desk.app, display, events, {}, std::make_unique<NoTray>());
    desk.app->SetWindow(&window);
    desk.app->OpenDevice();  // the command is offered with the device open
    ASSERT_TRUE(window.Action(kCmdConfiguration)->isEnabled());
    QString title;
    QObject* parent = nullptr;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<ConfigDialog*>(QApplication::activeModalWidget());
        if (dialog != nullptr) {
            title = dialog->windowTitle();
            parent = dialog->parent();
            Button(*dialog, "cancel")->click();
        }
    });
    timer.start();
    window.Action(kCmdConfiguration)->trigger();
    EXPECT_EQ(title, "Vorlix configuration");
    EXPECT_EQ(parent, &window);
    desk.app->SetWindow(nullptr);
}

TEST(ConfigDialogTest, APasswordThatCannotBeStoredIsSaidAndTheDialogStaysOpen)
{
    Desk desk;
    ConfigDialog dialog(*desk.app, {});
    dialog.show();
    Edit(dialog, "Vorlix", "Authentification client", FieldKind::kPassword)->setText(QString::fromUtf8("caf\xc3\xa9"));
    BoxCatcher catcher;
    dialog.Save();
    EXPECT_TRUE(catcher.seen);
    EXPECT_NE(catcher.text.indexOf("printable ASCII"), -1) << catcher.text.toStdString();
    EXPECT_TRUE(dialog.isVisible()) << "what was typed is not lost";
    EXPECT_FALSE(prof::Read(desk.Ini(), "Vorlix", "Authentification client").has_value());
}

TEST(ConfigDialogTest, CancelWritesNothing)
{
    Desk desk;
    prof::WriteString(desk.Ini(), "Vorlix", "Quality jpg", "30");
    const std::string before = desk.dir.dir.Read("Vorlix.ini");
    const int reloads = desk.cam.reloads;
    ConfigDialog dialog(*desk.app, {});
    Edit(dialog, "Vorlix", "Quality jpg")->setText("99");
    QTimer::singleShot(0, Button(dialog, "cancel"), &QPushButton::click);
    EXPECT_EQ(dialog.exec(), kConfigCancelled);
    EXPECT_EQ(desk.dir.dir.Read("Vorlix.ini"), before);
    EXPECT_EQ(desk.cam.reloads, reloads);
}

TEST(ConfigDialogTest, TypedValuesAreSavedAsTheyStand)
{
    Desk desk;
    {
        ConfigDialog dialog(*desk.app, {});
        EXPECT_EQ(Edit(dialog, "Vorlix", "FilePath")->text(), "/srv/pictures") << "the directory in use";
        Edit(dialog, "Vorlix", "Quality jpg")->setText("150");
        Edit(dialog, "Vorlix", "Schedule", FieldKind::kBegin)->setText("8");
        Edit(dialog, "Vorlix", "Schedule", FieldKind::kEnd)->setText("25:30");
        Edit(dialog, "Vorlix FTP", "RemoteDir")->setText("pub");
        Tick(dialog, "Vorlix MAIL", "management")->setChecked(false);
        qobject_cast<QComboBox*>(dialog.Control(FieldIndex("Vorlix MAIL", "Security", FieldKind::kChoice)))
            ->setCurrentIndex(1);
        Tick(dialog, "Vorlix", "Schedule", FieldKind::kDay)->setChecked(false);  // Monday
        dialog.Save();
        EXPECT_EQ(dialog.result(), kConfigSaved);
    }
    EXPECT_EQ(prof::GetString(desk.Ini(), "Vorlix", "Quality jpg", ""), "150");
    EXPECT_EQ(prof::GetString(desk.Ini(), "Vorlix FTP", "RemoteDir", ""), "pub/");
    EXPECT_EQ(prof::GetString(desk.Ini(), "Vorlix MAIL", "management", ""), "0");
    EXPECT_EQ(prof::GetString(desk.Ini(), "Vorlix MAIL", "Security", ""), "1");
    const int word = prof::GetInt(desk.Ini(), "Vorlix", "Schedule", 0);
    EXPECT_EQ(word, (480 << 20) | (1440 << 9) | (0x7F & ~2));

    ConfigDialog again(*desk.app, {});
    EXPECT_EQ(Edit(again, "Vorlix", "Schedule", FieldKind::kBegin)->text(), "08:00");
    EXPECT_EQ(Edit(again, "Vorlix", "Schedule", FieldKind::kEnd)->text(), "24:00");
    EXPECT_FALSE(Tick(again, "Vorlix", "Schedule", FieldKind::kDay)->isChecked());
}

TEST(ConfigDialogTest, TestOnAMissingFileSaysWhyInWords)
{
    Desk desk;
    ConfigDialog dialog(*desk.app, {});
    Edit(dialog, "Vorlix", "VideoURI")->setText("nosuch.mp4");
    Button(dialog, "test")->click();
    auto* result = dialog.findChild<QLabel*>("testResult");
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->text(),
              QString::fromStdString("The file " + desk.dir.path.string() + "/nosuch.mp4 does not exist"));
}

TEST(ConfigDialogTest, TheV4l2BuildShowsVideoFrequencyAndNoAddress)
{
    Desk desk(false);
    ConfigDialog dialog(*desk.app, {});
    QLineEdit* frequency = Edit(dialog, "Vorlix", "Frequency");
    ASSERT_NE(frequency, nullptr);
    EXPECT_EQ(LabelOf(frequency), "Video frequency");
    EXPECT_EQ(frequency->text(), "90");
    EXPECT_EQ(dialog.Control(FieldIndex("Vorlix", "ResizeVideo", FieldKind::kText)), nullptr);
    EXPECT_EQ(dialog.Control(FieldIndex("Vorlix", "VideoURI", FieldKind::kText)), nullptr);
    EXPECT_EQ(Button(dialog, "test"), nullptr);
}

TEST(ConfigDialogTest, DeviceButtonsWithoutADeviceSaySo)
{
    Desk desk;
    ConfigDialog dialog(*desk.app, {});
    for (const char* name : {"button_1037", "button_1038"}) {
        BoxCatcher catcher;
        Button(dialog, name)->click();
        EXPECT_TRUE(catcher.seen) << name;
        EXPECT_EQ(catcher.text, "No video device is present");
    }
}

// The device dialogs over the real capture operations and GStreamer's test camera.
class DeviceDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv(vorlix::capture::kSourceVariable);
        cam.LoadConfiguration(0, dir.Path());
        ASSERT_TRUE(server.StartSystem(std::make_unique<vorlix::capture::GstCaptureSystem>()));
        devices = server.DeviceList();
        ASSERT_FALSE(devices.empty());
        ASSERT_EQ(devices.back(), vorlix::capture::kTestPatternName);
    }
    void TearDown() override { server.CloseDevice(); }

    kestrel::test::TempDir dir{"vorlix_device"};
    vorlix::WebCam cam;
    vorlix::capture::WebCamCaptureCamera camera{cam};
    vorlix::capture::CaptureServer server{camera};
    std::vector<std::string> devices;
};

TEST_F(DeviceDialogTest, ChoosingADeviceConnectsItAndOkStartsCaptureInTheChosenMode)
{
    DeviceDialog dialog(server, DeviceDialog::kSource, {});
    ASSERT_EQ(dialog.Devices()->count(), static_cast<int>(devices.size()));
    EXPECT_FALSE(dialog.DeviceChanged());
    const int last = static_cast<int>(devices.size()) - 1;
    dialog.Devices()->setCurrentRow(last);
    EXPECT_TRUE(dialog.DeviceChanged());
    EXPECT_EQ(server.DeviceIndex(), last) << "connected at once";
    ASSERT_GT(dialog.Modes()->count(), 1) << "the modes of the chosen device";
    const auto found = dialog.Modes()->findItems("320 x 240", Qt::MatchStartsWith);
    ASSERT_FALSE(found.isEmpty());
    const int mode = dialog.Modes()->row(found.front());
    dialog.Modes()->setCurrentRow(mode);
    dialog.accept();
    EXPECT_EQ(dialog.result(), mode);
    EXPECT_TRUE(server.Running());
    EXPECT_EQ(server.ModeIndex(), mode);
    EXPECT_TRUE(kestrel::test::WaitUntil([this] { return cam.Width() == 320 && cam.Height() == 240; }, 5s, 10ms))
        << "the picture buffers take the mode's size";
}

TEST_F(DeviceDialogTest, CancelKeepsADeviceAlreadyConnected)
{
    DeviceDialog dialog(server, DeviceDialog::kSource, {});
    const int last = static_cast<int>(devices.size()) - 1;
    dialog.Devices()->setCurrentRow(last);
    dialog.reject();
    EXPECT_EQ(dialog.result(), -1);
    EXPECT_EQ(server.DeviceIndex(), last);
    EXPECT_FALSE(server.Running());
}

TEST_F(DeviceDialogTest, FormatDialogSlidersSetTheDevicePropertiesLive)
{
    ASSERT_TRUE(server.StartCapture(static_cast<int>(devices.size()) - 1, 0));
    DeviceDialog dialog(server, DeviceDialog::kFormat, {});
    EXPECT_EQ(dialog.Devices(), nullptr) << "the format dialog has no device list";
    const QList<QSlider*> sliders = dialog.findChildren<QSlider*>();
    ASSERT_FALSE(sliders.isEmpty()) << "the test camera has picture controls";
    QSlider* slider = sliders.front();
    const int index = slider->objectName().mid(static_cast<int>(std::strlen("property_"))).toInt();
    const int target = slider->minimum() + (slider->maximum() - slider->minimum()) / 4;
    ASSERT_NE(slider->value(), target);
    slider->setValue(target);
    vorlix::capture::PropertyValue value;
    ASSERT_EQ(server.System()->GetProperty(index, value), 0);
    EXPECT_EQ(value.value, target);
}

TEST(ConfigDialogScreens, EveryPageDrawsAndIsSavedWhenAsked)
{
    Desk desk;
    prof::WriteString(desk.Ini(), "Vorlix FTP", "Server", "ftp.example.org");
    prof::WriteString(desk.Ini(), "Vorlix MAIL", "SMTP", "smtp.example.org");
    prof::WriteString(desk.Ini(), "Vorlix MAIL", "To", "owner@example.org");
    std::string scrambled;
    ASSERT_TRUE(vorlix::ScramblePassword("secret", "Authentification client", scrambled));
    prof::WriteString(desk.Ini(), "Vorlix", "Authentification client", scrambled);
    ConfigDialog dialog(*desk.app, {});
    dialog.resize(dialog.sizeHint());
    dialog.show();
    const char* where = std::getenv("VORLIX_SCREENSHOTS");
    for (int i = 0; i < kConfigPageCount; ++i) {
        dialog.Tabs()->setCurrentIndex(i);
        QApplication::processEvents();
        const QImage image = dialog.grab().toImage();
        ASSERT_FALSE(image.isNull());
        // More than one colour: the page's controls are drawn.
        const QRgb first = image.pixel(image.width() / 2, image.height() / 3);
        bool varied = false;
        for (int y = 0; y < image.height() && !varied; y += 3) {
            for (int x = 0; x < image.width() && !varied; x += 3) {
                varied = image.pixel(x, y) != first;
            }
        }
        EXPECT_TRUE(varied) << i;
        if (where != nullptr) {
            const QString name = QString("%1/config-%2.png")
                                     .arg(where)
                                     .arg(QString(ConfigPages()[static_cast<std::size_t>(i)].label).toLower());
            EXPECT_TRUE(image.save(name)) << name.toStdString();
        }
    }
}
