// The whole server on its test camera: first start in an empty directory,
// detection pictures, a viewer on the stream port, the end on SIGTERM; and
// five servers side by side in one directory.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

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

struct TempDir {
    kestrel::test::TempDir dir{"vorlix_e2e"};
    fs::path path{dir.Path()};
};

int CountPictures(const fs::path& dir)
{
    int n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (name.starts_with("vorlix_") && name.ends_with(".jpg") && e.file_size() > 0) {
            ++n;
        }
    }
    return n;
}

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit)
{
    return kestrel::test::WaitUntil(pred, limit, 20ms);
}

// Connects as a viewer and reads until one whole JPEG part has arrived.
std::string ReadOneJpegPart(int port, std::chrono::milliseconds limit)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto end = std::chrono::steady_clock::now() + limit;
    // The server listens once its camera object is built: retry until then.
    kestrel::UniqueFd fd;
    const bool connected = WaitFor(
        [&] {
            fd.Reset(socket(AF_INET, SOCK_STREAM, 0));
            return connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        },
        limit);
    if (!connected) {
        return {};
    }
    std::string got;
    while (std::chrono::steady_clock::now() < end && got.size() < (4u << 20)) {
        pollfd p{fd.Get(), POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        char buf[8192];
        const ssize_t r = recv(fd.Get(), buf, sizeof buf, 0);
        if (r <= 0) {
            break;
        }
        got.append(buf, static_cast<std::size_t>(r));
        const auto len = got.find("Content-Length: ");
        const auto body = got.find("\r\n\r\n", len == std::string::npos ? 0 : len);
        if (len != std::string::npos && body != std::string::npos) {
            const long size = std::strtol(got.c_str() + len + 16, nullptr, 10);
            if (size > 0 && got.size() >= body + 4 + static_cast<std::size_t>(size)) {
                break;
            }
        }
    }
    return got;
}

}  // namespace

TEST(EndToEndTest, FirstStartDetectsServesAndSavesTheShotCounterOnSigterm)
{
    TempDir dir;
    const fs::path ini = dir.path / "Vorlix.ini";
    const int port = kestrel::test::FreeLoopbackPort();
    profile::WriteInt(ini.string(), "Vorlix", "Port Web client", port);

    ServerProcess server(VORLIX_PROGRAM, dir.path, {"--headless"});
    ASSERT_TRUE(server.Started());

    // First-start defaults of the settings file.
    // The defaults are written key by key; the audio section comes last.
    ASSERT_TRUE(WaitFor(
        [&] { return profile::Read(ini.string(), "Vorlix Audio Management", "no activity time").has_value(); }, 3s))
        << server.Stderr();
    EXPECT_EQ(profile::GetInt(ini.string(), "Vorlix", "NbSelection", -1), 1);
    EXPECT_EQ(profile::GetInt(ini.string(), "Vorlix", "xy_0", -1), 1);
    EXPECT_EQ(profile::GetInt(ini.string(), "Vorlix", "Auto Start Detection", -1), 1);
    EXPECT_EQ(profile::GetString(ini.string(), "Vorlix Sound Management", "In zone 1", ""), "boing1.wav");
    EXPECT_EQ(profile::GetInt(ini.string(), "Vorlix Sound Management", "Replay Sound", -1), 15);
    EXPECT_EQ(profile::GetInt(ini.string(), "Vorlix Audio Management", "max time", -1), 600);
    EXPECT_EQ(profile::GetInt(ini.string(), "Vorlix", "Port Web client", -1), port);

    // The device opens about one second after start, then the moving test
    // picture gives detections.
    const fs::path files = dir.path / "files";
    EXPECT_TRUE(WaitFor([&] { return CountPictures(files) > 0; }, 8s)) << server.Stderr();

    const std::string part = ReadOneJpegPart(port, 4s);
    EXPECT_TRUE(part.starts_with("HTTP/1.1 200 OK\r\n")) << part.substr(0, 200);
    const auto head = part.find("Content-type: image/jpeg\r\nContent-Length: ");
    ASSERT_NE(head, std::string::npos) << part.substr(0, 300);
    const auto body = part.find("\r\n\r\n", head);
    ASSERT_NE(body, std::string::npos);
    ASSERT_GT(part.size(), body + 6);
    EXPECT_EQ(static_cast<unsigned char>(part[body + 4]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(part[body + 5]), 0xD8);

    const auto before = std::chrono::steady_clock::now();
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(5s), 0) << server.Stderr();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    const int maxJpg = profile::GetInt(ini.string(), "Vorlix", "Max jpg", 500);
    const int saved = profile::GetInt(ini.string(), "Vorlix", "Current shots", -1);
    EXPECT_GT(saved, 0);
    EXPECT_LT(saved, maxJpg);
}

TEST(EndToEndTest, FiveServersSideBySideKeepTheirOwnFilesAndSettings)
{
    TempDir dir;
    std::vector<std::unique_ptr<ServerProcess>> servers;
    std::vector<int> ports;
    auto iniOf = [&](int n) {
        return (dir.path / (n == 0 ? std::string("Vorlix.ini") : "Vorlix_" + std::to_string(n) + ".ini")).string();
    };
    for (int n = 0; n <= 4; ++n) {
        ports.push_back(kestrel::test::FreeLoopbackPort());
        profile::WriteInt(iniOf(n), "Vorlix", "Port Web client", ports.back());
        profile::WriteString(iniOf(n), "Vorlix", "Editor", "editor_" + std::to_string(n));
        profile::WriteInt(iniOf(n), "Vorlix", "Quality jpg", 40 + n);
    }
    // Deadlines are generous: five servers start at once, under the sanitizers
    // on a busy machine too; a passing run does not wait for them.
    for (int n = 0; n <= 4; ++n) {
        servers.push_back(std::make_unique<ServerProcess>(VORLIX_PROGRAM, dir.path,
                                                          std::vector<std::string>{"--headless", std::to_string(n)}));
        ASSERT_TRUE(servers.back()->Started());
    }
    for (int n = 0; n <= 4; ++n) {
        EXPECT_TRUE(WaitFor([&] { return profile::Read(iniOf(n), "Vorlix", "NbSelection").has_value(); }, 20s)) << n;
    }
    // Each one answers on its own port.
    for (int n = 0; n <= 4; ++n) {
        const std::string part = ReadOneJpegPart(ports[static_cast<std::size_t>(n)], 15s);
        EXPECT_TRUE(part.starts_with("HTTP/1.1 200 OK\r\n")) << "camera " << n;
    }
    for (auto& s : servers) {
        s->Signal(SIGTERM);
    }
    for (int n = 0; n <= 4; ++n) {
        EXPECT_EQ(servers[static_cast<std::size_t>(n)]->WaitExit(15s), 0)
            << servers[static_cast<std::size_t>(n)]->Stderr();
        const std::string ini = iniOf(n);
        EXPECT_EQ(profile::GetInt(ini, "Vorlix", "Port Web client", -1), ports[static_cast<std::size_t>(n)]) << n;
        EXPECT_EQ(profile::GetString(ini, "Vorlix", "Editor", ""), "editor_" + std::to_string(n));
        EXPECT_EQ(profile::GetInt(ini, "Vorlix", "Quality jpg", -1), 40 + n) << n;
        EXPECT_EQ(profile::GetInt(ini, "Vorlix", "NbSelection", -1), 1) << n;
        EXPECT_TRUE(profile::Read(ini, "Vorlix", "Current shots").has_value()) << n;
        EXPECT_EQ(profile::GetString(ini, "Vorlix Sound Management", "In zone 1", ""), "boing1.wav") << n;
        if (n > 0) {
            EXPECT_TRUE(fs::is_directory(dir.path / ("traces_" + std::to_string(n))));
            EXPECT_TRUE(fs::is_directory(dir.path / ("files_" + std::to_string(n))));
        }
    }
}
