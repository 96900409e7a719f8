// Playing recordings for the history view and the zone sounds, on the ALSA
// test devices (AlsaTestEnv.h): what reaches the playback device, and when it
// is cut.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "libkestrel/testkit/Children.h"
#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/audio/AudioFormat.h"
#include "serveur/audio/RecordingPlayer.h"
#include "serveur/audio/WavPlayer.h"
#include "serveur/audio/tests/AlsaTestEnv.h"

namespace vorlix::audio {
namespace {

using namespace std::chrono_literals;
using kestrel::test::ReadFile;
using kestrel::test::TempDir;
using kestrel::test::TraceCapture;
using kestrel::test::WaitUntil;
using test::AlsaTestEnv;

class HistoryWindow final : public PlaybackWindow {
public:
    void ShowWarning(const std::string& text) override
    {
        const std::lock_guard lock(mutex_);
        warnings_.push_back(text);
    }
    void PlaybackEnded() override { ended_.store(true); }
    std::vector<std::string> Warnings() const
    {
        const std::lock_guard lock(mutex_);
        return warnings_;
    }
    bool Ended() const { return ended_.load(); }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> warnings_;
    std::atomic<bool> ended_{false};
};

// Runs sox with `args`; true when it succeeded.
bool Sox(const std::vector<std::string>& args)
{
    std::vector<std::string> words{"sox"};
    words.insert(words.end(), args.begin(), args.end());
    return kestrel::test::RunChild(words, {}, std::chrono::seconds(30), true) == 0;
}

long FileSize(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

class RecordingPlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::unlink(AlsaTestEnv::PlayOutput().c_str());
        config_.management = 1;
        config_.deviceOut = AlsaTestEnv::PlaybackNumber("vorlix_play");
        ASSERT_GE(config_.deviceOut, 1);
        player_.Configure(config_);
    }

    TraceCapture traces_;
    TempDir dir_{"vorlix_playback"};
    AudioConfig config_;
    HistoryWindow window_;
    RecordingPlayer player_;
};

TEST_F(RecordingPlayerTest, OneSecondRecordingPlaysFor981MillisecondsAndReachesTheDevice)
{
    const std::string sound = test::PatternBytes(88200, 7);
    dir_.Write("vorlix_3.wav", sound);
    EXPECT_EQ(player_.PlayRecording(dir_.File("vorlix_3.wav"), &window_), 981);
    EXPECT_TRUE(traces_.Contains("PlayReg (88200) " + dir_.File("vorlix_3.wav"), kestrel::kLevelInfo));
    ASSERT_TRUE(WaitUntil([&] { return player_.Finished(); }, 10s));
    EXPECT_TRUE(window_.Ended());
    EXPECT_TRUE(player_.DeviceOpen()) << "a finished playback stays open until stopped";
    EXPECT_EQ(player_.StopPlayback(), 1);
    EXPECT_EQ(player_.StopPlayback(), 0);
    EXPECT_TRUE(ReadFile(AlsaTestEnv::PlayOutput()) == sound) << "the device played the file's bytes";
    EXPECT_TRUE(window_.Warnings().empty());
}

TEST_F(RecordingPlayerTest, StopRightAfterPlayingSilencesTheDevice)
{
    const std::string sound = test::PatternBytes(std::size_t{10} * kBytesPerSecond, 8);
    dir_.Write("vorlix_4.wav", sound);
    EXPECT_EQ(player_.PlayRecording(dir_.File("vorlix_4.wav"), &window_), 882000 / 90 + 1);
    EXPECT_EQ(player_.StopPlayback(), 1);
    EXPECT_FALSE(player_.DeviceOpen());
    EXPECT_EQ(player_.StopPlayback(), 0);
    EXPECT_LT(FileSize(AlsaTestEnv::PlayOutput()), static_cast<long>(sound.size())) << "the rest was not played";
    EXPECT_FALSE(window_.Ended());
}

TEST_F(RecordingPlayerTest, PlayingAgainReplacesTheOpenPlayback)
{
    dir_.Write("a.wav", test::PatternBytes(std::size_t{10} * kBytesPerSecond, 1));
    const std::string second = test::PatternBytes(4410, 2);
    dir_.Write("b.wav", second);
    EXPECT_GT(player_.PlayRecording(dir_.File("a.wav"), &window_), 0);
    EXPECT_EQ(player_.PlayRecording(dir_.File("b.wav"), &window_), 4410 / 90 + 1);
    ASSERT_TRUE(WaitUntil([&] { return player_.Finished(); }, 10s));
    EXPECT_EQ(player_.StopPlayback(), 1);
    EXPECT_TRUE(ReadFile(AlsaTestEnv::PlayOutput()) == second);
}

TEST_F(RecordingPlayerTest, NothingPlaysWhenAudioIsOff)
{
    dir_.Write("vorlix_1.wav", test::PatternBytes(1000, 3));
    config_.management = 0;
    player_.Configure(config_);
    EXPECT_EQ(player_.PlayRecording(dir_.File("vorlix_1.wav"), &window_), 0);
    EXPECT_FALSE(player_.DeviceOpen());
    EXPECT_EQ(player_.StopPlayback(), 0);
}

TEST_F(RecordingPlayerTest, MissingRecordingIsTracedAndNotPlayed)
{
    EXPECT_EQ(player_.PlayRecording(dir_.File("vorlix_404.wav"), &window_), 0);
    EXPECT_TRUE(traces_.Contains("fopen (" + dir_.File("vorlix_404.wav") + ")(2)", kestrel::kLevelWarn));
    EXPECT_FALSE(player_.DeviceOpen()) << "no device is left open for a file that could not be read";
    EXPECT_EQ(player_.StopPlayback(), 0);
    EXPECT_EQ(player_.PlayRecording(dir_.Path(), &window_), 0) << "a directory is no recording";
    EXPECT_TRUE(window_.Warnings().empty());
}

TEST_F(RecordingPlayerTest, DeviceThatCannotOpenShowsTheMessage)
{
    dir_.Write("vorlix_1.wav", test::PatternBytes(1000, 3));
    for (const int device : {kNoDevice, AlsaTestEnv::PlaybackNumber("vorlix_broken")}) {
        config_.deviceOut = device;
        player_.Configure(config_);
        EXPECT_EQ(player_.PlayRecording(dir_.File("vorlix_1.wav"), &window_), 0);
        EXPECT_EQ(player_.StopPlayback(), 0);
    }
    EXPECT_EQ(window_.Warnings(), (std::vector<std::string>{"Failed to open waveform output device.",
                                                            "Failed to open waveform output device."}));
    // without a window the message goes to the trace
    EXPECT_EQ(player_.PlayRecording(dir_.File("vorlix_1.wav"), nullptr), 0);
    EXPECT_TRUE(traces_.Contains("Failed to open waveform output device.", kestrel::kLevelWarn));
}

TEST_F(RecordingPlayerTest, MessagesAreTranslated)
{
    RecordingPlayer player([](const std::string& text) { return "[fr] " + text; });
    config_.deviceOut = kNoDevice;
    player.Configure(config_);
    dir_.Write("vorlix_1.wav", "ab");
    EXPECT_EQ(player.PlayRecording(dir_.File("vorlix_1.wav"), &window_), 0);
    EXPECT_EQ(window_.Warnings(), (std::vector<std::string>{"[fr] Failed to open waveform output device."}));
}

class WavPlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::unlink(AlsaTestEnv::PlayOutput().c_str());
        ASSERT_EQ(::mkdir(dir_.File("wav").c_str(), 0755), 0);
        device_ = AlsaTestEnv::PlaybackNumber("vorlix_play");
        ASSERT_GE(device_, 1);
        player_.Configure(dir_.Path(), device_);
        player_.Start();
    }
    void TearDown() override { player_.Stop(); }

    // A sound made by sox, and its samples as signed 16-bit little-endian
    // frames (what the device gets).
    std::string MakeSound(const std::string& name, const std::vector<std::string>& format, const std::string& length)
    {
        std::vector<std::string> make{"-n"};
        make.insert(make.end(), format.begin(), format.end());
        make.insert(make.end(), {dir_.File("wav/" + name), "synth", length, "sine", "440", "sine", "660"});
        EXPECT_TRUE(Sox(make)) << "sox could not write " << name;
        const std::string raw = dir_.File(name + ".raw");
        EXPECT_TRUE(Sox({dir_.File("wav/" + name), "-t", "raw", "-e", "signed", "-b", "16", "-L", raw}));
        return ReadFile(raw);
    }

    TraceCapture traces_;
    TempDir dir_{"vorlix_sounds"};
    int device_ = 0;
    WavPlayer player_;
};

TEST_F(WavPlayerTest, WavFileWrittenBySoxReachesTheDeviceDecoded)
{
    const std::string samples = MakeSound("tone.wav", {"-r", "22050", "-c", "2", "-b", "16"}, "0.3");
    ASSERT_EQ(samples.size(), 22050U * 3 / 10 * 4);
    EXPECT_TRUE(player_.PlayWavFile("tone.wav"));
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(AlsaTestEnv::PlayOutput()).size() >= samples.size(); }, 10s));
    ASSERT_TRUE(player_.WaitIdle(10s));
    EXPECT_TRUE(ReadFile(AlsaTestEnv::PlayOutput()) == samples);
}

TEST_F(WavPlayerTest, OtherFormatsAndAbsoluteNamesPlayToo)
{
    const std::string samples = MakeSound("chime.flac", {"-r", "16000", "-c", "1", "-b", "16"}, "0.2");
    EXPECT_TRUE(player_.PlayWavFile(dir_.File("wav/chime.flac")));
    ASSERT_TRUE(player_.WaitIdle(10s));
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(AlsaTestEnv::PlayOutput()) == samples; }, 5s));
}

TEST_F(WavPlayerTest, NewSoundCutsTheOnePlaying)
{
    MakeSound("long.wav", {"-r", "8000", "-c", "1", "-b", "16"}, "20");
    const std::string shortSound = MakeSound("short.wav", {"-r", "8000", "-c", "1", "-b", "16"}, "0.1");
    EXPECT_TRUE(player_.PlayWavFile("long.wav"));
    ASSERT_TRUE(WaitUntil([&] { return FileSize(AlsaTestEnv::PlayOutput()) >= 0; }));
    EXPECT_TRUE(player_.PlayWavFile("short.wav"));
    // twenty seconds of the first sound would be far beyond this wait
    ASSERT_TRUE(player_.WaitIdle(10s));
    EXPECT_TRUE(ReadFile(AlsaTestEnv::PlayOutput()) == shortSound) << "only the new sound was played to its end";
}

TEST_F(WavPlayerTest, UnreadableSoundIsTracedAndThePlayerGoesOn)
{
    dir_.Write("wav/noise.wav", "RIFF but nothing of a sound file");
    EXPECT_TRUE(player_.PlayWavFile("missing.wav"));
    EXPECT_TRUE(player_.PlayWavFile("noise.wav"));
    ASSERT_TRUE(player_.WaitIdle(5s));
    EXPECT_TRUE(traces_.WaitFor("Unable to play " + dir_.File("wav/noise.wav"), 5s, kestrel::kLevelWarn));

    const std::string samples = MakeSound("ok.wav", {"-r", "8000", "-c", "1", "-b", "16"}, "0.1");
    EXPECT_TRUE(player_.PlayWavFile("ok.wav"));
    ASSERT_TRUE(player_.WaitIdle(10s));
    EXPECT_TRUE(ReadFile(AlsaTestEnv::PlayOutput()) == samples);
}

TEST_F(WavPlayerTest, StoppedPlayerRefusesSoundsAndStopCutsAPlayingOne)
{
    MakeSound("long.wav", {"-r", "8000", "-c", "1", "-b", "16"}, "20");
    EXPECT_TRUE(player_.PlayWavFile("long.wav"));
    EXPECT_FALSE(player_.PlayWavFile(""));
    player_.Stop();  // within a device wait, not twenty seconds
    EXPECT_FALSE(player_.PlayWavFile("long.wav"));
    EXPECT_TRUE(player_.WaitIdle(1s));
}

}  // namespace
}  // namespace vorlix::audio
