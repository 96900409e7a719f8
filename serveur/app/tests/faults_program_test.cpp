// The built program as users and strangers meet it: --help, --version and
// unknown options, --set-password from a pipe, pictures that cannot be
// written, and a reload that brings a stream back once its port is free.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/app/tests/ServerProcess.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vorlix::app::testing::ServerProcess;
namespace profile = kestrel::profile;

namespace {

using kestrel::test::WaitUntil;

struct TempDir {
    kestrel::test::TempDir dir{"vorlix_faults"};
    fs::path path{dir.Path()};
};

// Everything in the directory but the files the test harness wrote.
std::vector<std::string> ProgramFiles(const fs::path& dir)
{
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        // The settings file's lock beside it is the profile module's, not a setting.
        if (!name.starts_with("stderr_") && !name.starts_with("stdout_") && name != "stdin.txt" &&
            !name.ends_with(".lock")) {
            out.push_back(name);
        }
    }
    return out;
}

int Count(const std::string& text, const std::string& part)
{
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++n;
    }
    return n;
}

int CountPictures(const fs::path& dir)
{
    int n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (name.starts_with("vorlix_") && name.ends_with(".jpg")) {
            ++n;
        }
    }
    return n;
}

// A socket bound to a free port of 127.0.0.1 and listening.
kestrel::UniqueFd HoldPort(int& port)
{
    kestrel::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    EXPECT_EQ(::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd.Get(), 1), 0);
    socklen_t length = sizeof address;
    EXPECT_EQ(::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    port = ntohs(address.sin_port);
    return fd;
}

bool Connects(int port)
{
    const kestrel::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

}  // namespace

TEST(CommandLineProgram, HelpAndVersionPrintAndEndWithoutTouchingTheDirectory)
{
    for (const char* option : {"--help", "-h", "--version"}) {
        TempDir dir;
        ServerProcess server(VORLIX_PROGRAM, dir.path, {option});
        ASSERT_TRUE(server.Started());
        EXPECT_EQ(server.WaitExit(5s), 0) << option << server.Stderr();
        const std::string printed = server.Stdout();
        if (std::string(option) == "--version") {
            EXPECT_TRUE(printed.starts_with("vorlix ")) << printed;
        } else {
            EXPECT_NE(printed.find("Usage: vorlix"), std::string::npos) << printed;
        }
        EXPECT_TRUE(ProgramFiles(dir.path).empty()) << option << ": " << ProgramFiles(dir.path).front();
    }
}

TEST(CommandLineProgram, UnknownOptionIsAnErrorWithTheUsage)
{
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--hlep"}, {"-x", "1"}, {"1", "2"}}) {
        TempDir dir;
        ServerProcess server(VORLIX_PROGRAM, dir.path, args);
        ASSERT_TRUE(server.Started());
        EXPECT_EQ(server.WaitExit(5s), 2) << args.front();
        EXPECT_NE(server.Stderr().find("Usage: vorlix"), std::string::npos) << server.Stderr();
        EXPECT_TRUE(ProgramFiles(dir.path).empty()) << args.front();
    }
}

TEST(CommandLineProgram, SetPasswordFromStandardInputForCameraTwo)
{
    TempDir dir;
    kestrel::test::WriteFile((dir.path / "stdin.txt").string(), "open sesame\n");
    ServerProcess server(VORLIX_PROGRAM, dir.path, {"--set-password", "2"},
                         {.stdinPath = (dir.path / "stdin.txt").string()});
    ASSERT_TRUE(server.Started());
    EXPECT_EQ(server.WaitExit(5s), 0) << server.Stderr();
    const std::string ini = (dir.path / "Vorlix_2.ini").string();
    std::string plain;
    ASSERT_TRUE(vorlix::UnscramblePassword(profile::GetString(ini, "Vorlix", "Authentification client", ""),
                                           "Authentification client", plain));
    EXPECT_EQ(plain, "open sesame");
    EXPECT_NE(server.Stdout().find("Vorlix_2.ini"), std::string::npos) << server.Stdout();
    // Only the password was written: no server ran.
    EXPECT_EQ(ProgramFiles(dir.path), std::vector<std::string>{"Vorlix_2.ini"});
}

TEST(LostPicturesProgram, StatusLineSaysItAndTheCounterCountsOnlyWrittenPictures)
{
    TempDir dir;
    const fs::path ini = dir.path / "Vorlix.ini";
    const fs::path pictures = dir.path / "pictures";  // not there yet: every write fails
    int port = 0;
    {
        kestrel::UniqueFd probe = HoldPort(port);
    }
    profile::WriteInt(ini.string(), "Vorlix", "Port Web client", port);
    profile::WriteString(ini.string(), "Vorlix", "FilePath", pictures.string());
    profile::WriteInt(ini.string(), "Vorlix", "Trace level", 1);
    ServerProcess server(VORLIX_PROGRAM, dir.path, {"--headless", "--trace", "stderr"});
    ASSERT_TRUE(server.Started());
    const std::string status = "Pictures not written (No such file or directory)";
    ASSERT_TRUE(WaitUntil([&] { return server.Stderr().find(status) != std::string::npos; }, 10s, 20ms))
        << server.Stderr();
    // Detections go on meanwhile, each picture lost.
    ASSERT_TRUE(WaitUntil([&] { return Count(server.Stderr(), "Z_1_") >= 3; }, 10s, 20ms)) << server.Stderr();
    fs::create_directory(pictures);
    ASSERT_TRUE(WaitUntil([&] { return CountPictures(pictures) >= 2; }, 10s, 20ms)) << server.Stderr();
    server.Signal(SIGTERM);
    ASSERT_EQ(server.WaitExit(5s), 0) << server.Stderr();
    const std::string said = server.Stderr();
    EXPECT_EQ(Count(said, "Pictures are not written"), 1) << said;
    EXPECT_EQ(Count(said, "Pictures are written again"), 1) << said;
    // "Current shots" names the last picture written, not past it.
    const int saved = profile::GetInt(ini.string(), "Vorlix", "Current shots", -1);
    EXPECT_EQ(saved, CountPictures(pictures));
    EXPECT_TRUE(fs::exists(pictures / ("vorlix_" + std::to_string(saved) + ".jpg")));
    EXPECT_FALSE(fs::exists(pictures / ("vorlix_" + std::to_string(saved + 1) + ".jpg")));
}

TEST(StreamProgram, ReloadBindsTheStreamOnceItsPortIsFree)
{
    TempDir dir;
    int port = 0;
    kestrel::UniqueFd holder = HoldPort(port);
    profile::WriteInt((dir.path / "Vorlix.ini").string(), "Vorlix", "Port Web client", port);
    ServerProcess server(VORLIX_PROGRAM, dir.path, {"--headless"});
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(WaitUntil([&] { return server.Stderr().find("Remote Access is OFF") != std::string::npos; }, 10s, 20ms))
        << server.Stderr();
    holder.Reset();
    server.Signal(SIGHUP);
    EXPECT_TRUE(WaitUntil([&] { return Connects(port); }, 5s, 20ms)) << server.Stderr();
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(5s), 0);
}
