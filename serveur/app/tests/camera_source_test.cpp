// The whole server on the sources a user sets up without a camera of the
// machine: a picture sequence through VORLIX_VIDEO_SOURCE, an MJPEG camera
// over HTTP (ffmpeg serving on 127.0.0.1), an H.264 file named by a plain
// path, a missing file and a server that never answers.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/Children.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/app/tests/ServerProcess.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vorlix::app::testing::ServerProcess;
namespace profile = kestrel::profile;

namespace {

constexpr const char* kFfmpeg = "/usr/bin/ffmpeg";

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit)
{
    return kestrel::test::WaitUntil(pred, limit, 20ms);
}

// A bound, listening socket on 127.0.0.1 with its port: a server that takes
// connections (the kernel completes them) and never says a word.
struct SilentServer {
    kestrel::UniqueFd fd{socket(AF_INET, SOCK_STREAM, 0)};
    int port = 0;
    SilentServer()
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd.Get(), 8) != 0) {
            return;
        }
        socklen_t len = sizeof addr;
        getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
    }
};

// True when something listens on 127.0.0.1:port (read from the kernel's
// table, so the one viewer ffmpeg serves is not spent on a probe).
bool Listening(int port)
{
    std::ifstream tcp("/proc/net/tcp");
    std::string line;
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    while (std::getline(tcp, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (local == wanted && state == "0A") {
            return true;
        }
    }
    return false;
}

std::vector<fs::path> Pictures(const fs::path& dir)
{
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (name.starts_with("vorlix_") && name.ends_with(".jpg") && e.file_size() > 0) {
            out.push_back(e.path());
        }
    }
    return out;
}

// The text of a JPEG file's comment segment, empty when it has none.
std::string JpegComment(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t at = 2;
    while (at + 4 <= bytes.size() && static_cast<unsigned char>(bytes[at]) == 0xFF) {
        const auto marker = static_cast<unsigned char>(bytes[at + 1]);
        const std::size_t length = (static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 2])) << 8U) +
                                   static_cast<unsigned char>(bytes[at + 3]);
        if (marker == 0xFE && at + 2 + length <= bytes.size()) {
            return bytes.substr(at + 4, length - 2);
        }
        if (marker == 0xDA) {
            break;
        }
        at += 2 + length;
    }
    return {};
}

std::string ReadAll(const fs::path& dir)
{
    std::string all;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir, ec)) {
        if (e.is_regular_file()) {
            std::ifstream in(e.path());
            all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    return all;
}

// Runs ffmpeg to the end (bounded) in `dir`; true when it made its file.
bool Ffmpeg(const fs::path& dir, std::vector<std::string> args)
{
    args.insert(args.begin(), {"-hide_banner", "-loglevel", "error", "-y"});
    ServerProcess maker(kFfmpeg, dir, std::move(args));
    return maker.Started() && maker.WaitExit(60s) == 0;
}

class CameraSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("VORLIX_VIDEO_SOURCE");
        profile::WriteInt(Ini(), "Vorlix", "Port Web client", kestrel::test::FreeLoopbackPort());
    }
    void TearDown() override { unsetenv("VORLIX_VIDEO_SOURCE"); }
    std::string Ini() const { return (dir_ / "Vorlix.ini").string(); }
    fs::path Files() const { return dir_ / "files"; }

    kestrel::test::TempDir temp_{"vorlix_sources"};
    fs::path dir_{temp_.Path()};
};

TEST_F(CameraSourceTest, FirstStartOnAPictureSequenceDetectsTheBlockThatAppears)
{
    // 30 still frames, then a bright block for 30 frames, looping. The size
    // is only known when the first picture is decoded.
    ASSERT_TRUE(Ffmpeg(dir_, {"-f", "lavfi", "-i", "color=c=0x305070:s=160x120:r=30:d=2", "-vf",
                              "drawbox=x=40:y=30:w=60:h=50:color=white:t=fill:enable='gte(n,30)'", "-start_number", "0",
                              "f%03d.png"}));
    ASSERT_TRUE(fs::exists(dir_ / "f059.png"));
    const std::string source = "multifilesrc location=" + (dir_ / "f%03d.png").string() +
                               " index=0 loop=true caps=image/png,framerate=30/1 ! pngdec";
    setenv("VORLIX_VIDEO_SOURCE", source.c_str(), 1);

    ServerProcess server(VORLIX_PROGRAM, dir_, {"--headless", "--trace", "file"});
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(WaitFor([&] { return !Pictures(Files()).empty(); }, 15s)) << "no detection picture; stderr:\n"
                                                                          << server.Stderr();
    // The whole-picture zone of the first start is the one that matched.
    const std::vector<fs::path> pictures = Pictures(Files());
    const std::string comment = JpegComment(pictures.front());
    EXPECT_TRUE(comment.starts_with("Vorlix ==> Z_1_IN")) << comment;
    EXPECT_EQ(profile::GetInt(Ini(), "Vorlix", "width", 0), 160);
    EXPECT_EQ(profile::GetInt(Ini(), "Vorlix", "NbSelection", 0), 1);
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(5s), 0) << server.Stderr();
}

TEST_F(CameraSourceTest, HttpMjpegCameraServedByFfmpegReachesTheEngine)
{
    const int port = kestrel::test::FreeLoopbackPort();
    const std::string address = "http://127.0.0.1:" + std::to_string(port) + "/cam.mjpg";
    // ffmpeg announces a plain byte stream, as many cameras do: the parts
    // must be found without the multipart type.
    ServerProcess camera(
        kFfmpeg, dir_,
        {"-hide_banner", "-loglevel", "error", "-re", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=15", "-t", "60",
         "-c:v", "mjpeg", "-q:v", "6", "-f", "mpjpeg", "-listen", "1", address});
    ASSERT_TRUE(camera.Started());
    ASSERT_TRUE(WaitFor([&] { return Listening(port); }, 10s)) << camera.Stderr();
    profile::WriteString(Ini(), "Vorlix", "VideoURI", address);

    ServerProcess server(VORLIX_PROGRAM, dir_, {"--headless", "--trace", "file"});
    ASSERT_TRUE(server.Started());
    EXPECT_TRUE(WaitFor([&] { return !Pictures(Files()).empty(); }, 15s)) << server.Stderr();
    EXPECT_EQ(profile::GetInt(Ini(), "Vorlix", "width", 0), 320);
    EXPECT_EQ(server.Stderr().find("No picture from the camera"), std::string::npos);
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(5s), 0) << server.Stderr();
}

TEST_F(CameraSourceTest, H264FileNamedByAPlainPathReachesTheEngine)
{
    ASSERT_TRUE(Ffmpeg(dir_, {"-f", "lavfi", "-i", "testsrc2=size=256x144:rate=15", "-t", "8", "-c:v", "libx264",
                              "-preset", "ultrafast", "-pix_fmt", "yuv420p", "my clip.mp4"}));
    profile::WriteString(Ini(), "Vorlix", "VideoURI", "my clip.mp4");  // relative, with a blank

    ServerProcess server(VORLIX_PROGRAM, dir_, {"--headless", "--trace", "file"});
    ASSERT_TRUE(server.Started());
    EXPECT_TRUE(WaitFor([&] { return !Pictures(Files()).empty(); }, 15s)) << server.Stderr();
    EXPECT_EQ(profile::GetInt(Ini(), "Vorlix", "width", 0), 256);
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(5s), 0) << server.Stderr();
}

TEST_F(CameraSourceTest, MissingFileIsRefusedOnOneLineWithTheReason)
{
    profile::WriteString(Ini(), "Vorlix", "VideoURI", "nosuch.mp4");
    ServerProcess server(VORLIX_PROGRAM, dir_, {"--headless", "--trace", "file"});
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(WaitFor([&] { return server.Stderr().find("Device Error") != std::string::npos; }, 10s))
        << server.Stderr();
    const std::string err = server.Stderr();
    const auto at = err.find("Device Error");
    const std::string line = err.substr(at, err.find('\n', at) - at);
    EXPECT_NE(line.find("unavailable"), std::string::npos) << line;
    EXPECT_NE(ReadAll(dir_ / "traces").find("nosuch.mp4 cannot be read: no such file"), std::string::npos);
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(5s), 0) << server.Stderr();
}

TEST_F(CameraSourceTest, SilentHttpSourceIsSaidAndRetried)
{
    const SilentServer silent;
    ASSERT_GT(silent.port, 0);
    profile::WriteString(Ini(), "Vorlix", "VideoURI", "http://127.0.0.1:" + std::to_string(silent.port) + "/cam");

    ServerProcess server(VORLIX_PROGRAM, dir_, {"--headless", "--trace", "file"});
    ASSERT_TRUE(server.Started());
    EXPECT_TRUE(WaitFor([&] { return server.Stderr().find("No picture from the camera") != std::string::npos; }, 20s))
        << server.Stderr();
    EXPECT_TRUE(WaitFor(
        [&] {
            return ReadAll(dir_ / "traces").find("lost (no frame in 10 s), reconnecting in 10 s") != std::string::npos;
        },
        5s));
    EXPECT_TRUE(Pictures(Files()).empty());
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(5s), 0) << server.Stderr();
}

}  // namespace
