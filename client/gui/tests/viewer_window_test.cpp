// The cl_vorlix window in-process (offscreen): menus and their numbers,
// titles, the ticker, translated texts, Escape, the format sizes, pictures
// drawn with their effects, the password and add colour dialogs, and the
// history window, against a scripted server.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QScrollBar>

#include "client/app/Commands.h"
#include "client/effects/JpegDecode.h"
#include "client/gui/HistoryWindow.h"
#include "client/gui/PictureView.h"
#include "client/gui/ViewerWindow.h"
#include "client/gui/tests/GuiTestKit.h"
#include "client/reader/tests/ScriptedPeer.h"
#include "libkestrel/profile/Profile.h"
#include "serveur/actions/JpegWriter.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix::client {
namespace {

namespace profile = kestrel::profile;
using kestrel::test::TempDir;
using kestrel::test::TraceCapture;
using testing::App;
using testing::HistoryFrame;
using testing::LiveFrame;
using testing::OnNextDialog;
using testing::PumpUntil;
using testing::ResponseHead;
using testing::ScriptedPeer;

// A picture whose halves differ, as JPEG bytes.
std::string Picture(int width, int height, int seed)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
            p[0] = static_cast<std::uint8_t>(x < width / 2 ? 30 + seed : 220);
            p[1] = static_cast<std::uint8_t>(y * 255 / height);
            p[2] = 90;
        }
    }
    std::vector<std::uint8_t> jpeg;
    EXPECT_TRUE(EncodeJpeg(rgb, width, height, 95, "seed " + std::to_string(seed), jpeg));
    return {jpeg.begin(), jpeg.end()};
}

QImage Decoded(const std::string& jpeg, bool grey = false)
{
    DisplayBuffer picture;
    EXPECT_TRUE(
        DecodeJpeg(std::span(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size()), grey, picture).ok);
    return ToImage(picture);
}

class ViewerWindowTest : public ::testing::Test {
protected:
    void SetUp() override { App(); }
    void Put(const std::string& key, const std::string& value)
    {
        ASSERT_TRUE(profile::WriteString(ViewerSettings::PathIn(dir_.Path()), "cl", key, value));
    }
    void ToPeer()
    {
        Put("Host 1", "127.0.0.1");
        Put("Port 1", std::to_string(peer_.Port()));
    }
    std::unique_ptr<ViewerWindow> Open()
    {
        auto window = std::make_unique<ViewerWindow>(dir_.Path(), ViewerOptions{});
        window->show();
        return window;
    }

    TempDir dir_;
    ScriptedPeer peer_;
};

TEST_F(ViewerWindowTest, MenusCarryTheirCommandNumbersAndTexts)
{
    const auto window = Open();
    const std::vector<std::pair<int, QString>> expected = {{32792, "&Open"},
                                                           {32791, "&Close"},
                                                           {32794, "Save current context"},
                                                           {32793, "&Save image"},
                                                           {105, "&Exit"},
                                                           {32784, "&Original size"},
                                                           {32785, "640x480"},
                                                           {32786, "320x240"},
                                                           {32787, "160x120"},
                                                           {32779, "reverse color"},
                                                           {32781, "black and white"},
                                                           {32782, "horizontal mirror"},
                                                           {32788, "vertical mirror"},
                                                           {32789, "bi-color"},
                                                           {32790, "add color..."},
                                                           {32798, "History"},
                                                           {104, "about..."}};
    for (const auto& [command, text] : expected) {
        QAction* action = window->Action(command);
        ASSERT_NE(action, nullptr) << command;
        EXPECT_EQ(action->text(), text);
        EXPECT_EQ(action->data().toInt(), command);
    }
    QStringList bar;
    for (QAction* menu : window->menuBar()->actions()) {
        bar << menu->text();
    }
    EXPECT_EQ(bar, (QStringList{"&Connection", "&Display", "&Help"}));
}

TEST_F(ViewerWindowTest, WithoutHostTheTitleIsTheProgramAndTheTickerSaysNotConnected)
{
    const auto window = Open();
    EXPECT_EQ(window->windowTitle(), "cl_vorlix");
    EXPECT_TRUE(window->Action(kCmdOpen)->isEnabled());
    EXPECT_FALSE(window->Action(kCmdClose)->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return !window->View()->StatusText().isEmpty(); }));
    EXPECT_TRUE(window->View()->StatusText().startsWith("client is not connected...client is not connected"));
    // The ticker moves.
    const QString first = window->View()->StatusText();
    ASSERT_TRUE(PumpUntil([&] { return window->View()->StatusText() != first; }));
    EXPECT_TRUE(window->View()->StatusText().startsWith("lient is not connected"));
}

TEST_F(ViewerWindowTest, FailedConnectShowsTheHostInTheTitleAndTheErrorInTheTicker)
{
    Put("Host 1", "127.0.0.1");
    Put("Port 1", "1");  // nothing listens there
    const auto window = Open();
    EXPECT_EQ(window->windowTitle(), "Client Vorlix (!127.0.0.1)");
    ASSERT_TRUE(PumpUntil([&] { return !window->View()->StatusText().isEmpty(); }));
    EXPECT_TRUE(window->View()->StatusText().startsWith("Unable to connect to remote host (127.0.0.1:1)=6f"));
}

TEST_F(ViewerWindowTest, TextsComeTranslatedFromTheLanguageFile)
{
    Put("LANG", "fr");
    ASSERT_TRUE(profile::WriteString(dir_.File("fr.ini"), "msgstr", "&Open", "&Ouvrir"));
    ASSERT_TRUE(
        profile::WriteString(dir_.File("fr.ini"), "msgstr", "client is not connected", "client+non+connect%e9"));
    const auto window = Open();
    EXPECT_EQ(window->Action(kCmdOpen)->text(), "&Ouvrir");
    ASSERT_TRUE(PumpUntil([&] { return !window->View()->StatusText().isEmpty(); }));
    EXPECT_TRUE(window->View()->StatusText().startsWith(QString::fromLatin1("client non connect\xE9")));
    // Untranslated texts are recorded for the translator.
    EXPECT_EQ(profile::GetString(dir_.File("lang.ini"), "fr", "&Close", ""), "to traduct...");
}

TEST_F(ViewerWindowTest, EscapeHidesAndShowsTheMenuBar)
{
    const auto window = Open();
    ASSERT_TRUE(window->menuBar()->isVisible());
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &press);
    EXPECT_FALSE(window->menuBar()->isVisible());
    QApplication::sendEvent(window.get(), &press);
    EXPECT_TRUE(window->menuBar()->isVisible());
}

TEST_F(ViewerWindowTest, FormatSizesGiveExactlyThatClientArea)
{
    const TraceCapture trace;
    const auto window = Open();
    window->Run(kCmdOriginalSize);
    EXPECT_FALSE(window->View()->Stretch());
    window->Run(kCmdFormat320);
    EXPECT_TRUE(window->View()->Stretch());
    EXPECT_EQ(window->View()->size(), QSize(320, 240));
    EXPECT_EQ(trace.Count("resize(+0,+" + std::to_string(window->menuBar()->height()) + ")", 0), 1);
    window->Run(kCmdFormat640);
    EXPECT_EQ(window->View()->size(), QSize(640, 480));
}

TEST_F(ViewerWindowTest, LivePicturesAreDrawnWithTheirEffects)
{
    ToPeer();
    Put("Stretch", "0");
    const auto window = Open();
    ASSERT_TRUE(peer_.Accept());
    EXPECT_EQ(window->windowTitle(), "Client Vorlix (127.0.0.1)");
    EXPECT_FALSE(window->Action(kCmdOpen)->isEnabled());
    const std::string first = Picture(96, 64, 1);
    peer_.Send(ResponseHead() + LiveFrame(first));
    ASSERT_TRUE(PumpUntil([&] { return !window->View()->Picture().isNull(); }));
    EXPECT_EQ(window->View()->Picture(), Decoded(first));
    EXPECT_TRUE(window->View()->StatusText().isEmpty());
    // The picture area shows those pixels at its own size.
    const QImage shown = window->View()->grab().toImage().convertToFormat(QImage::Format_RGB888);
    EXPECT_EQ(shown.copy(0, 0, 96, 64), Decoded(first).convertToFormat(QImage::Format_RGB888));

    // Switching black and white redraws the same picture in grey at once.
    window->Run(kCmdBlackAndWhite);
    EXPECT_TRUE(window->Action(kCmdBlackAndWhite)->isChecked());
    EXPECT_EQ(window->View()->Picture(), Decoded(first, true));

    // A lost connection gives "&Open" back.
    peer_.CloseConnection();
    ASSERT_TRUE(PumpUntil([&] { return window->Action(kCmdOpen)->isEnabled(); }));
    EXPECT_FALSE(window->Action(kCmdClose)->isEnabled());
    EXPECT_TRUE(window->View()->Picture().isNull());  // no placeholder file here
}

TEST_F(ViewerWindowTest, PasswordDialogAnswersTheServerAndSaveItKeepsThePassword)
{
    ToPeer();
    const auto window = Open();
    ASSERT_TRUE(peer_.Accept());
    OnNextDialog([](QDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "a password is mandatory");
        dialog->findChild<QLineEdit*>()->setText("open sesame");
        dialog->findChild<QCheckBox*>()->setChecked(true);
        dialog->accept();
    });
    peer_.Send(ResponseHead() + "AskPassword: 99\r\n");
    std::string expected;
    ASSERT_TRUE(ScramblePassword("open sesame", "99", expected));
    const std::string answer = "Password: " + expected + "\r\n";
    std::string received;
    ASSERT_TRUE(PumpUntil([&] {
        received += peer_.Receive(answer.size(), std::chrono::milliseconds(1));
        return received.size() >= answer.size();
    }));
    EXPECT_EQ(received, answer);
    EXPECT_EQ(ViewerSettings(ViewerSettings::PathIn(dir_.Path())).Password(1), "open sesame");
}

TEST_F(ViewerWindowTest, AddColorIsCheckedAfterItsDialogWhicheverButton)
{
    const auto window = Open();
    OnNextDialog([](QDialog* dialog) {
        const QList<QLineEdit*> fields = dialog->findChildren<QLineEdit*>();
        ASSERT_EQ(fields.size(), 3);
        fields[0]->setText("40");
        fields[1]->setText("-7");
        fields[2]->setText("99999999999");
        dialog->accept();
    });
    window->Run(kCmdAddColor);
    EXPECT_TRUE(window->Action(kCmdAddColor)->isChecked());
    EXPECT_EQ(window->Effects().red, 40);
    EXPECT_EQ(window->Effects().green, -7);
    EXPECT_EQ(window->Effects().blue, 2147483647);
    window->Run(kCmdAddColor);  // checked: unchecks without a dialog
    EXPECT_FALSE(window->Action(kCmdAddColor)->isChecked());
    OnNextDialog([](QDialog* dialog) { dialog->reject(); });
    window->Run(kCmdAddColor);
    EXPECT_TRUE(window->Action(kCmdAddColor)->isChecked());
    EXPECT_EQ(window->Effects().red, 40);  // Cancel changed nothing

    window->Run(kCmdSaveContext);
    const std::string ini = ViewerSettings::PathIn(dir_.Path());
    EXPECT_EQ(profile::GetString(ini, "cl", "Add color", ""), "1");
    EXPECT_EQ(profile::GetString(ini, "cl", "Color Green", ""), "-7");
    EXPECT_EQ(profile::GetInt(ini, "cl", "window right", 0) - profile::GetInt(ini, "cl", "window left", 0),
              window->width());
}

TEST_F(ViewerWindowTest, HistoryWindowAsksForTheNewestAndBrowsesTheRing)
{
    ToPeer();
    const auto window = Open();
    ASSERT_TRUE(peer_.Accept());
    window->Run(kCmdHistory);
    EXPECT_EQ(peer_.Receive(32), "History: newer\r\nHistory: newer\r\n");
    HistoryWindow* history = window->LastHistoryWindow();
    ASSERT_NE(history, nullptr);
    EXPECT_EQ(history->windowTitle(), QString::fromUtf8("Historique des images enregistrées"));

    const std::string picture = Picture(64, 48, 3);
    peer_.Send(ResponseHead() + HistoryFrame(12, 500, "Wed Jan 02 02:03:55 1980", picture));
    ASSERT_TRUE(PumpUntil([&] { return history->FileName() == "vorlix_12.jpg"; }));
    EXPECT_EQ(history->Comment(), "seed 3    Dimensions : 64 x 48");
    EXPECT_EQ(history->TimeText(), "Wed Jan 02 02:03:55 1980");
    EXPECT_EQ(history->ScrollBar()->maximum(), 500);
    EXPECT_EQ(history->ScrollBar()->value(), 500);

    // One line to the left: the picture before the newest.
    history->ScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(peer_.Receive(13), "History: 11\r\n");
    EXPECT_EQ(history->ScrollBar()->value(), 499);
    history->ScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(peer_.Receive(13), "History: 13\r\n");

    // A history picture without a comment or time.
    peer_.Send(HistoryFrame(12, 500, "", Picture(32, 32, 4).substr(0, 20)));
    ASSERT_TRUE(PumpUntil([&] { return history->Comment() == "no comment"; }));
    EXPECT_EQ(history->TimeText(), "Wed Jan 02 02:03:55 1980");  // the last time stays
    EXPECT_EQ(history->FileName(), "vorlix_13.jpg");
}

TEST(PictureViewTest, RowsOfEveryWidthBecomeTheRightImage)
{
    App();
    for (const int width : {1, 2, 3, 5, 33, 641}) {
        DisplayBuffer picture;
        ASSERT_TRUE(picture.Resize(width, 3));
        for (std::size_t i = 0; i < picture.Bytes(); ++i) {
            picture.Data()[i] = static_cast<std::uint8_t>(i * 11);
        }
        const QImage image = ToImage(picture);
        ASSERT_EQ(image.width(), width);
        for (int y = 0; y < 3; ++y) {
            const std::uint8_t* row = picture.Row(2 - y);  // bottom row first
            for (int x = 0; x < width; ++x) {
                const QRgb pixel = image.pixel(x, y);
                const std::uint8_t* bgr = row + std::size_t{3} * static_cast<std::size_t>(x);
                ASSERT_EQ(qBlue(pixel), bgr[0]) << width;
                ASSERT_EQ(qGreen(pixel), bgr[1]);
                ASSERT_EQ(qRed(pixel), bgr[2]);
            }
        }
    }
}

}  // namespace
}  // namespace vorlix::client
