// The browser view as browsers meet it, with curl as the browser on
// 127.0.0.1 and a feeder playing the capture thread: the page and the events
// list, Digest passwords right and wrong, pictures byte for byte, addresses
// that lead nowhere, the live stream's pace and sharing, the viewer cap, a
// stalled viewer, the snapshot and HTTPS.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <random>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/actions/tests/JpegRead.h"
#include "serveur/web/WebView.h"
#include "serveur/web/tests/WebTestKit.h"

namespace vorlix::web {
namespace {

using namespace test;
using kestrel::test::TraceCapture;

constexpr int kW = 160, kH = 120;

class WebViewTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directory(pictures_); }
    void TearDown() override { view_.Stop(); }

    WebViewConfig Config(const std::string& password = {})
    {
        WebViewConfig c;
        c.settings.management = true;
        c.settings.port = 0;
        c.settings.bind = "127.0.0.1";
        c.settings.fps = 5;
        c.password = password;
        c.camera = 1;
        c.quality = 80;
        c.pictureDir = pictures_;
        c.maxJpg = 8;
        c.stallLimit = 2s;
        c.firstWrongDelay = 200ms;
        return c;
    }
    bool Start(const WebViewConfig& c)
    {
        const bool started = view_.Configure(c);
        scheme_ = c.settings.Https() ? "https" : "http";
        return started && view_.Running();
    }
    [[nodiscard]] std::string Url(const std::string& path) const
    {
        return scheme_ + "://127.0.0.1:" + std::to_string(view_.Port()) + path;
    }
    void Detect(int picture, std::string label, std::time_t time)
    {
        Detection d;
        d.pictureNumber = picture;
        d.label = std::move(label);
        d.time = time;
        view_.OnDetection(d);
    }

    TempDir dir_{"vorlix_web"};
    std::string pictures_ = dir_.File("files");
    WebView view_{[] { return CameraStatus{true, true, 2}; }};
    std::string scheme_ = "http";
};

TEST_F(WebViewTest, PageShowsStateOpenAccessAndTheDetectionPictures)
{
    ASSERT_TRUE(Start(Config()));
    Detect(3, "ALLZ (812) ", 1700000000);
    Detect(4, "IN2 (90) ", 1700000060);

    const CurlResult page = Curl({Url("/")});
    ASSERT_EQ(page.status, 200) << page.body;
    EXPECT_NE(page.headers.find("Content-Type: text/html; charset=utf-8"), std::string::npos);
    EXPECT_NE(page.body.find("open to anyone who can reach the port"), std::string::npos);
    EXPECT_NE(page.body.find("Detection on"), std::string::npos);
    EXPECT_NE(page.body.find("Stream viewers: 2"), std::string::npos);
    EXPECT_NE(page.body.find("pictures/4.jpg?t=1700000060"), std::string::npos);
    EXPECT_NE(page.body.find("pictures/3.jpg?t=1700000000"), std::string::npos);

    const CurlResult events = Curl({Url("/events.json")});
    ASSERT_EQ(events.status, 200);
    EXPECT_NE(events.headers.find("application/json"), std::string::npos);
    EXPECT_NE(events.body.find("\"time\":1700000060,"), std::string::npos);
    EXPECT_NE(events.body.find("\"label\":\"IN2 (90) \",\"picture\":4}"), std::string::npos);
    EXPECT_LT(events.body.find("\"picture\":4"), events.body.find("\"picture\":3"));

    EXPECT_EQ(Curl({Url("/nothing")}).status, 404);
    EXPECT_EQ(Curl({"-X", "POST", "-d", "x=1", Url("/")}).status, 405);
    EXPECT_EQ(Curl({"-I", Url("/")}).status, 200);
}

TEST_F(WebViewTest, EveryAddressAsksForThePasswordWithDigest)
{
    // The trace hooks are set before any server thread runs, as the program does.
    TraceCapture traces;
    ASSERT_TRUE(Start(Config("s3cret")));
    const CurlResult none = Curl({Url("/")});
    EXPECT_EQ(none.status, 401);
    EXPECT_NE(none.headers.find("WWW-Authenticate: Digest"), std::string::npos);
    EXPECT_NE(none.headers.find("realm=\"Vorlix camera 1\""), std::string::npos);
    for (const char* path : {"/events.json", "/snapshot.jpg", "/live.mjpg", "/pictures/0.jpg", "/nothing"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Curl({Url(path)}).status, 401);
    }

    const CurlResult right = Curl({"--digest", "-u", "vorlix:s3cret", Url("/")});
    ASSERT_EQ(right.status, 200) << right.headers;
    EXPECT_NE(right.body.find("Protected by the camera"), std::string::npos);
    EXPECT_EQ(right.body.find("open to anyone"), std::string::npos);

    // Basic never carries the password here, nor another user name.
    EXPECT_EQ(Curl({"--basic", "-u", "vorlix:s3cret", Url("/")}).status, 401);
    EXPECT_EQ(Curl({"--digest", "-u", "admin:s3cret", Url("/")}).status, 401);

    const CurlResult wrong = Curl({"--digest", "-u", "vorlix:guess", Url("/")});
    EXPECT_EQ(wrong.status, 401);
    const CurlResult again = Curl({"--digest", "-u", "vorlix:guess2", Url("/")});
    EXPECT_EQ(again.status, 401);
    // The first wrong answer costs 200 ms, the next from the address 400 ms
    // (the admin attempt above was the first).
    EXPECT_GE(wrong.seconds, 0.4);
    EXPECT_GE(again.seconds, 0.8);
    EXPECT_TRUE(traces.Contains("wrong password from 127.0.0.1 (2 in a row)", kestrel::kLevelWarn));
    EXPECT_TRUE(traces.Contains("wrong password from 127.0.0.1 (3 in a row)", kestrel::kLevelWarn));
    // The right password still opens and costs nothing; the address's
    // record stays for the next wrong answer.
    const int wrongLines = traces.Count("wrong password");
    EXPECT_EQ(Curl({"--digest", "-u", "vorlix:s3cret", Url("/events.json")}).status, 200);
    EXPECT_EQ(traces.Count("wrong password"), wrongLines);
    EXPECT_GE(Curl({"--digest", "-u", "vorlix:guess3", Url("/")}).seconds, 1.6);
    EXPECT_TRUE(traces.Contains("wrong password from 127.0.0.1 (4 in a row)", kestrel::kLevelWarn));
}

TEST_F(WebViewTest, PicturesOfTheSetAreServedByteForByte)
{
    ASSERT_TRUE(Start(Config()));
    std::mt19937 random(7);
    std::string bytes(70000, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    kestrel::test::WriteFile(pictures_ + "/vorlix_0.jpg", bytes);
    kestrel::test::WriteFile(pictures_ + "/vorlix_7.jpg", bytes.substr(0, 1234));
    const CurlResult first = Curl({Url("/pictures/0.jpg")});
    ASSERT_EQ(first.status, 200);
    EXPECT_EQ(first.body, bytes);
    EXPECT_NE(first.headers.find("Content-Type: image/jpeg"), std::string::npos);
    EXPECT_EQ(Curl({Url("/pictures/7.jpg")}).body, bytes.substr(0, 1234));
    // Not written yet, outside the set, or a link out of the directory: nothing.
    EXPECT_EQ(Curl({Url("/pictures/3.jpg")}).status, 404);
    EXPECT_EQ(Curl({Url("/pictures/8.jpg")}).status, 404);
    kestrel::test::WriteFile(dir_.File("secret.txt"), "secret");
    ASSERT_EQ(::symlink(dir_.File("secret.txt").c_str(), (pictures_ + "/vorlix_5.jpg").c_str()), 0);
    const CurlResult link = Curl({Url("/pictures/5.jpg")});
    EXPECT_EQ(link.status, 404);
    EXPECT_EQ(link.body.find("secret"), std::string::npos);
}

TEST_F(WebViewTest, AddressesOutsideTheSetGive404WithoutTouchingTheDisk)
{
    ASSERT_TRUE(Start(Config()));
    kestrel::test::WriteFile(dir_.File("Vorlix.ini"), "[Vorlix]\nAuthentification client=x\n");
    kestrel::test::WriteFile(pictures_ + "/vorlix_1.jpg", "picture");
    // Every open or read in the directory above the pictures is seen here.
    kestrel::UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    ASSERT_TRUE(watch);
    ASSERT_GE(::inotify_add_watch(watch.Get(), dir_.Path().c_str(), IN_OPEN | IN_ACCESS), 0);

    for (const char* path : {
             "/../Vorlix.ini",
             "/pictures/../Vorlix.ini",
             "/pictures/../../Vorlix.ini",
             "/pictures/..%2fVorlix.ini",
             "/pictures/%2e%2e/Vorlix.ini",
             "/pictures/%2e%2e%2fVorlix.ini",
             "/pictures/..%2f..%2fetc%2fpasswd",
             "/%2e%2e/Vorlix.ini",
             "/pictures/-1.jpg",
             "/pictures/8.jpg",
             "/pictures/01.jpg",
             "/pictures/1.jpg/",
             "/pictures/1.jpg%00",
             "/pictures/1%2ejpg%00.jpg",
             "/pictures/%31.jpg/..",
             "/files/vorlix_1.jpg",
             "/Vorlix.ini",
             "/pictures/",
             "/pictures",
             "/live.mjpg/../Vorlix.ini",
             "//etc/passwd",
             "/index.htm",
         }) {
        SCOPED_TRACE(path);
        const CurlResult r = Curl({"--path-as-is", Url(path)});
        EXPECT_EQ(r.status, 404);
        EXPECT_EQ(r.body.find("Authentification"), std::string::npos);
    }
    char events[4096];
    const ssize_t n = ::read(watch.Get(), events, sizeof events);
    EXPECT_LE(n, 0) << "the server opened a file beside the picture directory";
    // The one address that is a picture still reads it.
    EXPECT_EQ(Curl({Url("/pictures/1.jpg")}).body, "picture");
    // And the watch does see a read beside the pictures.
    EXPECT_FALSE(kestrel::test::ReadFile(dir_.File("Vorlix.ini")).empty());
    EXPECT_GT(::read(watch.Get(), events, sizeof events), 0);
}

TEST_F(WebViewTest, LiveStreamOfAStillSceneComesAtTheSetPace)
{
    WebViewConfig c = Config();
    c.settings.fps = 5;
    ASSERT_TRUE(Start(c));
    Feeder camera(view_, kW, kH, 25, false);
    const CurlResult live = Curl({"--max-time", "3", Url("/live.mjpg")});
    EXPECT_EQ(live.exit, 28) << "the stream goes on until the viewer leaves";
    EXPECT_NE(live.headers.find("Content-Type: multipart/x-mixed-replace; boundary=vorlixframe"), std::string::npos);
    const std::vector<std::string> parts = MjpegParts(live.body);
    std::printf("[ figures ] still scene, fps 5, 3 s: %zu pictures\n", parts.size());
    EXPECT_GE(parts.size(), 11U);
    EXPECT_LE(parts.size(), 18U);
    ASSERT_FALSE(parts.empty());
    kestrel::test::WriteFile(dir_.File("part.jpg"), parts.back());
    const auto decoded = vorlix::test::ReadJpeg(dir_.File("part.jpg"));
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.width, kW);
    EXPECT_EQ(decoded.height, kH);
}

TEST_F(WebViewTest, OneEncodePerPictureForAllViewersAndNoneWhenNobodyWatches)
{
    ASSERT_TRUE(Start(Config()));
    Feeder camera(view_, kW, kH, 25, true);
    ASSERT_TRUE(WaitUntil([&] { return camera.Frames() >= 15; }));
    EXPECT_EQ(camera.Offered(), 0);
    EXPECT_EQ(view_.Frames().Encodes(), 0U);

    constexpr int kViewers = 6;
    std::vector<std::unique_ptr<CurlChild>> viewers;
    viewers.reserve(kViewers);
    for (int i = 0; i < kViewers; ++i) {
        viewers.push_back(std::make_unique<CurlChild>(std::vector<std::string>{"--max-time", "2", Url("/live.mjpg")}));
    }
    std::size_t received = 0;
    for (auto& viewer : viewers) {
        const std::size_t parts = MjpegParts(viewer->Finish()).size();
        EXPECT_GE(parts, 5U);
        received += parts;
    }
    const std::uint64_t encodes = view_.Frames().Encodes();
    std::printf("[ figures ] %d viewers, 2 s at 5 fps: %llu encodes, %zu pictures received\n", kViewers,
                static_cast<unsigned long long>(encodes), received);
    EXPECT_LE(encodes, 14U);
    EXPECT_GE(received, static_cast<std::size_t>(kViewers - 1) * encodes);

    // Everybody gone: the frames stop being taken.
    ASSERT_TRUE(WaitUntil([&] { return view_.Frames().Watchers() == 0; }));
    const int offered = camera.Offered();
    const int frames = camera.Frames();
    ASSERT_TRUE(WaitUntil([&] { return camera.Frames() >= frames + 15; }));
    EXPECT_EQ(camera.Offered(), offered);
}

TEST_F(WebViewTest, ViewersBeyondTheCapAreTurnedAway)
{
    WebViewConfig c = Config();
    c.settings.maxViewers = 2;
    ASSERT_TRUE(Start(c));
    Feeder camera(view_, kW, kH, 25, false);
    CurlChild one({"--max-time", "4", Url("/live.mjpg")});
    CurlChild two({"--max-time", "4", Url("/live.mjpg")});
    ASSERT_TRUE(WaitUntil([&] { return view_.State().webViewers == 2; }));
    const CurlResult third = Curl({"--max-time", "4", Url("/live.mjpg")});
    EXPECT_EQ(third.status, 503);
    // The page still answers beside the full stream.
    EXPECT_EQ(Curl({Url("/")}).status, 200);
    EXPECT_FALSE(MjpegParts(one.Finish()).empty());
    two.Finish();
    ASSERT_TRUE(WaitUntil([&] { return view_.State().webViewers == 0; }));
    EXPECT_FALSE(MjpegParts(Curl({"--max-time", "1", Url("/live.mjpg")}).body).empty());
}

TEST_F(WebViewTest, AStalledViewerIsDroppedWhileOthersGoOn)
{
    // At 25 pictures a second the kernel's buffers of the stalled socket fill
    // within a second or two, so the deadline, not the buffers, decides.
    WebViewConfig c = Config();
    c.settings.fps = 25;
    ASSERT_TRUE(Start(c));
    Feeder camera(view_, 640, 480, 25, true);
    // A viewer that asks for the stream and then reads nothing.
    kestrel::UniqueFd stalled(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int small = 4096;
    ::setsockopt(stalled.Get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(view_.Port()));
    ASSERT_EQ(::connect(stalled.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string request = "GET /live.mjpg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_EQ(::send(stalled.Get(), request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    ASSERT_TRUE(WaitUntil([&] { return view_.State().webViewers == 1; }));

    CurlChild reader({"--max-time", "10", Url("/live.mjpg")});
    const auto start = std::chrono::steady_clock::now();
    // The stalled one goes after its deadline (2 s here) while the reader,
    // still reading for a while after the wait's own end, stays.
    ASSERT_TRUE(
        WaitUntil([&] { return view_.State().webViewers == 1 && std::chrono::steady_clock::now() - start > 3s; }, 8s))
        << view_.State().webViewers;
    const double dropped = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::size_t parts = MjpegParts(reader.Finish()).size();
    std::printf("[ figures ] stalled viewer dropped within %.1f s; the reader got %zu pictures in 10 s\n", dropped,
                parts);
    EXPECT_GE(parts, 30U);
}

TEST_F(WebViewTest, SnapshotIsAFreshFrameOrSaysWhyNot)
{
    ASSERT_TRUE(Start(Config()));
    const CurlResult none = Curl({Url("/snapshot.jpg")});
    EXPECT_EQ(none.status, 503);
    EXPECT_NE(none.body.find("not capturing"), std::string::npos);
    Feeder camera(view_, kW, kH, 25, true);
    const CurlResult snapshot = Curl({Url("/snapshot.jpg")});
    ASSERT_EQ(snapshot.status, 200);
    EXPECT_TRUE(LooksLikeJpeg(snapshot.body));
    EXPECT_NE(snapshot.headers.find("Content-Type: image/jpeg"), std::string::npos);
}

TEST_F(WebViewTest, HttpsWithACertificateMadeHere)
{
    WebViewConfig c = Config("pw");
    ASSERT_TRUE(MakeCertificate(dir_.Path(), c.settings.certificate, c.settings.key));
    ASSERT_TRUE(Start(c));
    Feeder camera(view_, kW, kH, 25, true);
    const CurlResult snapshot =
        Curl({"--cacert", c.settings.certificate, "--digest", "-u", "vorlix:pw", Url("/snapshot.jpg")});
    ASSERT_EQ(snapshot.status, 200) << snapshot.headers;
    EXPECT_TRUE(LooksLikeJpeg(snapshot.body));
    // Without the certificate as trust anchor curl refuses; plain HTTP gets nothing.
    EXPECT_EQ(Curl({Url("/snapshot.jpg")}).exit, 60);
    const std::string plain = "http://127.0.0.1:" + std::to_string(view_.Port()) + "/";
    EXPECT_NE(Curl({"--max-time", "5", plain}).status, 200);
}

TEST_F(WebViewTest, UnreadableCertificateStartsNothingRatherThanPlainHttp)
{
    WebViewConfig c = Config();
    c.settings.certificate = dir_.File("missing.pem");
    c.settings.key = dir_.File("missing.key");
    TraceCapture traces;
    EXPECT_FALSE(view_.Configure(c));
    EXPECT_FALSE(view_.Running());
    EXPECT_TRUE(traces.Contains("cannot read the certificate", kestrel::kLevelError));
    c.settings.certificate.clear();
    c.settings.bind = "not-an-address";
    EXPECT_FALSE(view_.Configure(c));
    EXPECT_FALSE(view_.Running());
}

TEST_F(WebViewTest, ReloadKeepsOrRestartsOrStopsTheServer)
{
    WebViewConfig c = Config();
    ASSERT_TRUE(Start(c));
    const int port = view_.Port();
    c.maxJpg = 2;
    ASSERT_TRUE(view_.Configure(c));
    EXPECT_EQ(view_.Port(), port) << "pictures and words change without a restart";
    kestrel::test::WriteFile(pictures_ + "/vorlix_1.jpg", "one");
    kestrel::test::WriteFile(pictures_ + "/vorlix_2.jpg", "two");
    EXPECT_EQ(Curl({Url("/pictures/1.jpg")}).status, 200);
    EXPECT_EQ(Curl({Url("/pictures/2.jpg")}).status, 404);
    c.password = "new";
    ASSERT_TRUE(view_.Configure(c));
    EXPECT_EQ(Curl({Url("/")}).status, 401);
    c.settings.management = false;
    ASSERT_TRUE(view_.Configure(c));
    EXPECT_FALSE(view_.Running());
}

}  // namespace
}  // namespace vorlix::web
