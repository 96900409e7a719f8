// The audio part's texts, names and settings, without any device.
#include <gtest/gtest.h>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/audio/AlsaPcm.h"
#include "serveur/audio/AudioConfig.h"
#include "serveur/audio/AudioFormat.h"
#include "serveur/audio/AudioNames.h"
#include "serveur/audio/tests/AlsaTestEnv.h"

namespace vorlix::audio {
namespace {

TEST(AudioNames, PictureNumbersRunModuloTheRotatingSet)
{
    EXPECT_EQ(PictureNumber(1, 3), 1);
    EXPECT_EQ(PictureNumber(3, 3), 0);
    EXPECT_EQ(PictureNumber(4, 3), 1);
    EXPECT_EQ(PictureNumber(-1, 3), 2);  // never a negative file number
    EXPECT_EQ(PictureNumber(17, 0), 0);  // no slot size: no division by zero
    EXPECT_EQ(RecordingName(12), "vorlix_12.wav");
    EXPECT_EQ(RecordingPath("/var/pics", 0), "/var/pics/vorlix_0.wav");
}

TEST(AudioNames, EventsWindowLinesNameTheRecordingFile)
{
    EXPECT_EQ(RecorderLineText(RecorderLine::kStart, 4), "      Start Recorder=vorlix_4.wav");
    EXPECT_EQ(RecorderLineText(RecorderLine::kStop, 4), "      Stop Recorder=vorlix_4.wav");
    EXPECT_EQ(RecorderLineText(RecorderLine::kForcedStop, 4), "      Stop Recorder(force)=vorlix_4.wav");
    EXPECT_EQ(RecorderLineText(RecorderLine::kAbort, 499), "      Abort Recorder=vorlix_499.wav");
    EXPECT_EQ(RecorderLineText(RecorderLine::kMaxTime, 0), "      Max Recorder=vorlix_0.wav");
}

TEST(AudioNames, ZoneSoundNamesAreReadFromTheWavFolderUnlessAbsolute)
{
    EXPECT_EQ(SoundPath("/srv/cam", "boing1.wav"), "/srv/cam/wav/boing1.wav");
    EXPECT_EQ(SoundPath("/srv/cam", "birds/robin.flac"), "/srv/cam/wav/birds/robin.flac");
    EXPECT_EQ(SoundPath("", "boing1.wav"), "wav/boing1.wav");
    EXPECT_EQ(SoundPath("/srv/cam", "/usr/share/sounds/bell.wav"), "/usr/share/sounds/bell.wav");
    EXPECT_EQ(SoundPath("/srv/cam", "C:\\sons\\bell.wav"), "C:\\sons\\bell.wav");
    EXPECT_EQ(SoundPath("/srv/cam", "x"), "x");  // one character: unchanged
}

TEST(AudioFormat, PlayingTimeIsNinetyBytesPerMillisecondPlusOne)
{
    EXPECT_EQ(kBytesPerSecond, 88200);
    EXPECT_EQ(ExpectedPlayMs(88200), 981);
    EXPECT_EQ(ExpectedPlayMs(0), 1);
    EXPECT_EQ(ExpectedPlayMs(89), 1);
    EXPECT_EQ(ExpectedPlayMs(90), 2);
    // a long recording does not overflow
    EXPECT_EQ(ExpectedPlayMs(std::int64_t{88200} * 100000), std::int64_t{98000001});
}

class AudioConfigTest : public ::testing::Test {
protected:
    kestrel::test::TempDir dir_{"vorlix_audio_config"};
    std::string file_ = dir_.File("Vorlix.ini");
};

TEST_F(AudioConfigTest, AbsentSectionReadsAsTheDefaults)
{
    const AudioConfig config = LoadAudioConfig(file_);
    EXPECT_EQ(config.management, 0);
    EXPECT_EQ(config.deviceIn, 0);
    EXPECT_EQ(config.deviceOut, 0);
    EXPECT_EQ(config.minTime, 5);
    EXPECT_EQ(config.maxTime, 600);
    EXPECT_EQ(config.noActivityTime, 10);
    EXPECT_FALSE(config.Enabled());
}

TEST_F(AudioConfigTest, PresentSectionReadsMissingTimesAsZeroAndMissingOutputAsNoDevice)
{
    kestrel::profile::WriteString(file_, "VORLIX audio management", "device in", "2");
    kestrel::profile::WriteString(file_, "Vorlix Audio Management", "management", "1");
    const AudioConfig config = LoadAudioConfig(file_);
    EXPECT_TRUE(config.Enabled());
    EXPECT_EQ(config.deviceIn, 2);
    EXPECT_EQ(config.deviceOut, kNoDevice);
    EXPECT_EQ(config.minTime, 0);
    EXPECT_EQ(config.maxTime, 0);
    EXPECT_EQ(config.noActivityTime, 0);
}

TEST_F(AudioConfigTest, EveryKeyIsRead)
{
    dir_.Write("Vorlix.ini",
               "[Vorlix Audio Management]\nmanagement=1\ndevice in=3\ndevice out=4\nmin time=7\nmax time=120\n"
               "no activity time=12\n");
    const AudioConfig config = LoadAudioConfig(file_);
    EXPECT_EQ(config.deviceIn, 3);
    EXPECT_EQ(config.deviceOut, 4);
    EXPECT_EQ(config.minTime, 7);
    EXPECT_EQ(config.maxTime, 120);
    EXPECT_EQ(config.noActivityTime, 12);
}

TEST_F(AudioConfigTest, ValuesOutsideTheirRangeAreMendedAndSaid)
{
    dir_.Write("Vorlix.ini",
               "[Vorlix Audio Management]\nmanagement=2\ndevice in=-3\ndevice out=5000\nmin time=abc\n"
               "max time=-1\nno activity time=200000\n");
    const kestrel::test::TraceCapture trace;
    const AudioConfig config = LoadAudioConfig(file_);
    EXPECT_TRUE(config.Enabled()) << "any non-zero management turns recording on";
    EXPECT_EQ(config.deviceIn, 0);
    EXPECT_EQ(config.deviceOut, kNoDevice) << "an impossible output names no device";
    EXPECT_EQ(config.minTime, 0);
    EXPECT_EQ(config.maxTime, 0);
    EXPECT_EQ(config.noActivityTime, 86400);
    for (const char* key : {"device in", "device out", "min time", "max time", "no activity time"}) {
        EXPECT_TRUE(trace.Contains(key)) << key << " is named in a warning";
    }
}

TEST(AlsaDevices, NumbersIndexTheDeviceListWithZeroForDefault)
{
    using test::AlsaTestEnv;
    EXPECT_EQ(PcmDeviceName(0, PcmDirection::kCapture), "default");
    EXPECT_EQ(PcmDeviceName(0, PcmDirection::kPlayback), "default");
    const std::vector<std::string> playback = PcmDeviceNames(PcmDirection::kPlayback);
    const int play = AlsaTestEnv::PlaybackNumber("vorlix_play");
    ASSERT_GE(play, 1) << "vorlix_play is not in the playback list";
    EXPECT_EQ(PcmDeviceName(play, PcmDirection::kPlayback), "vorlix_play");
    EXPECT_GE(AlsaTestEnv::CaptureNumber("vorlix_fifo"), 1);
    EXPECT_EQ(PcmDeviceName(static_cast<int>(playback.size()) + 1, PcmDirection::kPlayback), std::nullopt);
    EXPECT_EQ(PcmDeviceName(kNoDevice, PcmDirection::kPlayback), std::nullopt);
    EXPECT_EQ(PcmDeviceName(-1, PcmDirection::kCapture), std::nullopt);
}

}  // namespace
}  // namespace vorlix::audio
