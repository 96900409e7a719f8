// The audio part as the server's wiring holds it: settings from the camera's
// settings file, reload, and stop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/audio/AudioManagement.h"
#include "serveur/audio/AudioNames.h"
#include "serveur/audio/tests/AlsaTestEnv.h"

namespace vorlix::audio {
namespace {

using namespace std::chrono_literals;
using kestrel::test::TempDir;
using kestrel::test::TraceCapture;
using test::AlsaTestEnv;

class AudioManagementTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kestrel::test::WriteFile(AlsaTestEnv::CaptureInput(), test::PatternBytes(88200, 5));
        Set("management", 1);
        Set("device in", 0);
        Set("device out", AlsaTestEnv::PlaybackNumber("vorlix_play"));
        Set("min time", 5);
        Set("max time", 600);
        Set("no activity time", 10);
    }
    void Set(const char* key, int value) { kestrel::profile::WriteInt(settings_, kAudioSection, key, value); }
    int Event(int shots, std::time_t at)
    {
        now_.store(at);
        RecorderEvent event;
        event.shots = shots;
        event.wavPath = RecordingPath(work_.Path(), shots);
        return audio_.GetRecorder().RecorderOnEvent(event);
    }

    TraceCapture traces_;
    TempDir work_{"vorlix_audio_room"};
    std::string settings_ = work_.File("Vorlix.ini");
    std::atomic<std::time_t> now_{5000};
    AudioManagement audio_{{settings_, work_.Path(), [this] { return now_.load(); }, {}}};
};

TEST_F(AudioManagementTest, StartReadsTheSettingsAndNamesTheDevices)
{
    audio_.Start();
    EXPECT_TRUE(audio_.Config().Enabled());
    EXPECT_EQ(audio_.Config().deviceOut, AlsaTestEnv::PlaybackNumber("vorlix_play"));
    EXPECT_TRUE(traces_.Contains("Audio recording from default, playing on vorlix_play", kestrel::kLevelInfo));
    EXPECT_TRUE(traces_.Contains("Audio outputs: 0 default, 1 ", kestrel::kLevelInfo));
    EXPECT_TRUE(traces_.Contains(std::to_string(AlsaTestEnv::PlaybackNumber("vorlix_play")) + " vorlix_play",
                                 kestrel::kLevelInfo));
    EXPECT_TRUE(audio_.GetRecorder().Running());
    EXPECT_TRUE(audio_.Sounds().PlayWavFile("missing.wav"));
    ASSERT_TRUE(audio_.Sounds().WaitIdle(5s));
    EXPECT_TRUE(traces_.Contains("Unable to play " + work_.File("wav/missing.wav"), kestrel::kLevelWarn))
        << "zone sounds are looked for in the working directory's wav folder";
}

TEST_F(AudioManagementTest, ReloadTakesNewSettingsAndStopKeepsTheRunningRecording)
{
    audio_.Start();
    EXPECT_EQ(Event(1, 5000), 0);
    EXPECT_TRUE(audio_.GetRecorder().Recording());

    Set("no activity time", 60);
    audio_.Reload();
    now_.store(5030);
    EXPECT_EQ(audio_.GetRecorder().RecorderOnQuietFrame(), 0) << "the running recording follows the new times";

    Set("management", 0);
    audio_.Reload();
    EXPECT_EQ(audio_.Playback().PlayRecording(RecordingPath(work_.Path(), 1), nullptr), 0);
    EXPECT_EQ(Event(2, 5031), 0);
    EXPECT_FALSE(::access(RecordingPath(work_.Path(), 2).c_str(), F_OK) == 0);

    audio_.Stop();
    EXPECT_FALSE(audio_.GetRecorder().Running());
    EXPECT_TRUE(traces_.Contains("      Stop Recorder(force)=vorlix_1.wav", kestrel::kLevelInfo));
    EXPECT_TRUE(::access(RecordingPath(work_.Path(), 1).c_str(), F_OK) == 0);
}

}  // namespace
}  // namespace vorlix::audio
