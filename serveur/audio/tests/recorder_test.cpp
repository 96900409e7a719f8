// The recorder on ALSA test devices (AlsaTestEnv.h) with the clock in the
// test's hand: what a burst of events records, keeps, ends and removes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/audio/AlsaPcm.h"
#include "serveur/audio/AudioFormat.h"
#include "serveur/audio/AudioNames.h"
#include "serveur/audio/CaptureSession.h"
#include "serveur/audio/Recorder.h"
#include "serveur/audio/tests/AlsaTestEnv.h"

namespace vorlix::audio {
namespace {

using namespace std::chrono_literals;
using kestrel::test::TempDir;
using kestrel::test::TraceCapture;
using kestrel::test::WaitUntil;
using test::AlsaTestEnv;

// The events window: lines arrive from the recorder's audio thread.
class EventsList final : public EventsWindow {
public:
    void AddEntry(const std::string& line) override
    {
        const std::lock_guard lock(mutex_);
        lines_.push_back(line);
    }
    std::vector<std::string> Lines() const
    {
        const std::lock_guard lock(mutex_);
        return lines_;
    }
    bool WaitFor(const std::string& line) const
    {
        return WaitUntil([&] {
            const std::vector<std::string> lines = Lines();
            return std::find(lines.begin(), lines.end(), line) != lines.end();
        });
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

long FileSize(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

bool Exists(const std::string& path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // ten seconds of sound the capture device will deliver, far more
        // than any test records even on a loaded machine
        input_ = test::PatternBytes(std::size_t{10} * kBytesPerSecond, 20);
        kestrel::test::WriteFile(AlsaTestEnv::CaptureInput(), input_);
        config_.management = 1;
        config_.deviceIn = 0;
        config_.minTime = 5;
        config_.maxTime = 600;
        config_.noActivityTime = 10;
        recorder_.Configure(config_);
        recorder_.SetEventsWindow(&events_);
        recorder_.Start();
    }
    void TearDown() override { recorder_.Stop(); }

    int Event(int shots, std::time_t at)
    {
        now_.store(at);
        RecorderEvent event;
        event.shots = shots;
        event.maxJpg = maxJpg_;
        event.wavPath = Wav(PictureNumber(shots, maxJpg_));
        return recorder_.RecorderOnEvent(event);
    }
    int Quiet(std::time_t at)
    {
        now_.store(at);
        return recorder_.RecorderOnQuietFrame();
    }
    std::string Wav(int number) const { return RecordingPath(pictures_.Path(), number); }
    // Waits until the device has delivered `blocks` blocks into the file.
    bool WaitForSound(int number, int blocks) const
    {
        return WaitUntil([&] { return FileSize(Wav(number)) >= blocks * static_cast<long>(kBlockBytes); });
    }
    void ExpectRecordedInput(int number) const
    {
        const std::string recorded = kestrel::test::ReadFile(Wav(number));
        ASSERT_FALSE(recorded.empty());
        EXPECT_EQ(recorded.size() % kBlockBytes, 0U) << "only whole blocks reach the file";
        ASSERT_LE(recorded.size(), input_.size());
        EXPECT_TRUE(recorded == input_.substr(0, recorded.size())) << "the file holds the device's bytes";
    }

    TraceCapture traces_;
    TempDir pictures_{"vorlix_recorder"};
    std::string input_;
    std::atomic<std::time_t> now_{1000};
    int maxJpg_ = 500;
    AudioConfig config_;
    EventsList events_;
    Recorder recorder_{[this] { return now_.load(); }};
};

TEST_F(RecorderTest, TwoEventsTenSecondsApartMakeOneRecordingConfirmedStoppedAndKept)
{
    EXPECT_EQ(Event(1, 1000), 0);
    EXPECT_TRUE(recorder_.Recording());
    EXPECT_EQ(recorder_.RecordingNumber(), 1);
    ASSERT_TRUE(events_.WaitFor("      Start Recorder=vorlix_1.wav"));
    EXPECT_TRUE(traces_.Contains("creation " + Wav(1), kestrel::kLevelInfo));
    // Traced on the recorder thread just after the events line.
    EXPECT_TRUE(traces_.WaitFor("start recorder", 5s, kestrel::kLevelInfo));

    EXPECT_EQ(Event(2, 1010), 0);  // extends it, and confirms it (10 > 5)
    EXPECT_EQ(traces_.Count("CONFIRM register", kestrel::kLevelInfo), 1);
    EXPECT_EQ(recorder_.RecordingNumber(), 1);
    ASSERT_TRUE(WaitForSound(1, 8));

    EXPECT_EQ(Quiet(1020), 0) << "ten seconds without event are not more than ten";
    EXPECT_TRUE(recorder_.Recording());
    EXPECT_EQ(Quiet(1021), 1);
    EXPECT_FALSE(recorder_.Recording());
    EXPECT_EQ(recorder_.RecordingNumber(), -1);
    ASSERT_TRUE(recorder_.WaitIdle(5s));

    EXPECT_EQ(events_.Lines(),
              (std::vector<std::string>{"      Start Recorder=vorlix_1.wav", "      Stop Recorder=vorlix_1.wav"}));
    EXPECT_TRUE(traces_.Contains("): " + std::string("      Stop Recorder=vorlix_1.wav"), kestrel::kLevelInfo));
    EXPECT_FALSE(Exists(Wav(2))) << "the second event made no recording of its own";
    ExpectRecordedInput(1);
    EXPECT_EQ(Quiet(1100), 0) << "nothing left to stop";
}

TEST_F(RecorderTest, SingleEventThenQuietAbortsAndRemovesTheRecording)
{
    EXPECT_EQ(Event(7, 1000), 0);
    ASSERT_TRUE(events_.WaitFor("      Start Recorder=vorlix_7.wav"));
    ASSERT_TRUE(WaitForSound(7, 1));
    EXPECT_EQ(Quiet(1010), 0);
    EXPECT_EQ(Quiet(1011), 1);
    ASSERT_TRUE(recorder_.WaitIdle(5s));

    EXPECT_FALSE(Exists(Wav(7)));
    EXPECT_EQ(events_.Lines(),
              (std::vector<std::string>{"      Start Recorder=vorlix_7.wav", "      Abort Recorder=vorlix_7.wav"}));
    EXPECT_TRUE(traces_.Contains("(      Abort Recorder=vorlix_7.wav)", kestrel::kLevelInfo));
    EXPECT_TRUE(traces_.Contains("remove " + Wav(7), kestrel::kLevelInfo));
    EXPECT_FALSE(recorder_.Recording());
}

TEST_F(RecorderTest, WrapOfTheRotatingSetAbortsTheRecordingAndTheNextEventStartsAnew)
{
    maxJpg_ = 3;
    kestrel::test::WriteFile(Wav(2), "an older recording of picture 2");
    EXPECT_EQ(Event(1, 1000), 0);
    ASSERT_TRUE(events_.WaitFor("      Start Recorder=vorlix_1.wav"));
    EXPECT_EQ(Event(2, 1001), 0);
    EXPECT_EQ(Event(3, 1002), 0);
    ASSERT_TRUE(recorder_.WaitIdle(5s));
    EXPECT_FALSE(Exists(Wav(2))) << "superseded by the event of picture 2, while recording";
    EXPECT_TRUE(traces_.Contains("remove old " + Wav(2), kestrel::kLevelInfo));

    EXPECT_EQ(Event(4, 1003), 0);  // 4 mod 3 is the recording's own picture
    EXPECT_FALSE(recorder_.Recording());
    EXPECT_EQ(recorder_.RecordingNumber(), -1);
    ASSERT_TRUE(recorder_.WaitIdle(5s));
    EXPECT_FALSE(Exists(Wav(1)));
    EXPECT_TRUE(events_.WaitFor("      Abort Recorder=vorlix_1.wav"));

    EXPECT_EQ(Event(5, 1004), 0);
    EXPECT_EQ(recorder_.RecordingNumber(), 5);
    EXPECT_TRUE(events_.WaitFor("      Start Recorder=vorlix_2.wav"));
    const std::vector<std::string> lines = events_.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "      Abort Recorder=vorlix_1.wav"), 1);
}

TEST_F(RecorderTest, MaxTimeEndsTheRecordingKeptAndTheNextEventStartsANewOne)
{
    config_.maxTime = 30;
    recorder_.Configure(config_);
    EXPECT_EQ(Event(1, 1000), 0);
    ASSERT_TRUE(WaitForSound(1, 4));
    EXPECT_EQ(Event(2, 1020), 0);
    EXPECT_TRUE(recorder_.Recording());
    EXPECT_EQ(Event(3, 1031), 0);  // 31 s > "max time"
    EXPECT_TRUE(traces_.Contains("Max register", kestrel::kLevelInfo));
    EXPECT_FALSE(recorder_.Recording());
    ASSERT_TRUE(recorder_.WaitIdle(5s));
    EXPECT_TRUE(events_.WaitFor("      Max Recorder=vorlix_1.wav"));
    ExpectRecordedInput(1);

    EXPECT_EQ(Event(4, 1032), 0);
    EXPECT_EQ(recorder_.RecordingNumber(), 4);
    EXPECT_TRUE(events_.WaitFor("      Start Recorder=vorlix_4.wav"));
    EXPECT_TRUE(Exists(Wav(1))) << "the ended recording stays";
}

TEST_F(RecorderTest, ForcedStopKeepsEvenAnUnconfirmedRecording)
{
    EXPECT_EQ(Event(9, 1000), 0);
    ASSERT_TRUE(WaitForSound(9, 2));
    EXPECT_EQ(recorder_.StopRecordingForced(), 1);
    EXPECT_EQ(recorder_.StopRecordingForced(), 0);
    ASSERT_TRUE(recorder_.WaitIdle(5s));
    EXPECT_TRUE(events_.WaitFor("      Stop Recorder(force)=vorlix_9.wav"));
    ExpectRecordedInput(9);
}

TEST_F(RecorderTest, FailedDeviceOpenRemovesTheNewFileAndTheNextEventTriesAgain)
{
    for (const int device : {kNoDevice, AlsaTestEnv::CaptureNumber("vorlix_broken")}) {
        SCOPED_TRACE(device);
        traces_.Clear();
        config_.deviceIn = device;
        recorder_.Configure(config_);
        EXPECT_EQ(Event(1, 1000), 0);
        ASSERT_TRUE(recorder_.WaitIdle(5s));
        EXPECT_TRUE(traces_.Contains("waveInOpen (", kestrel::kLevelWarn));
        EXPECT_FALSE(Exists(Wav(1))) << "the file of a failed start is closed and removed";
        EXPECT_FALSE(recorder_.Recording());
        EXPECT_TRUE(events_.Lines().empty());
    }

    config_.deviceIn = 0;
    recorder_.Configure(config_);
    EXPECT_EQ(Event(2, 1001), 0);
    EXPECT_TRUE(events_.WaitFor("      Start Recorder=vorlix_2.wav"));
    EXPECT_TRUE(recorder_.Recording());
}

TEST_F(RecorderTest, UncreatableFileLeavesTheRecorderIdle)
{
    RecorderEvent event;
    event.shots = 1;
    event.wavPath = pictures_.File("missing/vorlix_1.wav");
    EXPECT_EQ(recorder_.RecorderOnEvent(event), 0);
    ASSERT_TRUE(recorder_.WaitIdle(5s));
    EXPECT_TRUE(traces_.Contains("Unable to create " + event.wavPath, kestrel::kLevelWarn));
    EXPECT_FALSE(recorder_.Recording());
    EXPECT_TRUE(events_.Lines().empty());
}

TEST_F(RecorderTest, CaptureThreadGoesOnWhileTheDeviceIsStillOpening)
{
    config_.deviceIn = AlsaTestEnv::CaptureNumber("vorlix_fifo");
    ASSERT_GE(config_.deviceIn, 1);
    recorder_.Configure(config_);
    // Opening this device waits for a writer on its FIFO; the writer comes
    // last, whatever happens in between.
    struct FifoWriter {
        ~FifoWriter()
        {
            const kestrel::UniqueFd fd(::open(AlsaTestEnv::FifoPath().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        }
    } writer;

    EXPECT_EQ(Event(3, 1000), 0);  // returns although the device is not open
    EXPECT_TRUE(recorder_.Recording());
    EXPECT_FALSE(recorder_.WaitIdle(200ms)) << "the audio thread is still opening the device";
    EXPECT_EQ(Event(4, 1001), 0);
    EXPECT_EQ(Quiet(1012), 1);  // the unconfirmed recording ends, asked for at once
    EXPECT_FALSE(recorder_.Recording());

    // a writer lets the open finish; its close ends the FIFO's input
    ASSERT_TRUE(WaitUntil([] {
        const kestrel::UniqueFd fd(::open(AlsaTestEnv::FifoPath().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        return fd.Valid();
    }));
    ASSERT_TRUE(recorder_.WaitIdle(5s));
    EXPECT_EQ(events_.Lines(),
              (std::vector<std::string>{"      Start Recorder=vorlix_3.wav", "      Abort Recorder=vorlix_3.wav"}));
    EXPECT_FALSE(Exists(Wav(3)));
}

TEST_F(RecorderTest, DisabledRecorderIgnoresEvents)
{
    config_.management = 0;
    recorder_.Configure(config_);
    EXPECT_EQ(Event(1, 1000), 0);
    EXPECT_FALSE(recorder_.Recording());
    ASSERT_TRUE(recorder_.WaitIdle(5s));
    EXPECT_FALSE(Exists(Wav(1)));
    EXPECT_EQ(Quiet(2000), 0);
    EXPECT_EQ(recorder_.StopRecordingForced(), 0);
    EXPECT_TRUE(events_.Lines().empty());
}

TEST_F(RecorderTest, StopEndsARunningRecordingKeptAndLaterCallsDoNothing)
{
    recorder_.SetEventsWindow(nullptr);  // a closed events window: the trace still tells
    EXPECT_EQ(Event(5, 1000), 0);
    ASSERT_TRUE(WaitForSound(5, 2));
    recorder_.Stop();
    EXPECT_FALSE(recorder_.Running());
    EXPECT_FALSE(recorder_.Recording());
    EXPECT_TRUE(traces_.Contains("      Stop Recorder(force)=vorlix_5.wav", kestrel::kLevelInfo));
    ExpectRecordedInput(5);
    EXPECT_TRUE(events_.Lines().empty());

    EXPECT_EQ(Event(6, 1001), 0);
    EXPECT_FALSE(recorder_.Recording());
    EXPECT_FALSE(Exists(Wav(6)));
}

}  // namespace
}  // namespace vorlix::audio

namespace vorlix::audio {
namespace {

// The blocks between the device and the file, without the recorder around them.
TEST(CaptureSessionTest, TwentyBlocksWaitForTheFileAndTheSoundBeyondIsDropped)
{
    const std::string input = test::PatternBytes(std::size_t{2} * kBytesPerSecond, 33);
    kestrel::test::WriteFile(AlsaTestEnv::CaptureInput(), input);
    TempDir dir("vorlix_blocks");
    const std::string path = dir.File("vorlix_0.wav");
    PcmOpenResult opened = OpenPcm("default", PcmDirection::kCapture, SampleFormat::kU8, kChannels, kSampleRate);
    ASSERT_TRUE(opened.pcm) << PcmErrorText(opened.error);
    std::atomic<int> ready{0};
    CaptureSession session(std::move(opened.pcm), kestrel::UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT, 0600)),
                           path, kSampleRate, [&] { ++ready; });
    int systemError = 0;
    ASSERT_EQ(session.Start(systemError), 0);
    // nobody writes: the reader fills all twenty blocks, then has nowhere to put the sound
    ASSERT_TRUE(WaitUntil([&] { return session.DroppedBytes() > 0; }));
    session.StopDevice();
    EXPECT_GE(ready.load(), kBlocksInFlight);
    ASSERT_TRUE(session.WriteFilled());
    ASSERT_TRUE(session.CloseFile());
    const std::string recorded = kestrel::test::ReadFile(path);
    EXPECT_EQ(recorded.size(), kBlockBytes * kBlocksInFlight);
    EXPECT_TRUE(recorded == input.substr(0, recorded.size())) << "the waiting blocks reach the file in order";
}

}  // namespace
}  // namespace vorlix::audio
