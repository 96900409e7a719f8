// The FTP uploader inside the running program: detection pictures reach a
// real FTP server byte for byte, and a reload with FTP unticked stops the
// uploader, ticked again starts it.
#include <gtest/gtest.h>

#include <filesystem>

#include "libkestrel/profile/Profile.h"
#include "serveur/app/tests/ServerBench.h"
#include "serveur/ftp/tests/FtpPeer.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace {

using namespace std::chrono_literals;
using vorlix::app::testing::ServerBench;
using vorlix::ftp::test::FtpPeer;
namespace profile = kestrel::profile;

constexpr const char* kFtp = "Vorlix FTP";

void PointAt(const ServerBench& bench, const FtpPeer& peer)
{
    std::string scrambled;
    ASSERT_TRUE(vorlix::ScramblePassword("s3cret", "Password", scrambled));
    profile::WriteString(bench.ini, kFtp, "Server", "127.0.0.1");
    profile::WriteInt(bench.ini, kFtp, "Port", peer.Port());
    profile::WriteString(bench.ini, kFtp, "Login", "camera");
    profile::WriteString(bench.ini, kFtp, "Password", scrambled);
    profile::WriteInt(bench.ini, kFtp, "management", 1);
}

// Remote pictures whose bytes are those of the picture of the same name on disk.
int IdenticalUploads(const FtpPeer& peer, const ServerBench& bench)
{
    int n = 0;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(peer.Root(), ec)) {
        const std::string name = e.path().filename().string();
        if (!name.starts_with("vorlix_") || !name.ends_with(".jpg")) {
            continue;
        }
        const std::string remote = kestrel::test::ReadFile(e.path().string());
        if (!remote.empty() && remote == bench.Picture(name)) {
            ++n;
        }
    }
    return n;
}

TEST(FtpInTheProgram, DetectionPicturesArriveByteIdenticalAndATickBoxReloadStopsAndStartsTheUploader)
{
    FtpPeer peer;
    ServerBench bench;
    PointAt(bench, peer);
    bench.Start();

    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return IdenticalUploads(peer, bench) >= 3; }, 20s, 50ms))
        << bench.Trace();
    EXPECT_GE(peer.Logins(), 1);
    EXPECT_TRUE(bench.WaitForTrace("Events:       Ftp=vorlix_")) << "the events window shows each upload";

    // The trace drops a line that comes while another thread's line is being
    // written, so the uploader's start and stop lines are not the proof here:
    // the uploads are.
    profile::WriteInt(bench.ini, kFtp, "management", 0);
    bench.Reload();
    bench.WaitForTrace("Thread client ftp stop");  // or its deadline, when the line was dropped
    const std::size_t stored = peer.CommandsLike("STOR").size();
    ASSERT_TRUE(bench.WaitForMoreDetections(10)) << bench.Trace();
    EXPECT_EQ(peer.CommandsLike("STOR").size(), stored) << "no upload while FTP is unticked";

    profile::WriteInt(bench.ini, kFtp, "management", 1);
    bench.Reload();
    EXPECT_TRUE(kestrel::test::WaitUntil([&] { return peer.CommandsLike("STOR").size() > stored; }, 15s, 20ms))
        << "ticked again, new pictures go up\n"
        << bench.Trace();

    // A thread left running at the end would abort the program: a clean exit
    // says the uploader ended with it.
    EXPECT_EQ(bench.Stop(), 0) << bench.Trace();
}

}  // namespace
