// Programs nobody here wrote read the stream: curl, ffmpeg and a headless
// Chromium, all on 127.0.0.1.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <sstream>
#include <thread>

#include "serveur/stream/StreamServer.h"
#include "serveur/stream/tests/StreamTestKit.h"

namespace vorlix {
namespace {

using namespace testkit;

// Parts of a multipart/x-mixed-replace body as curl writes it.
std::vector<std::string> SplitParts(const std::string& body)
{
    std::vector<std::string> parts;
    std::size_t at = 0;
    while ((at = body.find("--BoundaryString\r\n", at)) != std::string::npos) {
        const std::size_t lengthAt = body.find("Content-Length: ", at);
        const std::size_t bodyAt = body.find("\r\n\r\n", at);
        if (lengthAt == std::string::npos || bodyAt == std::string::npos) {
            break;
        }
        const auto length = static_cast<std::size_t>(std::stol(body.substr(lengthAt + 16)));
        if (bodyAt + 4 + length > body.size()) {
            break;  // cut by the end of the transfer
        }
        parts.push_back(body.substr(bodyAt + 4, length));
        at = bodyAt + 4 + length;
    }
    return parts;
}

class StreamRealClients : public ::testing::Test {
protected:
    void SetUp() override
    {
        camera_.SetFrequency(0);
        WriteFile(dir_.File("last.jpg"), MakeJpeg(160, 120, 0));
        ASSERT_GT(StartOnFreePort(server_, camera_), 0);
        url_ = "http://127.0.0.1:" + std::to_string(server_.ListeningPort()) + "/";
    }
    void TearDown() override
    {
        StopFeeding();
        server_.StopStreamServer();
    }
    // Writes and notifies a new picture every `period`, at most `limit` times.
    void Feed(std::chrono::milliseconds period, int limit)
    {
        feeder_ = std::thread([this, period, limit] {
            for (int i = 1; i <= limit && !stop_.load(); ++i) {
                const std::string path = dir_.File("vorlix_" + std::to_string(i % 8) + ".jpg");
                WriteFile(path, MakeJpeg(160, 120, i));
                server_.NotifyNewImage(path.c_str());
                std::this_thread::sleep_for(period);
            }
        });
    }
    void StopFeeding()
    {
        stop_.store(true);
        if (feeder_.joinable()) {
            feeder_.join();
        }
    }

    TempDir dir_{"vorlix_stream"};
    TestCamera camera_{dir_.Path()};
    StreamServer server_{camera_};
    std::string url_;
    std::thread feeder_;
    std::atomic<bool> stop_{false};
};

TEST_F(StreamRealClients, CurlReceivesThePartsByteIdenticalToTheFiles)
{
    if (!HaveProgram("curl")) {
        GTEST_SKIP() << "curl not installed";
    }
    std::vector<std::string> sent;
    const std::string out = dir_.File("curl.out");
    std::thread curl([&] {
        RunProgram({"curl", "-s", "-N", "--max-time", "3", "-o", out, url_}, dir_.File("curl.stdout"),
                   dir_.File("curl.err"), 10s);
    });
    ASSERT_TRUE(WaitUntil([&] { return server_.CountStreamClients() == 1; }, 5s));
    sent.push_back(ReadFile(dir_.File("last.jpg")));  // the last picture at once
    for (int i = 1; i <= 4; ++i) {
        const std::string path = dir_.File("shot_" + std::to_string(i) + ".jpg");
        WriteFile(path, MakeJpeg(120 + i * 8, 90, i));
        sent.push_back(ReadFile(path));
        // A picture notified while the previous one is still on its way
        // replaces it: wait until curl has taken it.
        EXPECT_TRUE(WaitUntil([&] { return server_.StreamState() == 0; }));
        server_.NotifyNewImage(path.c_str());
    }
    curl.join();
    const std::vector<std::string> parts = SplitParts(ReadFile(out));
    ASSERT_EQ(parts.size(), sent.size()) << ReadFile(dir_.File("curl.err"));
    for (std::size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(parts[i], sent[i]) << "part " << i;
    }
}

TEST_F(StreamRealClients, FfmpegDecodesAtLeastThreeFrames)
{
    if (!HaveProgram("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg not installed";
    }
    Feed(60ms, 200);
    const std::string out = dir_.File("ffmpeg.out");
    const int status = RunProgram({"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-i", url_, "-frames:v",
                                   "5", "-f", "framecrc", "-"},
                                  out, dir_.File("ffmpeg.err"), 20s);
    StopFeeding();
    EXPECT_EQ(status, 0) << ReadFile(dir_.File("ffmpeg.err"));
    int frames = 0;
    std::stringstream lines(ReadFile(out));
    std::string line;
    while (std::getline(lines, line)) {
        frames += (!line.empty() && line[0] != '#') ? 1 : 0;
    }
    EXPECT_GE(frames, 3) << ReadFile(out) << ReadFile(dir_.File("ffmpeg.err"));
}

TEST_F(StreamRealClients, HeadlessChromiumShowsTheStreamInAnImage)
{
    std::string browser;
    for (const char* name : {"chromium", "chromium-browser"}) {
        if (HaveProgram(name)) {
            browser = name;
            break;
        }
    }
    if (browser.empty() || !HaveProgram("ffmpeg")) {
        GTEST_SKIP() << "chromium or ffmpeg not installed";
    }
    const std::string page = dir_.File("page.html");
    WriteFile(page, "<html><body style='margin:0;background:#fff'><img src='" + url_ +
                        "' width='320' height='240'></body></html>");
    Feed(100ms, 300);
    const std::string shot = dir_.File("shot.png");
    const int status = RunProgram({browser, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                                   "--user-data-dir=" + dir_.File("profile"), "--window-size=320,240",
                                   "--virtual-time-budget=2000", "--screenshot=" + shot, "file://" + page},
                                  dir_.File("chromium.out"), dir_.File("chromium.err"), 45s);
    StopFeeding();
    ASSERT_EQ(status, 0) << ReadFile(dir_.File("chromium.err"));
    // The screenshot as raw RGB through ffmpeg's PNG decoder.
    const std::string raw = dir_.File("shot.rgb");
    ASSERT_EQ(RunProgram({"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-i", shot, "-f",
                          "rawvideo", "-pix_fmt", "rgb24", raw},
                         dir_.File("conv.out"), dir_.File("conv.err"), 20s),
              0)
        << ReadFile(dir_.File("conv.err"));
    const std::string pixels = ReadFile(raw);
    ASSERT_GE(pixels.size(), 320U * 240U * 3U);
    // The test pictures run from black to red across and to green down: far
    // from the white page, and varied.
    int farFromWhite = 0;
    unsigned char low = 255, high = 0;
    for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) {
        const auto r = static_cast<unsigned char>(pixels[i]);
        const auto g = static_cast<unsigned char>(pixels[i + 1]);
        farFromWhite += (r < 200 || g < 200) ? 1 : 0;
        low = std::min(low, r);
        high = std::max(high, r);
    }
    EXPECT_GT(farFromWhite, static_cast<int>(pixels.size() / 3 / 4)) << "the image is missing from the page";
    EXPECT_GT(high - low, 100);
}

}  // namespace
}  // namespace vorlix
