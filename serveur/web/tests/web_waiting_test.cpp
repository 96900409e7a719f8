// What waits in the browser view waits alone: live viewers between
// pictures, a snapshot before its picture and a wrong password's delay are
// put aside by the server's one polling thread, and none of them holds up
// another client, a leaving viewer's end or the server's stop.
#include <gtest/gtest.h>

#include <memory>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/web/WebView.h"
#include "serveur/web/tests/WebTestKit.h"

namespace vorlix::web {
namespace {

using namespace test;
using kestrel::test::TraceCapture;
using Clock = std::chrono::steady_clock;

constexpr int kW = 160, kH = 120;

class WebWaiting : public ::testing::Test {
protected:
    void TearDown() override { view_.Stop(); }

    static WebViewConfig Config(const std::string& password = {})
    {
        WebViewConfig c;
        c.settings.management = true;
        c.settings.port = 0;
        c.settings.bind = "127.0.0.1";
        c.settings.fps = 5;
        c.settings.maxViewers = 40;
        c.password = password;
        c.quality = 80;
        c.stallLimit = 2s;
        c.firstWrongDelay = 200ms;
        return c;
    }
    bool Start(const WebViewConfig& c) { return view_.Configure(c) && view_.Running(); }
    [[nodiscard]] std::string Url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(view_.Port()) + path;
    }
    std::vector<std::unique_ptr<RawViewer>> Watch(int count)
    {
        std::vector<std::unique_ptr<RawViewer>> viewers;
        viewers.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            viewers.push_back(std::make_unique<RawViewer>(view_.Port(), "/live.mjpg"));
            EXPECT_TRUE(viewers.back()->Connected());
        }
        return viewers;
    }
    static double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

    WebView view_{[] { return CameraStatus{true, true, 0}; }};
};

TEST_F(WebWaiting, ASnapshotAmongTwentyLiveViewersComesWithTheNextPicture)
{
    ASSERT_TRUE(Start(Config()));
    Feeder camera(view_, 320, 240, 25, true);
    auto viewers = Watch(20);
    for (auto& viewer : viewers) {
        ASSERT_TRUE(viewer->PartsWithin(2, 10s));
    }
    const CurlResult snapshot = Curl({"--max-time", "5", Url("/snapshot.jpg")});
    ASSERT_EQ(snapshot.status, 200) << snapshot.body;
    EXPECT_TRUE(LooksLikeJpeg(snapshot.body));
    std::printf("[ figures ] snapshot among 20 live viewers answered in %.2f s\n", snapshot.seconds);
    // The next picture is due within 200 ms; a snapshot that missed it would
    // only be answered when its 3 s are up.
    EXPECT_LT(snapshot.seconds, 2.0);
    for (auto& viewer : viewers) {
        const std::size_t had = viewer->Parts().size();
        EXPECT_TRUE(viewer->PartsWithin(had + 2, 5s)) << "a live viewer stopped getting pictures";
    }
}

TEST_F(WebWaiting, AWrongPasswordsDelayHoldsUpNobodyElse)
{
    TraceCapture traces;
    WebViewConfig c = Config("s3cret");
    c.firstWrongDelay = 3s;
    ASSERT_TRUE(Start(c));
    Feeder camera(view_, kW, kH, 25, true);
    CurlChild live({"--digest", "-u", "vorlix:s3cret", "--max-time", "4", Url("/live.mjpg")});
    const auto start = Clock::now();
    CurlChild wrong({"--digest", "-u", "vorlix:guess", "--max-time", "10", Url("/events.json")});
    ASSERT_TRUE(WaitUntil([&] { return traces.Contains("wrong password from 127.0.0.1"); }, 10s));

    // While the wrong answer waits for its 3 s, others are served.
    const CurlResult page = Curl({"--digest", "-u", "vorlix:s3cret", Url("/events.json")});
    EXPECT_EQ(page.status, 200);
    const CurlResult open = Curl({"--digest", "-u", "vorlix:s3cret", Url("/snapshot.jpg")});
    EXPECT_EQ(open.status, 200);
    EXPECT_TRUE(wrong.Running()) << "the wrong answer went out before the others were served";

    const std::string refused = wrong.Finish();
    EXPECT_GE(Since(start), 3.0);
    EXPECT_NE(refused.find("401 Unauthorized"), std::string::npos) << refused;
    const std::size_t parts = MjpegParts(live.Finish()).size();
    std::printf("[ figures ] a live viewer got %zu pictures in 4 s beside a wrong password's delay\n", parts);
    EXPECT_GE(parts, 12U);
}

TEST_F(WebWaiting, RightAnswersArrivingTogetherAreNeverTakenForGuesses)
{
    TraceCapture traces;
    WebViewConfig c = Config("pw");
    c.firstWrongDelay = 5s;
    ASSERT_TRUE(Start(c));
    // Browsers asked at the same moment may be given the same nonce, which
    // only one of them can use: the others are given a fresh one at once.
    std::vector<std::unique_ptr<CurlChild>> browsers;
    browsers.reserve(16);
    for (int i = 0; i < 16; ++i) {
        browsers.push_back(std::make_unique<CurlChild>(
            std::vector<std::string>{"--digest", "-u", "vorlix:pw", "--max-time", "4", Url("/events.json")}));
    }
    for (auto& browser : browsers) {
        const std::string body = browser->Finish();
        EXPECT_NE(body.find("\"camera\""), std::string::npos) << body;
    }
    EXPECT_FALSE(traces.Contains("wrong password"));
}

TEST_F(WebWaiting, APasswordAnsweredOnceCoversAWaitingSnapshotAndTheStream)
{
    ASSERT_TRUE(Start(Config("pw")));
    Feeder camera(view_, kW, kH, 25, true);
    // The snapshot waits for a picture made after it was asked for: the
    // answer to the password, given once, must still hold then.
    const CurlResult snapshot = Curl({"--digest", "-u", "vorlix:pw", Url("/snapshot.jpg")});
    ASSERT_EQ(snapshot.status, 200) << snapshot.headers;
    EXPECT_TRUE(LooksLikeJpeg(snapshot.body));
    const CurlResult live = Curl({"--digest", "-u", "vorlix:pw", "--max-time", "2", Url("/live.mjpg")});
    EXPECT_GE(MjpegParts(live.body).size(), 5U);
}

TEST_F(WebWaiting, AViewerWhoLeavesIsForgottenAndTheOthersGoOn)
{
    ASSERT_TRUE(Start(Config()));
    Feeder camera(view_, kW, kH, 25, true);
    auto viewers = Watch(3);
    for (auto& viewer : viewers) {
        ASSERT_TRUE(viewer->PartsWithin(2, 10s));
    }
    ASSERT_EQ(view_.State().webViewers, 3);
    viewers[1]->Leave();
    EXPECT_TRUE(WaitUntil([&] { return view_.State().webViewers == 2; }, 5s)) << view_.State().webViewers;
    for (const std::size_t i : {0U, 2U}) {
        const std::size_t had = viewers[i]->Parts().size();
        EXPECT_TRUE(viewers[i]->PartsWithin(had + 3, 5s));
    }
}

TEST_F(WebWaiting, WhenTheCameraStopsViewersGetTheLastPictureAgainAndStay)
{
    ASSERT_TRUE(Start(Config()));
    auto camera = std::make_unique<Feeder>(view_, kW, kH, 25, true);
    RawViewer viewer(view_.Port(), "/live.mjpg");
    ASSERT_TRUE(viewer.PartsWithin(3, 10s));
    // The stream ends only with the connection: its parts come without
    // chunk framing, each whole.
    const std::string head = viewer.Bytes().substr(0, viewer.Bytes().find("\r\n\r\n"));
    EXPECT_NE(head.find("Connection: close"), std::string::npos) << head;
    EXPECT_EQ(head.find("chunked"), std::string::npos) << head;
    camera.reset();
    ASSERT_TRUE(viewer.ReadFor(300ms));  // what was on its way
    const std::vector<std::string> before = viewer.Parts();
    EXPECT_TRUE(viewer.ReadFor(5s)) << "the viewer was dropped";
    const std::vector<std::string> after = viewer.Parts();
    // Every 2 s the last picture again.
    EXPECT_GE(after.size(), before.size() + 2);
    EXPECT_LE(after.size(), before.size() + 3);
    for (std::size_t i = before.size(); i < after.size(); ++i) {
        EXPECT_EQ(after[i], before.back());
    }
    EXPECT_EQ(view_.State().webViewers, 1);
}

TEST_F(WebWaiting, StoppingWithEveryKindOfWaitEndsPromptly)
{
    TraceCapture traces;
    WebViewConfig c = Config("pw");
    c.firstWrongDelay = 10s;
    ASSERT_TRUE(Start(c));
    auto camera = std::make_unique<Feeder>(view_, kW, kH, 25, true);
    std::vector<std::unique_ptr<CurlChild>> viewers;
    viewers.reserve(20);
    for (int i = 0; i < 20; ++i) {
        viewers.push_back(std::make_unique<CurlChild>(
            std::vector<std::string>{"--digest", "-u", "vorlix:pw", "--max-time", "30", Url("/live.mjpg")}));
    }
    ASSERT_TRUE(WaitUntil([&] { return view_.State().webViewers == 20; }, 15s)) << view_.State().webViewers;
    // The camera goes quiet: the viewers wait for a picture, the snapshot
    // for a fresh one, and a wrong password for its 10 s.
    camera.reset();
    CurlChild snapshot({"--digest", "-u", "vorlix:pw", "--max-time", "30", Url("/snapshot.jpg")});
    CurlChild wrong({"--digest", "-u", "vorlix:guess", "--max-time", "30", Url("/")});
    ASSERT_TRUE(WaitUntil([&] { return traces.Contains("wrong password"); }, 10s));
    ASSERT_TRUE(WaitUntil([&] { return view_.Waiting() >= 22; }, 10s)) << view_.Waiting();

    const auto start = Clock::now();
    view_.Stop();
    const double stopped = Since(start);
    std::printf("[ figures ] stopped with 22 waiting connections in %.3f s\n", stopped);
    EXPECT_LT(stopped, 2.0);
    EXPECT_FALSE(view_.Running());
    EXPECT_EQ(view_.State().webViewers, 0);
    EXPECT_EQ(view_.Waiting(), 0U);
    // Every connection is ended at once, none is left to its own time-out.
    wrong.Finish(5s);
    EXPECT_NE(wrong.Exit(), -1);
    snapshot.Finish(5s);
    EXPECT_NE(snapshot.Exit(), -1);
    for (auto& viewer : viewers) {
        EXPECT_FALSE(MjpegParts(viewer->Finish(5s)).empty());
        EXPECT_NE(viewer->Exit(), -1);
    }
}

}  // namespace
}  // namespace vorlix::web
