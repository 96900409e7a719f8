// The stream server over real TCP on 127.0.0.1: head, password exchange,
// live and history frames, request parsing, pacing and client lifetimes.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <utime.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <thread>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/stream/StreamServer.h"
#include "serveur/stream/StreamWire.h"
#include "serveur/stream/tests/StreamTestKit.h"

namespace vorlix {
namespace {

using namespace testkit;

// Wrong answers cost 20 ms here instead of a second, so several fit in a test.
StreamTimings QuickGuesses()
{
    StreamTimings timings;
    timings.guesses.firstDelay = 20ms;
    return timings;
}

class StreamProtocol : public ::testing::Test {
protected:
    void StartServer()
    {
        ASSERT_GT(StartOnFreePort(*server_, camera_), 0);
        port_ = server_->ListeningPort();
        ASSERT_GT(port_, 0);
    }
    static std::string Answer(std::int32_t challenge, const std::string& password)
    {
        return Viewer::Answer(challenge, password);
    }
    int Count(const std::string& text) const { return camera_.CountEvent(text); }

    TempDir dir_{"vorlix_stream"};
    TestCamera camera_{dir_.Path()};
    std::unique_ptr<StreamServer> server_ = std::make_unique<StreamServer>(camera_, QuickGuesses());
    int port_ = 0;
};

TEST_F(StreamProtocol, WithoutPasswordTheHeadThenTheLastPictureAtOnce)
{
    const std::string picture = MakeJpeg(64, 48, 1);
    WriteFile(dir_.File("last.jpg"), picture);
    StartServer();
    Viewer viewer(port_);
    ASSERT_TRUE(viewer.ReadHead());
    const auto frame = viewer.ReadFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->header, LiveFrameHeader(static_cast<long>(picture.size())));
    EXPECT_EQ(frame->body, picture);
    EXPECT_FALSE(frame->history);
    EXPECT_FALSE(viewer.AnythingWithin(150ms));  // no AskPassword, nothing more
    EXPECT_EQ(Count("New client"), 1);
    EXPECT_EQ(server_->CountStreamClients(), 1);
}

TEST_F(StreamProtocol, PasswordChallengeRepeatedAfterWrongAnswersThenPictureAtOnce)
{
    WriteFile(dir_.File("last.jpg"), MakeJpeg(32, 32, 2));
    camera_.SetPassword("s3cret Pass");
    StartServer();

    // A local port whose challenge is negative, to check the sign on the wire.
    std::unique_ptr<Viewer> viewer;
    std::int32_t expected = 0;
    for (int attempt = 0; attempt < 50 && expected >= 0; ++attempt) {
        viewer = std::make_unique<Viewer>(port_);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        local.sin_port = htons(static_cast<std::uint16_t>(viewer->LocalPort()));
        expected = ChallengeFromPeer(local);
    }
    ASSERT_LT(expected, 0);
    ASSERT_TRUE(viewer->ReadHead());
    ASSERT_EQ(viewer->ReadChallenge(), expected);
    EXPECT_FALSE(viewer->AnythingWithin(200ms)) << "no frame before the right answer";

    for (int wrong = 0; wrong < 3; ++wrong) {
        viewer->Send(Answer(expected, "wrong"));
        EXPECT_EQ(viewer->ReadChallenge(), expected) << "attempt " << wrong;  // after the wrong answer's delay
    }
    viewer->Send(Answer(expected + 1, "s3cret Pass"));  // scrambled with another key
    EXPECT_EQ(viewer->ReadChallenge(), expected);
    viewer->Send(Answer(expected, "s3cret pass"));  // case matters
    EXPECT_EQ(viewer->ReadChallenge(), expected);
    EXPECT_FALSE(viewer->AnythingWithin(100ms));

    viewer->Send(Answer(expected, "s3cret Pass"));
    const auto frame = viewer->ReadFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->body, ReadFile(dir_.File("last.jpg")));
    EXPECT_EQ(Count("password KO for the new client"), 5);
    EXPECT_EQ(Count("password ok for the new client"), 1);
    EXPECT_EQ(server_->CountStreamClients(), 1);  // five wrong answers do not close it
}

TEST_F(StreamProtocol, HistoryBeforeThePasswordGetsNothing)
{
    camera_.SetPassword("pw");
    camera_.SetShots(12, 500);
    WriteFile(dir_.File("vorlix_12.jpg"), "twelve");
    StartServer();
    Viewer viewer(port_);
    ASSERT_TRUE(viewer.ReadHead());
    const auto challenge = viewer.ReadChallenge();
    ASSERT_TRUE(challenge.has_value());
    viewer.Send("History: newer\r\n");
    EXPECT_FALSE(viewer.AnythingWithin(300ms));
}

TEST_F(StreamProtocol, HistoryPicturesByWordAndNumberWithTheRingInTheHeader)
{
    camera_.SetShots(12, 500);
    WriteFile(dir_.File("vorlix_12.jpg"), "picture twelve");
    WriteFile(dir_.File("vorlix_13.jpg"), "picture thirteen");
    WriteFile(dir_.File("vorlix_900.jpg"), "picture nine hundred");
    const std::time_t when = std::time(nullptr) - 86400;
    const utimbuf times{when, when};
    ASSERT_EQ(::utime(dir_.File("vorlix_13.jpg").c_str(), &times), 0);
    StartServer();  // no last.jpg: the new client gets no live frame
    Viewer viewer(port_);
    ASSERT_TRUE(viewer.ReadHead());

    const std::pair<const char*, const char*> cases[] = {
        {"older", "picture thirteen"}, {"newer", "picture twelve"},     {"0", "picture twelve"},
        {"-1", "picture thirteen"},    {"900", "picture nine hundred"},
    };
    for (const auto& [argument, body] : cases) {
        viewer.Send(std::string("History: ") + argument + "\r\n");
        const auto frame = viewer.ReadFrame();
        ASSERT_TRUE(frame.has_value()) << argument;
        EXPECT_TRUE(frame->history) << argument;
        EXPECT_EQ(frame->body, body) << argument;
        EXPECT_EQ(HeaderField(frame->header, "IndiceLast"), "12");
        EXPECT_EQ(HeaderField(frame->header, "Modulo"), "500");
        EXPECT_EQ(frame->header.rfind("\r\n--BoundaryString\r\nVorlix: History\r\n", 0), 0U);
    }
    viewer.Send("History: older\r\n");
    const auto frame = viewer.ReadFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(HeaderField(frame->header, "Time"), AsctimeText(when));

    viewer.Send("History: 41\r\n");  // a missing picture: no answer at all
    EXPECT_FALSE(viewer.AnythingWithin(200ms));
}

TEST_F(StreamProtocol, PasswordAndHistoryInOneReceiveOnlyTheFirstLineCounts)
{
    camera_.SetPassword("pw");
    camera_.SetShots(12, 500);
    WriteFile(dir_.File("last.jpg"), "live picture");
    WriteFile(dir_.File("vorlix_900.jpg"), "history picture");
    StartServer();
    Viewer viewer(port_);
    ASSERT_TRUE(viewer.ReadHead());
    const auto challenge = viewer.ReadChallenge();
    ASSERT_TRUE(challenge.has_value());
    std::string both = Answer(*challenge, "pw") + "History: 900\r\n";
    viewer.Send(both);
    const auto frame = viewer.ReadFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_FALSE(frame->history);
    EXPECT_EQ(frame->body, "live picture");
    EXPECT_FALSE(viewer.AnythingWithin(300ms)) << "the History line of the same receive is dropped";
}

TEST_F(StreamProtocol, BrowserRequestIsIgnoredAndTheStreamFollows)
{
    WriteFile(dir_.File("last.jpg"), "first");
    StartServer();
    Viewer browser(port_);
    std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: " + std::string(300, 'B') + "\r\n\r\n";
    browser.Send(request);
    ASSERT_TRUE(browser.ReadHead());
    auto frame = browser.ReadFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->body, "first");
    WriteFile(dir_.File("second.jpg"), "second picture");
    server_->NotifyNewImage(dir_.File("second.jpg").c_str());
    frame = browser.ReadFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->body, "second picture");
    EXPECT_EQ(server_->CountStreamClients(), 1);
}

TEST_F(StreamProtocol, FrequencyTransfertHoldsBackAClientServedRecentlyUntilItIsDue)
{
    camera_.SetFrequency(1000);
    WriteFile(dir_.File("last.jpg"), "paced picture");
    StartServer();
    Viewer early(port_);
    ASSERT_TRUE(early.ReadHead());
    ASSERT_TRUE(early.ReadFrame().has_value());
    const auto earlyServed = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(400ms);  // time passes: the pace is the subject
    Viewer late(port_);
    ASSERT_TRUE(late.ReadHead());
    auto frame = late.ReadFrame();
    ASSERT_TRUE(frame.has_value());
    const auto lateServed = std::chrono::steady_clock::now();
    EXPECT_EQ(frame->body, "paced picture");
    EXPECT_FALSE(early.AnythingWithin(100ms)) << "the newcomer's picture went to the other viewer too";

    // A new picture now finds neither due: each gets it once its second has
    // passed, without another notification, and not before.
    WriteFile(dir_.File("newer.jpg"), "newer picture");
    server_->NotifyNewImage(dir_.File("newer.jpg").c_str());
    frame = early.ReadFrame(2s);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->body, "newer picture");
    EXPECT_GE(std::chrono::steady_clock::now() - earlyServed, 950ms);
    frame = late.ReadFrame(2s);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->body, "newer picture");
    EXPECT_GE(std::chrono::steady_clock::now() - lateServed, 950ms);
}

TEST_F(StreamProtocol, EmptyAndMissingPicturesAreNeverSent)
{
    TraceCapture traces;
    WriteFile(dir_.File("last.jpg"), "");
    StartServer();
    Viewer viewer(port_);
    ASSERT_TRUE(viewer.ReadHead());
    EXPECT_FALSE(viewer.AnythingWithin(200ms));
    const std::string missing = dir_.File("gone.jpg");
    server_->NotifyNewImage(missing.c_str());
    EXPECT_FALSE(viewer.AnythingWithin(200ms));
    ASSERT_TRUE(traces.WaitFor("Unable to access jpg file=(" + missing + ")(2)"));
    EXPECT_EQ(traces.Count("[WARN ] "), traces.Count("Unable to access jpg file=(" + missing + ")(2)"));
    EXPECT_EQ(traces.Count("Unable to access jpg file=(" + missing + ")(2)</COLOR>"), 1);
    WriteFile(missing, "now here");
    server_->NotifyNewImage(nullptr);  // the last path stays the missing one, now present
    const auto frame = viewer.ReadFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->body, "now here");
    server_->StopStreamServer();
}

TEST_F(StreamProtocol, ResetAndOrderlyClosedConnectionsAreRemovedAtOnce)
{
    WriteFile(dir_.File("last.jpg"), std::string(20000, 'x'));
    StartServer();
    auto reset = std::make_unique<Viewer>(port_);
    auto orderly = std::make_unique<Viewer>(port_);
    Viewer stays(port_);
    ASSERT_TRUE(WaitUntil([&] { return server_->CountStreamClients() == 3; }));
    ASSERT_TRUE(stays.ReadHead());
    ASSERT_TRUE(stays.ReadFrame().has_value());

    reset->Reset();
    EXPECT_TRUE(WaitUntil([&] { return server_->CountStreamClients() == 2; }, 1s));
    // Read all first: closing with unread bytes would send a reset instead.
    ASSERT_TRUE(orderly->ReadHead());
    ASSERT_TRUE(orderly->ReadFrame().has_value());
    orderly->Close();
    // No picture is sent meanwhile: the close itself is noticed, so closed
    // viewers cannot pile up while the camera is quiet.
    EXPECT_TRUE(WaitUntil([&] { return server_->CountStreamClients() == 1; }, 1s));
    server_->NotifyNewImage(nullptr);
    EXPECT_TRUE(stays.ReadFrame().has_value());
    EXPECT_EQ(server_->CountStreamClients(), 1);
}

TEST_F(StreamProtocol, OrderlyClosedViewerDoesNotKeepTheThreadBusy)
{
    StartServer();
    {
        Viewer viewer(port_);
        ASSERT_TRUE(viewer.ReadHead());
    }  // read everything, closed in order: its socket now always reads as ready
    ASSERT_TRUE(WaitUntil([&] { return server_->CountStreamClients() == 0; }));
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    std::this_thread::sleep_for(500ms);  // the span whose CPU time is measured
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    const auto ms = [](const rusage& u) {
        return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
               static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
    };
    // Polling the closed socket again and again would burn the whole half second.
    EXPECT_LT(ms(after) - ms(before), 250.0);
}

TEST_F(StreamProtocol, StopClosesEveryClientOnceThenTheListeningSocket)
{
    TraceCapture traces;
    StartServer();
    Viewer a(port_), b(port_), c(port_);
    ASSERT_TRUE(WaitUntil([&] { return server_->CountStreamClients() == 3; }));
    server_->StopStreamServer();
    EXPECT_EQ(traces.Count("[INFO ] "), 3);
    EXPECT_EQ(traces.Count("client has closed ("), 3);
    EXPECT_EQ(traces.Count("Closing active webcam sockets"), 1);
    EXPECT_EQ(traces.Count("Thread jpg stop "), 1);
    EXPECT_EQ(server_->CountStreamClients(), 0);
    for (Viewer* v : {&a, &b, &c}) {
        ASSERT_TRUE(v->ReadHead());
        EXPECT_FALSE(v->AnythingWithin(500ms));  // closed: end of stream
    }
    server_->StopStreamServer();  // a second stop does nothing
    EXPECT_EQ(traces.Count("client has closed ("), 3);
    EXPECT_EQ(traces.Count("Closing active webcam sockets"), 1);
    Viewer after(port_);
    EXPECT_FALSE(after.Connected());

    ASSERT_GT(server_->StartStreamServer(), 0);  // and it starts again
    Viewer again(server_->ListeningPort());
    EXPECT_TRUE(again.ReadHead());
    server_->StopStreamServer();  // before the trace hooks are put back
}

TEST_F(StreamProtocol, ClientWaitingForItsPasswordIsRemovedWhenItCloses)
{
    camera_.SetPassword("pw");
    StartServer();
    for (int i = 0; i < 20; ++i) {
        Viewer viewer(port_);
        ASSERT_TRUE(viewer.ReadHead());
        ASSERT_TRUE(viewer.ReadChallenge().has_value());
    }  // each closes in order without answering
    EXPECT_TRUE(WaitUntil([&] { return server_->CountStreamClients() == 0; }, 2s)) << server_->CountStreamClients();
}

TEST(StreamThreadFailure, ExceptionEndsTheThreadClientsStayUntilStop)
{
    TraceCapture traces;
    TempDir dir;
    struct FailingCamera final : StreamCamera {
        TestCamera base;
        std::atomic<bool> fail{false};
        explicit FailingCamera(const std::string& d) : base(d) {}
        StreamSettings Settings() const override
        {
            if (fail.load() && streamThread.load() == std::this_thread::get_id()) {
                throw std::runtime_error("settings unreadable");
            }
            return base.Settings();
        }
        int Shots() const override { return 0; }
        int MaxJpg() const override { return 500; }
        std::string PictureDir() const override { return base.PictureDir(); }
        void AddEventText(const std::string&) override {}
        void ApplyStreamThreadPriority() override { streamThread.store(std::this_thread::get_id()); }
        std::atomic<std::thread::id> streamThread{};
    } camera(dir.Path());
    StreamServer server(camera);
    ASSERT_GT(server.StartStreamServer(), 0);
    Viewer viewer(server.ListeningPort());
    ASSERT_TRUE(viewer.ReadHead());
    ASSERT_TRUE(WaitUntil([&] { return server.CountStreamClients() == 1; }));
    camera.fail.store(true);  // the stream thread's next reading of the settings throws
    ASSERT_TRUE(WaitUntil([&] { return traces.Count("Thread jpg end") == 1; }));
    for (const TraceCapture::Line& line : traces.Lines()) {
        if (line.text.find("Thread jpg exception") != std::string::npos) {
            EXPECT_EQ(line.level, 243);
            EXPECT_EQ(line.text.rfind("<COLOR 7>[WARN ] ", 0), 0U) << line.text;
        }
    }
    EXPECT_EQ(traces.Count("Thread jpg exception </COLOR>"), 1);
    EXPECT_EQ(traces.Count("Thread jpg stop "), 0);
    EXPECT_EQ(server.CountStreamClients(), 1);  // the clients stay until the server stops
    const auto start = std::chrono::steady_clock::now();
    server.StopStreamServer();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "no waiting for a thread that has ended";
    EXPECT_EQ(traces.Count("client has closed ("), 1);
    EXPECT_FALSE(viewer.AnythingWithin(300ms));
}

TEST_F(StreamProtocol, PortInUseFailsTheStartWithZeroAndSaysWhy)
{
    TraceCapture traces;
    StartServer();
    TestCamera other(dir_.Path());
    // A second server on the first one's port.
    struct PortCamera final : StreamCamera {
        StreamCamera& base;
        int port;
        PortCamera(StreamCamera& b, int p) : base(b), port(p) {}
        StreamSettings Settings() const override
        {
            StreamSettings s = base.Settings();
            s.port = port;
            return s;
        }
        int Shots() const override { return 0; }
        int MaxJpg() const override { return 500; }
        std::string PictureDir() const override { return base.PictureDir(); }
        void AddEventText(const std::string&) override {}
        void ApplyStreamThreadPriority() override {}
    } busy(other, port_);
    StreamServer clash(busy);
    EXPECT_EQ(clash.StartStreamServer(), 0);
    EXPECT_TRUE(clash.Running());
    EXPECT_FALSE(clash.Listening());
    EXPECT_EQ(traces.Count("Unable to bind socket</COLOR>"), 1);
    // The port and the reason, in the trace and for the status line.
    const std::string why = "port " + std::to_string(port_) + ": Address already in use";
    EXPECT_EQ(clash.OffReason(), why);
    EXPECT_EQ(traces.Count("Stream server off: cannot listen on port " + std::to_string(port_) +
                               " (Address already in use)</COLOR>",
                           kestrel::kLevelWarn),
              1);
    EXPECT_EQ(clash.CountStreamClients(), 0);
    clash.NotifyNewImage(nullptr);  // a server that is off ignores pictures
    clash.StopStreamServer();
    EXPECT_FALSE(clash.Running());
    EXPECT_EQ(clash.OffReason(), why) << "stopping keeps the reason it was off";

    // Once the port is free, starting again (as a reload does) listens.
    server_->StopStreamServer();
    EXPECT_GT(clash.StartStreamServer(), 0);
    EXPECT_TRUE(clash.Listening());
    EXPECT_EQ(clash.OffReason(), "");
    Viewer viewer(port_);
    EXPECT_TRUE(viewer.ReadHead());
    clash.StopStreamServer();
}

}  // namespace
}  // namespace vorlix
