// The server program with its web view on, on the built-in test camera, as
// a person meets it: headless Chromium opens the page (the live picture
// moves between two screenshots a second apart, and detection pictures are
// listed), and curl reads the snapshot and a detection picture byte for
// byte.
//
// VORLIX_WEB_SCREENSHOTS=<dir> keeps the two screenshots there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/ChildProcess.h"
#include "libkestrel/testkit/Children.h"
#include "serveur/web/tests/WebTestKit.h"

namespace vorlix::web {
namespace {

using namespace test;
namespace profile = kestrel::profile;

constexpr int kWindowWidth = 1100, kWindowHeight = 1000;
// Inside the live picture as the page lays it out (640 x 480 from 17, 111).
constexpr int kLiveX = 20, kLiveY = 114, kLiveW = 630, kLiveH = 470;

// The pixels of a rectangle of a PNG, through ffmpeg.
std::string Crop(const std::string& png, const std::string& raw)
{
    const std::string filter = "crop=" + std::to_string(kLiveW) + ":" + std::to_string(kLiveH) + ":" +
                               std::to_string(kLiveX) + ":" + std::to_string(kLiveY);
    const int status = kestrel::test::RunChild({"/usr/bin/ffmpeg", "-loglevel", "error", "-y", "-i", png, "-vf", filter,
                                                "-f", "rawvideo", "-pix_fmt", "rgb24", raw},
                                               {.out = raw + ".out", .err = raw + ".err"}, 30s);
    return status == 0 ? kestrel::test::ReadFile(raw) : std::string();
}

std::vector<std::string> Chromium(const std::string& profileDir)
{
    return {"/usr/bin/chromium",
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-quic",
            "--no-first-run",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--hide-scrollbars",
            "--user-data-dir=" + profileDir,
            "--window-size=" + std::to_string(kWindowWidth) + "," + std::to_string(kWindowHeight),
            "--virtual-time-budget=2500"};
}

TEST(WebProgram, ChromiumSeesTheMovingPictureAndTheDetectionPictures)
{
    if (!std::filesystem::exists("/usr/bin/chromium") || !std::filesystem::exists("/usr/bin/ffmpeg")) {
        GTEST_SKIP() << "chromium or ffmpeg is not installed";
    }
    TempDir dir("vorlix_web_program");
    const int port = kestrel::test::FreeLoopbackPort();
    const std::string ini = dir.File("Vorlix.ini");
    profile::WriteInt(ini, "Vorlix", "Port Web client", kestrel::test::FreeLoopbackPort());
    profile::WriteInt(ini, "Vorlix Web", "management", 1);
    profile::WriteInt(ini, "Vorlix Web", "Port", port);
    profile::WriteString(ini, "Vorlix Web", "Bind", "127.0.0.1");
    kestrel::test::ChildProcess server(VORLIX_PROGRAM, dir.Path(), {"--headless"});
    ASSERT_TRUE(server.Started());
    const std::string base = "http://127.0.0.1:" + std::to_string(port);

    // The ball of the test camera moves: detections come and are listed.
    // The first "picture":<digits> of the events list (read by hand: GCC 12
    // warns falsely inside std::regex in the sanitizer build).
    const auto firstPicture = [](const std::string& text) {
        const std::string key = "\"picture\":";
        const std::size_t at = text.find(key);
        if (at == std::string::npos) {
            return std::string();
        }
        const std::size_t from = at + key.size();
        std::size_t to = from;
        while (to < text.size() && text[to] >= '0' && text[to] <= '9') {
            ++to;
        }
        return text.substr(from, to - from);
    };
    std::string number;
    ASSERT_TRUE(WaitUntil(
        [&] {
            number = firstPicture(Curl({base + "/events.json"}, 5s).body);
            return !number.empty();
        },
        30s, 200ms))
        << server.Stderr();

    const CurlResult snapshot = Curl({base + "/snapshot.jpg"});
    ASSERT_EQ(snapshot.status, 200);
    EXPECT_TRUE(LooksLikeJpeg(snapshot.body));

    // The page the events list names is the file the camera wrote (the set
    // may rotate meanwhile: file and answer are read until they agree).
    const std::string file = dir.File("files/vorlix_" + number + ".jpg");
    EXPECT_TRUE(WaitUntil(
        [&] {
            const std::string before = kestrel::test::ReadFile(file);
            const std::string served = Curl({base + "/pictures/" + number + ".jpg"}).body;
            return !served.empty() && served == before;
        },
        10s, 50ms));

    const char* keep = std::getenv("VORLIX_WEB_SCREENSHOTS");
    const std::string shots = keep != nullptr && *keep != '\0' ? keep : dir.Path();
    std::vector<std::string> crops;
    for (int i = 1; i <= 2; ++i) {
        TempDir profileDir("vorlix_web_chromium");
        const std::string png = shots + "/web-view-" + std::to_string(i) + ".png";
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::string> argv = Chromium(profileDir.Path());
        argv.push_back("--screenshot=" + png);
        argv.push_back(base + "/");
        ASSERT_EQ(
            kestrel::test::RunChild(argv, {.out = dir.File("chromium.out"), .err = dir.File("chromium.err")}, 60s), 0);
        crops.push_back(Crop(png, dir.File("crop" + std::to_string(i) + ".raw")));
        ASSERT_EQ(crops.back().size(), static_cast<std::size_t>(kLiveW) * kLiveH * 3);
        if (i == 1) {
            // One second between the two pictures.
            WaitUntil([&] { return std::chrono::steady_clock::now() - start > 1s; }, 2s, 20ms);
        }
    }
    const bool moved = crops[0] != crops[1];
    EXPECT_TRUE(moved) << "the live picture did not move";
    // And it is a picture, not the page's background.
    EXPECT_NE(crops[0].find_first_not_of(crops[0][0]), std::string::npos);

    // The page as the browser built it lists detection pictures.
    TempDir profileDir("vorlix_web_chromium");
    std::vector<std::string> argv = Chromium(profileDir.Path());
    argv.push_back("--dump-dom");
    argv.push_back(base + "/");
    ASSERT_EQ(kestrel::test::RunChild(argv, {.out = dir.File("dom.html"), .err = dir.File("dom.err")}, 60s), 0);
    const std::string dom = dir.Read("dom.html");
    EXPECT_NE(dom.find("<img src=\"pictures/"), std::string::npos) << dom.substr(0, 2000);
    EXPECT_NE(dom.find("open to anyone who can reach the port"), std::string::npos);

    EXPECT_EQ(server.Stop(), 0) << server.Stderr();
}

}  // namespace
}  // namespace vorlix::web
