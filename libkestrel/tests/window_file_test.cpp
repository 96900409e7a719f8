// The window file without a window system: the text box rule, the visible
// flag, "Dismiss" ending WaitForEnd, and the refusal without a window
// library. The Qt window itself is tested in kestrel_qtwindow_tests.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "libkestrel/logfile/CWndFile.h"
#include "libkestrel/logfile/TraceWindow.h"

namespace {

using kestrel::CWndFile;
using kestrel::TraceWindowState;

// A window that records what it is asked to do.
struct FakeWindow : kestrel::ITraceWindow {
    void SetTitle(const std::string& t) override { title = t; }
    void Show(bool toFront) override
    {
        ++shows;
        fronted = toFront;
    }
    void Hide() override { ++hides; }
    [[nodiscard]] void* Handle() const override { return const_cast<FakeWindow*>(this); }
    bool PumpIfOwnThread() override { return false; }

    std::string title;
    int shows = 0;
    int hides = 0;
    bool fronted = false;
};

FakeWindow* g_window = nullptr;
std::shared_ptr<TraceWindowState> g_state;

std::unique_ptr<kestrel::ITraceWindow> MakeFake(std::shared_ptr<TraceWindowState> state)
{
    g_state = std::move(state);
    auto window = std::make_unique<FakeWindow>();
    g_window = window.get();
    return window;
}

class WindowFileTest : public ::testing::Test {
protected:
    void SetUp() override { kestrel::SetTraceWindowFactory(&MakeFake); }
    void TearDown() override
    {
        kestrel::SetTraceWindowFactory(nullptr);
        g_window = nullptr;
        g_state.reset();
    }
};

TEST(WindowTextTest, AppendsWhileTheWholeStaysBelowTheLimit)
{
    EXPECT_EQ(kestrel::MergeWindowText("ab", "cd"), "abcd");
    const std::string box(31000, 'b');
    EXPECT_EQ(kestrel::MergeWindowText(box, std::string(1000, 'p')).size(), 32000u);
}

TEST(WindowTextTest, OverTheLimitTheBoxKeepsItsLast16000BeforeThePendingText)
{
    std::string box(20000, 'b');
    box.replace(4000, 1, "X");  // the first kept character
    const std::string merged = kestrel::MergeWindowText(box, std::string(12001, 'p'));
    ASSERT_EQ(merged.size(), 16000u + 12001u);
    EXPECT_EQ(merged.front(), 'X');
    EXPECT_EQ(merged.substr(16000), std::string(12001, 'p'));
}

TEST(WindowTextTest, APendingTextOf32000OrMoreKeepsItsOwnLast16000)
{
    std::string pending(40000, 'a');
    pending.replace(24000, 1, "Z");
    const std::string merged = kestrel::MergeWindowText("old text", pending);
    ASSERT_EQ(merged.size(), 16000u);
    EXPECT_EQ(merged.front(), 'Z');
}

TEST(WindowFileRefusalTest, NoWindowLibraryMeansNoWindowFile)
{
    kestrel::SetTraceWindowFactory(nullptr);
    try {
        CWndFile file("title", true);
        ADD_FAILURE() << "a window file was made without a window library";
    } catch (const kestrel::CFileException& e) {
        EXPECT_EQ(e.Error(), ENODEV);
    }
}

TEST_F(WindowFileTest, WritesShowTheWindowAndQueueTheText)
{
    CWndFile file("Camera traces", true);
    ASSERT_NE(g_window, nullptr);
    EXPECT_EQ(g_window->title, "Camera traces");
    EXPECT_FALSE(file.Visible());
    file.Write("line 1\r\n", 8);
    file.Write("line 2\r\n", 8);
    EXPECT_TRUE(file.Visible());
    EXPECT_EQ(g_window->shows, 2);
    EXPECT_TRUE(g_window->fronted);
    EXPECT_EQ(g_state->pending, "line 1\r\nline 2\r\n");
    EXPECT_EQ(file.WindowHandle(), g_window);
    EXPECT_THROW(static_cast<void>(file.GetLength()), kestrel::CFileException);
}

TEST_F(WindowFileTest, PendingTextIsBoundedToWhatTheBoxCouldEverShow)
{
    CWndFile file("t", false);
    const std::string chunk(10000, 'x');
    for (int i = 0; i < 100; ++i) {
        file.Write(chunk.data(), chunk.size());
    }
    file.Write("END", 3);
    EXPECT_EQ(g_state->pending.size(), kestrel::kWindowTextLimit + 1);
    // What the box becomes is the same as with the whole text.
    EXPECT_EQ(kestrel::MergeWindowText("box", g_state->pending),
              kestrel::MergeWindowText("box", std::string(1000000, 'x') + "END"));
    EXPECT_EQ(g_state->pending.substr(g_state->pending.size() - 3), "END");
}

TEST_F(WindowFileTest, WaitForEndReturnsAtOnceWhenNothingIsShown)
{
    CWndFile file("t", false);
    const auto start = std::chrono::steady_clock::now();
    file.WaitForEnd(0xFFFFFFFF);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(WindowFileTest, DismissEndsWaitForEndBeforeTheTimeIsUp)
{
    CWndFile file("t", false);
    file.Write("x\r\n", 3);
    std::thread user([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the user reads, then clicks
        g_state->Dismiss();
    });
    const auto start = std::chrono::steady_clock::now();
    file.WaitForEnd(0xFFFFFFFF);
    user.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(file.Visible());
    // A later write shows it again and a new wait waits again.
    file.Write("y\r\n", 3);
    EXPECT_TRUE(file.Visible());
    const auto again = std::chrono::steady_clock::now();
    file.WaitForEnd(100);
    EXPECT_GE(std::chrono::steady_clock::now() - again, std::chrono::milliseconds(100));
}

TEST_F(WindowFileTest, WaitForEndGivesUpWhenTheTimeIsUp)
{
    CWndFile file("t", false);
    file.Write("x", 1);
    const auto start = std::chrono::steady_clock::now();
    file.WaitForEnd(150);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(150));
    EXPECT_LT(waited, std::chrono::seconds(3));
    EXPECT_TRUE(file.Visible());
}

TEST_F(WindowFileTest, CloseEndsAWaitAndForgetsTheWindow)
{
    auto file = std::make_unique<CWndFile>("t", false);
    file->Write("x", 1);
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the wait has begun meanwhile
        file->Close();
    });
    file->WaitForEnd(0xFFFFFFFF);
    closer.join();
    EXPECT_FALSE(file->Visible());
    EXPECT_EQ(file->WindowHandle(), nullptr);
    EXPECT_NO_THROW(file->Write("after close", 11));
}

}  // namespace
