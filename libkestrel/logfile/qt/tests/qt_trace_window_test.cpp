// The Qt trace window for real (offscreen), on the test's own Qt
// application: the 500 ms move of the pending text with its 32000/16000
// limits, "Dismiss" ending WaitForEnd, writers on other threads that never
// wait for the window, and no window without an application.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "libkestrel/logfile/CWndFile.h"
#include "libkestrel/logfile/qt/QtTraceWindow.h"
#include "libkestrel/testkit/TestKit.h"

namespace {

using kestrel::CWndFile;
using namespace std::chrono_literals;

class QtTraceWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        kestrel::qtwindow::Install();
    }
    void TearDown() override { kestrel::SetTraceWindowFactory(nullptr); }

    // The program's application; its event loop is this thread's.
    static QApplication& App()
    {
        static int argc = 1;
        static char name[] = "qt_trace_window_test";
        static char* argv[] = {name, nullptr};
        static QApplication app(argc, argv);
        return app;
    }

    // Serves the window's events until `done` or the deadline.
    static bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s)
    {
        return kestrel::test::WaitUntil(
            [&] {
                QCoreApplication::processEvents();
                return done();
            },
            limit);
    }

    static QWidget* WidgetOf(const CWndFile& file)
    {
        QWidget* widget = nullptr;
        PumpUntil([&] { return (widget = static_cast<QWidget*>(file.WindowHandle())) != nullptr; });
        return widget;
    }

    static QString BoxText(QWidget* widget) { return widget->findChild<QPlainTextEdit*>()->toPlainText(); }
};

TEST_F(QtTraceWindowTest, WithoutAnApplicationThereIsNoWindowFile)
{
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_THROW(CWndFile("no application", true), kestrel::CFileException);
}

TEST_F(QtTraceWindowTest, WindowShowsTheTextWithItsTitle)
{
    App();
    CWndFile file("Camera 2 traces", true);
    QWidget* widget = WidgetOf(file);
    ASSERT_NE(widget, nullptr);
    EXPECT_FALSE(widget->isVisible());
    EXPECT_EQ(widget->size(), QSize(340, 220));
    file.Write("first line\r\nsecond line\r\n", 25);
    EXPECT_TRUE(PumpUntil([&] { return widget->isVisible(); }));
    // Filled at the next tick of the 500 ms timer, not before.
    EXPECT_TRUE(BoxText(widget).isEmpty());
    EXPECT_TRUE(PumpUntil([&] { return !BoxText(widget).isEmpty(); }, 3s));
    EXPECT_EQ(BoxText(widget), QStringLiteral("first line\nsecond line\n"));
    EXPECT_EQ(widget->windowTitle(), QStringLiteral("Camera 2 traces"));
    EXPECT_EQ(widget->findChild<QPushButton*>()->text(), QStringLiteral("Dismiss"));
}

TEST_F(QtTraceWindowTest, FortyThousandCharactersKeepTheLast16000)
{
    App();
    CWndFile file("big", false);
    QWidget* widget = WidgetOf(file);
    ASSERT_NE(widget, nullptr);
    std::string text(40000, 'a');
    text.replace(24000, 1, "Z");  // the first of the last 16000
    file.Write(text.data(), text.size());
    ASSERT_TRUE(PumpUntil([&] { return !BoxText(widget).isEmpty(); }, 3s));
    EXPECT_EQ(BoxText(widget).size(), 16000);
    EXPECT_EQ(BoxText(widget).front(), QLatin1Char('Z'));

    // Small texts are appended to what stays.
    file.Write("tail", 4);
    ASSERT_TRUE(PumpUntil([&] { return BoxText(widget).size() == 16004; }, 3s));
    EXPECT_TRUE(BoxText(widget).endsWith(QStringLiteral("tail")));
}

TEST_F(QtTraceWindowTest, DismissEndsWaitForEnd)
{
    App();
    CWndFile file("wait", false);
    QWidget* widget = WidgetOf(file);
    ASSERT_NE(widget, nullptr);
    file.Write("press Dismiss\r\n", 15);
    ASSERT_TRUE(PumpUntil([&] { return widget->isVisible(); }));
    // The user clicks a little later; WaitForEnd serves the window meanwhile.
    QTimer::singleShot(200, widget->findChild<QPushButton*>(), &QPushButton::click);
    const auto start = std::chrono::steady_clock::now();
    file.WaitForEnd(20000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_FALSE(file.Visible());
    EXPECT_FALSE(widget->isVisible());

    // A later write shows the window again.
    file.Write("again\r\n", 7);
    EXPECT_TRUE(PumpUntil([&] { return widget->isVisible(); }));
}

TEST_F(QtTraceWindowTest, WritersOnOtherThreadsNeverWaitForTheWindow)
{
    App();
    CWndFile file("threads", false);
    QWidget* widget = WidgetOf(file);
    ASSERT_NE(widget, nullptr);
    // This thread serves no events while the worker writes: the worker
    // finishes all the same.
    std::thread worker([&] {
        for (int i = 0; i < 1000; ++i) {
            const std::string line = "line " + std::to_string(i) + "\r\n";
            file.Write(line.data(), line.size());
        }
    });
    worker.join();
    ASSERT_TRUE(PumpUntil([&] { return BoxText(widget).endsWith(QStringLiteral("line 999\n")); }, 3s));
    EXPECT_TRUE(BoxText(widget).startsWith(QStringLiteral("line 0\nline 1\n")));
    EXPECT_TRUE(widget->isVisible());
}

TEST_F(QtTraceWindowTest, ClosingTheFileDestroysItsWindow)
{
    App();
    auto file = std::make_unique<CWndFile>("closing", false);
    QWidget* widget = WidgetOf(*file);
    ASSERT_NE(widget, nullptr);
    QPointer<QWidget> watched(widget);
    file->Write("x\r\n", 3);
    file.reset();
    EXPECT_TRUE(PumpUntil([&] { return watched.isNull(); }));
}

}  // namespace
