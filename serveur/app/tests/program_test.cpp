// The built program: command line refusals, signals and camera numbers.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/app/tests/ServerProcess.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vorlix::app::testing::ServerProcess;

namespace {

using kestrel::test::WaitUntil;

struct TempDir {
    kestrel::test::TempDir dir{"vorlix_prog"};
    fs::path path{dir.Path()};
};

// Waits until the file holds the key, bounded.
bool WaitForKey(const fs::path& ini, const char* key, std::chrono::milliseconds limit)
{
    return WaitUntil([&] { return kestrel::profile::Read(ini.string(), "Vorlix", key).has_value(); }, limit, 20ms);
}

// The first schedule check opened the device: the camera wrote its first
// refresh picture.
bool WaitForCapture(const fs::path& dir)
{
    return WaitUntil([&] { return fs::exists(dir / "files" / "last.jpg"); }, 10s, 20ms);
}

}  // namespace

TEST(ProgramTest, CameraFiveRefusesWithMaxFourAndExitsZero)
{
    TempDir dir;
    ServerProcess server(VORLIX_PROGRAM, dir.path, {"--headless", "5"});
    ASSERT_TRUE(server.Started());
    EXPECT_EQ(server.WaitExit(5s), 0);
    EXPECT_NE(server.Stderr().find("max=4"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.path / "Vorlix_5.ini"));
}

TEST(ProgramTest, SigtermAndSigintEndWithCodeZeroAndSaveTheShotCounter)
{
    for (int sig : {SIGTERM, SIGINT}) {
        TempDir dir;
        ServerProcess server(VORLIX_PROGRAM, dir.path, {"--headless"});
        ASSERT_TRUE(server.Started());
        ASSERT_TRUE(WaitForCapture(dir.path)) << server.Stderr();  // past the first schedule check
        ASSERT_TRUE(server.Running()) << server.Stderr();
        const auto before = std::chrono::steady_clock::now();
        server.Signal(sig);
        EXPECT_EQ(server.WaitExit(5s), 0) << server.Stderr();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
        EXPECT_TRUE(kestrel::profile::Read((dir.path / "Vorlix.ini").string(), "Vorlix", "Current shots"));
    }
}

TEST(ProgramTest, SighupReloadsAndTheServerGoesOn)
{
    TempDir dir;
    ServerProcess server(VORLIX_PROGRAM, dir.path, {"--headless", "1"});
    ASSERT_TRUE(server.Started());
    const fs::path last = dir.path / "files_1" / "last.jpg";
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(last); }, 10s, 20ms)) << server.Stderr();
    std::error_code ec;
    const auto written = fs::last_write_time(last, ec);
    server.Signal(SIGHUP);
    // The reload asks for a new refresh picture, written by the running capture.
    EXPECT_TRUE(WaitUntil([&] { return fs::last_write_time(last, ec) != written; }, 10s, 20ms)) << server.Stderr();
    EXPECT_TRUE(server.Running());
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(5s), 0);
}

TEST(ProgramTest, CameraNumbersPickTheirSettingsFiles)
{
    struct Case {
        const char* arg;
        const char* ini;
        const char* traces;
    };
    for (const Case& c : {Case{"3", "Vorlix_3.ini", "traces_3"}, Case{"0", "Vorlix.ini", "traces"},
                          Case{"abc", "Vorlix.ini", "traces"}, Case{nullptr, "Vorlix.ini", "traces"}}) {
        TempDir dir;
        std::vector<std::string> args{"--headless"};
        if (c.arg != nullptr) {
            args.emplace_back(c.arg);
        }
        ServerProcess server(VORLIX_PROGRAM, dir.path, args);
        ASSERT_TRUE(server.Started());
        EXPECT_TRUE(WaitForKey(dir.path / c.ini, "NbSelection", 5s)) << server.Stderr();  // started
        server.Signal(SIGTERM);
        EXPECT_EQ(server.WaitExit(5s), 0);
        EXPECT_TRUE(WaitForKey(dir.path / c.ini, "Current shots", 1s)) << (c.arg ? c.arg : "none");
        EXPECT_TRUE(fs::is_directory(dir.path / c.traces));
        EXPECT_EQ(fs::exists(dir.path / "Vorlix_3.ini"), c.arg != nullptr && std::string(c.arg) == "3");
    }
}
