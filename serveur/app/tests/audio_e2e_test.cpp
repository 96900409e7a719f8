// The sound recorder inside the running program, on ALSA test devices (the
// capture device reads a file): a burst of detections is recorded into
// "vorlix_<n>.wav" beside its first picture and kept, and a reload with
// recording unticked stops new recordings, ticked again starts them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libkestrel/profile/Profile.h"
#include "serveur/app/tests/ServerBench.h"
#include "serveur/audio/AudioFormat.h"
#include "serveur/audio/tests/AlsaTestEnv.h"

namespace {

using namespace std::chrono_literals;
using vorlix::app::testing::ServerBench;
using vorlix::audio::test::AlsaTestEnv;
namespace profile = kestrel::profile;

constexpr const char* kAudio = "Vorlix Audio Management";

void SetAudio(const ServerBench& bench, const char* key, int value)
{
    profile::WriteInt(bench.ini, kAudio, key, value);
}

// The numbers of the recordings the events list names with `how`
// ("Start Recorder", "Stop Recorder(force)", ...).
std::vector<int> Recordings(const std::string& trace, const std::string& how)
{
    std::vector<int> numbers;
    const std::string head = "Events:       " + how + "=vorlix_";
    for (auto at = trace.find(head); at != std::string::npos; at = trace.find(head, at + head.size())) {
        std::size_t digits = at + head.size();
        int number = 0;
        bool any = false;
        while (digits < trace.size() && trace[digits] >= '0' && trace[digits] <= '9') {
            number = number * 10 + (trace[digits++] - '0');
            any = true;
        }
        if (any && trace.compare(digits, 4, ".wav") == 0) {
            numbers.push_back(number);
        }
    }
    return numbers;
}

// How many recordings the events list says have ended, however.
std::size_t Ended(const std::string& trace)
{
    return Recordings(trace, "Max Recorder").size() + Recordings(trace, "Stop Recorder").size() +
           Recordings(trace, "Stop Recorder(force)").size() + Recordings(trace, "Abort Recorder").size();
}

TEST(AudioInTheProgram, ABurstIsRecordedAndKeptAndATickBoxReloadStopsAndStartsTheRecorder)
{
    const std::string input = vorlix::audio::test::PatternBytes(std::size_t{10} * vorlix::audio::kBytesPerSecond, 9);
    kestrel::test::WriteFile(AlsaTestEnv::CaptureInput(), input);
    ServerBench bench;
    SetAudio(bench, "management", 1);
    SetAudio(bench, "device in", 0);
    SetAudio(bench, "device out", AlsaTestEnv::PlaybackNumber("vorlix_play"));
    SetAudio(bench, "min time", 1);
    SetAudio(bench, "max time", 2);  // the test camera moves all the time: this ends each burst
    SetAudio(bench, "no activity time", 10);
    bench.Start();

    ASSERT_TRUE(bench.WaitForTrace("Events:       Max Recorder=vorlix_", 1, 20s)) << bench.Trace();
    const std::vector<int> ended = Recordings(bench.Trace(), "Max Recorder");
    ASSERT_FALSE(ended.empty());
    const std::string name = "vorlix_" + std::to_string(ended.front()) + ".wav";
    EXPECT_TRUE(bench.WaitForTrace("Events:       Start Recorder=" + name));
    // Its end is written by the audio thread shortly after the notice.
    std::string recorded;
    EXPECT_TRUE(kestrel::test::WaitUntil(
        [&] {
            recorded = bench.Picture(name);
            return recorded.size() >= vorlix::audio::kBytesPerSecond;
        },
        5s, 20ms))
        << name << " holds " << recorded.size() << " bytes";
    EXPECT_TRUE(recorded == input.substr(0, recorded.size())) << "the file holds the device's bytes";
    EXPECT_TRUE(Recordings(bench.Trace(), "Abort Recorder").empty()) << "a confirmed recording is never aborted";

    SetAudio(bench, "management", 0);
    const int reloads = bench.CountTrace("SIGHUP: configuration reloaded");
    bench.Reload();
    // The trace drops a line that comes while another thread's line is being
    // written: this wait ends at the line or, when it was dropped, at its
    // deadline, long after the reload.
    bench.WaitForTrace("SIGHUP: configuration reloaded", reloads + 1);
    // Once the recording under way has ended, no new one starts.
    ASSERT_TRUE(kestrel::test::WaitUntil(
        [&] {
            const std::string trace = bench.Trace();
            return Recordings(trace, "Start Recorder").size() == Ended(trace);
        },
        10s, 20ms))
        << bench.Trace();
    const std::size_t started = Recordings(bench.Trace(), "Start Recorder").size();
    ASSERT_TRUE(bench.WaitForMoreDetections(10)) << bench.Trace();
    EXPECT_EQ(Recordings(bench.Trace(), "Start Recorder").size(), started) << "no recording while unticked";

    SetAudio(bench, "management", 1);
    bench.Reload();
    EXPECT_TRUE(kestrel::test::WaitUntil([&] { return Recordings(bench.Trace(), "Start Recorder").size() > started; },
                                         10s, 20ms))
        << "ticked again, the next detection starts a recording";

    // The schedule closes the camera: without frames nothing else would end
    // the recording under way, so closing ends it, kept.
    const int closedBefore = bench.CountTrace("Vorlix is OFF");
    profile::WriteInt(bench.ini, "Vorlix", "Schedule", 737280);  // no day selected
    bench.Reload();
    bench.WaitForTrace("Vorlix is OFF", closedBefore + 1);  // the line, or its deadline
    EXPECT_TRUE(kestrel::test::WaitUntil(
        [&] {
            const std::string trace = bench.Trace();
            return Recordings(trace, "Start Recorder").size() == Ended(trace);
        },
        10s, 20ms))
        << "every recording has ended once the camera is closed\n"
        << bench.Trace();
    for (const int number : Recordings(bench.Trace(), "Stop Recorder(force)")) {
        EXPECT_FALSE(bench.Picture("vorlix_" + std::to_string(number) + ".wav").empty()) << number;
    }

    EXPECT_EQ(bench.Stop(), 0) << bench.Trace();
}

}  // namespace
