// The handoff between the decoding thread and the measuring thread: every
// frame reaches the sink when it keeps up, only the newest when it does not,
// a frame is never written over while it is measured, and stop ends the thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <thread>
#include <utility>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/capture/FrameHandoff.h"

using namespace std::chrono_literals;

namespace vorlix::capture {
namespace {

constexpr int kW = 32;
constexpr int kH = 8;
constexpr std::size_t kBytes = static_cast<std::size_t>(kW) * kH;

// Records the frame numbers seen (every byte of frame n is n), and can hold
// the measuring thread inside ProcessFrame until released.
class GatedSink final : public FrameSink {
public:
    void ProcessFrame(const Frame& frame) override
    {
        std::unique_lock lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, 5s, [this] { return open_; });
        const std::uint8_t n = frame.data.empty() ? 0 : frame.data[0];
        const bool whole = frame.data.size() == kBytes &&
                           std::all_of(frame.data.begin(), frame.data.end(), [n](std::uint8_t b) { return b == n; });
        if (!whole) {
            ++torn;
        }
        seen.push_back(n);
        threads.insert(std::this_thread::get_id());
    }
    void Close()
    {
        const std::lock_guard lock(mutex_);
        open_ = false;
        entered_ = false;
    }
    void Open()
    {
        {
            const std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    bool Entered()
    {
        const std::lock_guard lock(mutex_);
        return entered_;
    }
    std::vector<int> Seen()
    {
        const std::lock_guard lock(mutex_);
        return seen;
    }

    int torn = 0;
    std::vector<int> seen;
    std::set<std::thread::id> threads;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    bool entered_ = false;
};

// Fills the handoff's buffer with frame n and publishes it; the buffer's storage.
const std::uint8_t* PublishFrame(FrameHandoff& handoff, int n)
{
    std::vector<std::uint8_t>& buffer = handoff.Buffer();
    buffer.assign(kBytes, static_cast<std::uint8_t>(n));
    handoff.Publish(Frame{buffer, kW, kH, kFourccI420, kTopDown});
    return buffer.data();
}

TEST(FrameHandoff, EveryFrameReachesASinkThatKeepsUpInOrderOnItsOwnThread)
{
    GatedSink sink;
    FrameHandoff handoff(sink);
    handoff.Start();
    for (int n = 1; n <= 20; ++n) {
        PublishFrame(handoff, n);
        ASSERT_TRUE(kestrel::test::WaitUntil([&] { return handoff.Processed() == static_cast<std::uint64_t>(n); }));
    }
    handoff.Stop();
    std::vector<int> expected(20);
    for (int n = 1; n <= 20; ++n) {
        expected[static_cast<std::size_t>(n - 1)] = n;
    }
    EXPECT_EQ(sink.Seen(), expected);
    EXPECT_EQ(sink.torn, 0);
    EXPECT_EQ(handoff.Replaced(), 0U);
    ASSERT_EQ(sink.threads.size(), 1U);
    EXPECT_NE(*sink.threads.begin(), std::this_thread::get_id());
}

TEST(FrameHandoff, ABusySinkGetsTheNewestFrameAndTheReplacedOnesAreCountedAndTraced)
{
    kestrel::test::TraceCapture traces;
    GatedSink sink;
    FrameHandoff handoff(sink);
    handoff.Start();
    sink.Close();
    PublishFrame(handoff, 1);
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return sink.Entered(); }));
    // Frame 1 is being measured: 2..9 arrive meanwhile, each written into a
    // buffer other than frame 1's.
    for (int n = 2; n <= 9; ++n) {
        PublishFrame(handoff, n);
    }
    EXPECT_EQ(handoff.Replaced(), 7U);
    sink.Open();
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return handoff.Processed() == 2; }));
    PublishFrame(handoff, 10);
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return handoff.Processed() == 3; }));
    handoff.Stop();
    EXPECT_EQ(sink.Seen(), (std::vector<int>{1, 9, 10}));
    EXPECT_EQ(sink.torn, 0);
    EXPECT_EQ(handoff.Published(), 10U);
    const auto lines = traces.Lines();
    const auto replacedLines = std::count_if(lines.begin(), lines.end(), [](const auto& l) {
        return l.level == kestrel::kLevelQueue && l.text.find("replaced by a newer one") != std::string::npos;
    });
    EXPECT_EQ(replacedLines, 7);
}

TEST(FrameHandoff, TheDecoderRunsOnThreeBuffersKeptFromFrameToFrame)
{
    GatedSink sink;
    FrameHandoff handoff(sink);
    handoff.Start();
    std::set<const std::uint8_t*> buffers;
    sink.Close();
    for (int n = 1; n <= 30; ++n) {
        buffers.insert(PublishFrame(handoff, n));
        if (n == 15) {
            sink.Open();
        }
    }
    sink.Open();
    handoff.Stop();
    EXPECT_LE(buffers.size(), 3U);
    EXPECT_EQ(sink.torn, 0);
}

TEST(FrameHandoff, StopEndsAnIdleOrBusyThreadAndNoFrameOutlivesIt)
{
    GatedSink sink;
    FrameHandoff handoff(sink);
    handoff.Stop();  // never started: nothing to do
    handoff.Start();
    EXPECT_TRUE(handoff.Running());
    handoff.Stop();
    EXPECT_FALSE(handoff.Running());

    handoff.Start();
    sink.Close();
    PublishFrame(handoff, 1);
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return sink.Entered(); }));
    PublishFrame(handoff, 2);  // waits behind frame 1
    std::thread opener([&] {
        std::this_thread::yield();
        sink.Open();
    });
    handoff.Stop();  // returns once frame 1 is done
    opener.join();
    EXPECT_FALSE(handoff.Running());
    // Frame 2 was measured only if the sink was let go before the stop was asked.
    const std::size_t before = sink.Seen().size();
    ASSERT_GE(before, 1U);
    ASSERT_LE(before, 2U);

    // Started again, it takes new frames, never one left from before the stop.
    handoff.Start();
    PublishFrame(handoff, 3);
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return sink.Seen().size() == before + 1; }));
    handoff.Stop();
    EXPECT_EQ(sink.Seen().back(), 3);
    EXPECT_EQ(sink.torn, 0);
}

}  // namespace
}  // namespace vorlix::capture

namespace vorlix::capture {
namespace {

// Asks for the whole picture of every other frame, twice.
class WholeAskingSink final : public FrameSink {
public:
    void ProcessFrame(const Frame& frame) override
    {
        ++frames;
        if (frame.full == nullptr) {
            ++withoutSource;
            return;
        }
        sizes.push_back(frame.full->FullSize());
        if (frames % 2 == 0) {
            for (int i = 0; i < 2; ++i) {
                const std::optional<Frame> whole = frame.full->FullFrame();
                if (whole) {
                    wholeFirstBytes.push_back(whole->data[0]);
                }
            }
        }
    }
    std::atomic<int> frames{0};
    int withoutSource = 0;
    std::vector<std::pair<int, int>> sizes;
    std::vector<int> wholeFirstBytes;
};

TEST(FrameHandoff, TheWholePictureOfAScaledFrameIsDecodedOnlyWhenAskedAndOnce)
{
    WholeAskingSink sink;
    int decodes = 0;
    FrameHandoff handoff(sink, [&decodes](std::span<const std::uint8_t> source, std::vector<std::uint8_t>& out) {
        ++decodes;
        out.assign(4 * kBytes, source.empty() ? 0 : source[0]);
        return std::optional<Frame>(Frame{out, 2 * kW, 2 * kH, kFourccI420, kTopDown});
    });
    handoff.Start();
    // The source bytes stay with the publisher, one buffer per slot.
    std::array<std::vector<std::uint8_t>, FrameHandoff::kSlots> sources;
    for (int n = 1; n <= 6; ++n) {
        std::vector<std::uint8_t>& buffer = handoff.Buffer();
        buffer.assign(kBytes, static_cast<std::uint8_t>(n));
        std::vector<std::uint8_t>& source = sources.at(static_cast<std::size_t>(handoff.FillingSlot()));
        source.assign(3, static_cast<std::uint8_t>(100 + n));
        Frame frame{buffer, kW, kH, kFourccI420, kTopDown};
        frame.scale = n <= 4 ? 2 : 1;  // the last two at full size
        handoff.Publish(frame, 2 * kW, 2 * kH, source);
        ASSERT_TRUE(kestrel::test::WaitUntil([&] { return sink.frames.load() == n; }));
    }
    handoff.Stop();
    EXPECT_EQ(sink.withoutSource, 2) << "frames at full size have no whole-picture source";
    EXPECT_EQ(sink.sizes, (std::vector<std::pair<int, int>>(4, {2 * kW, 2 * kH})));
    EXPECT_EQ(decodes, 2) << "frames 2 and 4 asked, each decoded once";
    EXPECT_EQ(sink.wholeFirstBytes, (std::vector<int>{102, 102, 104, 104})) << "each frame's own source";
}

// The publisher learns when a slot's frame is done with, so what it keeps
// for that frame can go back at once, and the slot it learns of is the one
// the frame was published in.
TEST(FrameHandoff, EachMeasuredFrameIsToldDoneWithTheSlotItWasPublishedIn)
{
    GatedSink sink;
    std::mutex doneMutex;
    std::vector<int> done;
    FrameHandoff handoff(sink, {}, [&](int slot) {
        const std::lock_guard lock(doneMutex);
        done.push_back(slot);
    });
    handoff.Start();
    std::vector<int> published;
    for (int n = 1; n <= 8; ++n) {
        published.push_back(handoff.FillingSlot());
        PublishFrame(handoff, n);
        ASSERT_TRUE(kestrel::test::WaitUntil([&] { return handoff.Processed() == static_cast<std::uint64_t>(n); }));
    }
    handoff.Stop();
    const std::lock_guard lock(doneMutex);
    EXPECT_EQ(done, published);
    for (const int slot : published) {
        EXPECT_GE(slot, 0);
        EXPECT_LT(slot, FrameHandoff::kSlots);
    }
}

}  // namespace
}  // namespace vorlix::capture
