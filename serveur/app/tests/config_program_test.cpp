// The configuration dialog's work against real parts: the "Test" of a camera
// address opens files made by ffmpeg (a picture, or why none came, in words),
// and a save that unticks mail stops the running server's mail sender.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/profile/Profile.h"
#include "serveur/app/ConfigTable.h"
#include "serveur/app/SaveConfiguration.h"
#include "serveur/app/SourceProbe.h"
#include "serveur/app/WorkerTimings.h"
#include "serveur/app/tests/ServerBench.h"
#include "serveur/app/tests/ServerProcess.h"
#include "serveur/mail/MailSettings.h"
#include "serveur/mail/tests/MailTestKit.h"

namespace {

using namespace std::chrono_literals;
using namespace vorlix::app;
using vorlix::app::testing::ServerBench;
namespace fs = std::filesystem;
namespace prof = kestrel::profile;

constexpr const char* kFfmpeg = "/usr/bin/ffmpeg";

bool Ffmpeg(const fs::path& dir, std::vector<std::string> args)
{
    args.insert(args.begin(), {"-hide_banner", "-loglevel", "error", "-y"});
    vorlix::app::testing::ServerProcess maker(kFfmpeg, dir, std::move(args));
    return maker.Started() && maker.WaitExit(60s) == 0;
}

class AddressTest : public ::testing::Test {
protected:
    void SetUp() override { unsetenv("VORLIX_VIDEO_SOURCE"); }
    kestrel::test::TempDir dir{"vorlix_probe"};
};

TEST_F(AddressTest, AVideoFileNamedByAPlainPathShowsItsFirstPicture)
{
    ASSERT_TRUE(Ffmpeg(dir.Path(), {"-f", "lavfi", "-i", "color=c=0xC02010:s=176x144:r=15:d=2", "-c:v", "libx264",
                                    "-preset", "ultrafast", "-pix_fmt", "yuv420p", "red clip.mp4"}));
    const std::string address = NormaliseVideoUri("red clip.mp4", dir.Path());
    const SourceProbeResult result = ProbeVideoSource(address, 10s);
    ASSERT_TRUE(result.ok) << result.why;
    EXPECT_EQ(result.width, 176);
    EXPECT_EQ(result.height, 144);
    ASSERT_EQ(result.rgb.size(), 176u * 144u * 3u);
    // The middle pixel is the clip's red, give or take the codec.
    const std::size_t mid = ((std::size_t{72} * 176) + 88) * 3;
    EXPECT_NEAR(result.rgb[mid], 0xC0, 24);
    EXPECT_NEAR(result.rgb[mid + 1], 0x20, 24);
    EXPECT_NEAR(result.rgb[mid + 2], 0x10, 24);
}

TEST_F(AddressTest, AMissingFileIsSaidInWordsAtOnce)
{
    const std::string address = NormaliseVideoUri("nosuch.mp4", dir.Path());
    const auto began = std::chrono::steady_clock::now();
    const SourceProbeResult result = ProbeVideoSource(address, 10s);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.why, "The file " + dir.Path() + "/nosuch.mp4 does not exist");
    EXPECT_LT(std::chrono::steady_clock::now() - began, 5s) << "no wait for a file that is not there";
}

TEST_F(AddressTest, AFileThatIsNoVideoIsSaidWithoutWaitingOut)
{
    ASSERT_TRUE(prof::WriteString(dir.Path() + "/notes.mp4", "a", "b", "not a video"));
    const auto began = std::chrono::steady_clock::now();
    const SourceProbeResult result = ProbeVideoSource(NormaliseVideoUri("notes.mp4", dir.Path()), 8s);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.why, "file://" + dir.Path() +
                              "/notes.mp4 could not be read as a video (not a video, or the camera refused it)");
    EXPECT_TRUE(result.rgb.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - began, 6s);
}

TEST_F(AddressTest, ACameraThatDoesNotAnswerIsSaidAtTheDeadline)
{
    // A listening port that never answers: no picture, and no wait past the limit.
    const kestrel::UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(listener);
    const int fd = listener.Get();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const std::string address = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/cam.mjpg";
    const auto began = std::chrono::steady_clock::now();
    const SourceProbeResult result = ProbeVideoSource(address, 2s);
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.why.empty());
    EXPECT_NE(result.why.find(address), std::string::npos) << result.why;
    EXPECT_LT(took, 6s);
}

TEST_F(AddressTest, AnEmptyAddressIsSaid)
{
    EXPECT_EQ(ProbeVideoSource("", 1s).why, "No address given");
}

class MailSaveInTheProgram : public ::testing::Test {
protected:
    void SetUp() override { ::setenv(kMailCheckVariable, "300", 1); }
    void TearDown() override { ::unsetenv(kMailCheckVariable); }
};

// The running server takes a save as the dialog's "save" hands it over: the
// file first, then the reload that starts or stops each worker.
TEST_F(MailSaveInTheProgram, UntickingMailWritesZeroAndStopsTheRunningSender)
{
    vorlix::test::SmtpPeer peer;
    ASSERT_TRUE(peer.Ready());
    ServerBench bench;
    vorlix::test::WriteMailSection(bench.ini, {{"management", "1"},
                                               {"SMTP", "127.0.0.1"},
                                               {"Port", std::to_string(peer.Port())},
                                               {"To", "owner@vorlix.test"}});
    bench.Start();
    // Running, trace levels set: detections are listed.
    ASSERT_TRUE(bench.WaitForMoreDetections(1)) << bench.Trace();

    FormContext context;
    context.workDir = bench.dir.Path();
    ConfigForm form = ReadConfigForm(bench.ini, context);
    ASSERT_EQ(form.Value("Vorlix MAIL", "management", FieldKind::kCheck), "1");
    form.Set("Vorlix MAIL", "management", "0", FieldKind::kCheck);
    form.Set("Vorlix MAIL", "CC", "copy@vorlix.test");
    ASSERT_TRUE(SaveConfiguration(bench.ini, form, std::nullopt, nullptr).Saved());
    EXPECT_EQ(prof::GetString(bench.ini, "Vorlix MAIL", "management", ""), "0");
    EXPECT_EQ(prof::GetString(bench.ini, "Vorlix MAIL", "CC", ""), "copy@vorlix.test");
    EXPECT_EQ(vorlix::LoadMailSettings(bench.ini).smtp, "127.0.0.1");

    bench.Reload();
    EXPECT_TRUE(bench.WaitForTrace("Thread client mail stop")) << bench.Trace();
    EXPECT_EQ(bench.Stop(), 0) << bench.Trace();
}

// A saved camera address is taken by the running server at the reload, not
// at the next start.
TEST(AddressSaveInTheProgram, ANewVideoFileIsCapturedAfterTheSave)
{
    unsetenv("VORLIX_VIDEO_SOURCE");
    ServerBench bench;
    const fs::path dir = bench.dir.Path();
    ASSERT_TRUE(Ffmpeg(dir, {"-f", "lavfi", "-i", "testsrc2=size=256x144:rate=15", "-t", "30", "-c:v", "libx264",
                             "-preset", "ultrafast", "-pix_fmt", "yuv420p", "first.mp4"}));
    ASSERT_TRUE(Ffmpeg(dir, {"-f", "lavfi", "-i", "testsrc2=size=192x108:rate=15", "-t", "30", "-c:v", "libx264",
                             "-preset", "ultrafast", "-pix_fmt", "yuv420p", "second.mp4"}));
    prof::WriteString(bench.ini, "Vorlix", "VideoURI", NormaliseVideoUri("first.mp4", dir.string()));
    bench.Start();
    ASSERT_TRUE(
        kestrel::test::WaitUntil([&] { return prof::GetInt(bench.ini, "Vorlix", "width", 0) == 256; }, 15s, 50ms))
        << bench.Trace();

    FormContext context;
    context.workDir = dir.string();
    ConfigForm form = ReadConfigForm(bench.ini, context);
    form.Set("Vorlix", "VideoURI", "second.mp4");
    ASSERT_TRUE(SaveConfiguration(bench.ini, form, std::nullopt, nullptr).Saved());
    bench.Reload();
    EXPECT_TRUE(
        kestrel::test::WaitUntil([&] { return prof::GetInt(bench.ini, "Vorlix", "width", 0) == 192; }, 15s, 50ms))
        << bench.Trace();
    EXPECT_EQ(bench.Stop(), 0) << bench.Trace();
}

}  // namespace
