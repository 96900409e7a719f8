// What strangers and bad settings did to the stream server, over real TCP on
// 127.0.0.1: viewers beyond the cap, slow viewers, password guessing, an
// unreadable password and ports that cannot be listened on.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/stream/StreamServer.h"
#include "serveur/stream/tests/StreamTestKit.h"

namespace vorlix {
namespace {

using namespace testkit;
using kestrel::kLevelWarn;

class StreamFaults : public ::testing::Test {
protected:
    void Start(StreamTimings timings = {})
    {
        server_ = std::make_unique<StreamServer>(camera_, timings);
        ASSERT_GT(StartOnFreePort(*server_, camera_), 0);
        port_ = server_->ListeningPort();
    }
    void TearDown() override
    {
        if (server_) {
            server_->StopStreamServer();  // before the trace capture ends
        }
    }

    TraceCapture traces_;
    TempDir dir_{"vorlix_stream"};
    TestCamera camera_{dir_.Path()};
    std::unique_ptr<StreamServer> server_;
    int port_ = 0;
};

// --- Descriptor exhaustion: the viewer cap ---------------------------------

TEST_F(StreamFaults, ViewersBeyondMaxClientsAreRefusedAtOnce)
{
    camera_.SetMaxClients(3);
    WriteFile(dir_.File("last.jpg"), "picture");
    Start();
    std::vector<std::unique_ptr<Viewer>> viewers;
    for (int i = 0; i < 3; ++i) {
        viewers.push_back(std::make_unique<Viewer>(port_));
        ASSERT_TRUE(viewers.back()->ReadHead()) << i;
    }
    ASSERT_TRUE(WaitUntil([&] { return server_->CountStreamClients() == 3; }));
    for (int i = 0; i < 5; ++i) {
        Viewer excess(port_);
        EXPECT_TRUE(excess.ClosedWithin(2s)) << "excess viewer " << i << " was not refused";
    }
    EXPECT_EQ(server_->CountStreamClients(), 3);
    // One warning for the streak, with the limit and the peer.
    EXPECT_EQ(traces_.Count("Viewer limit of 3 reached (\"Max clients\"): 127.0.0.1:", kLevelWarn), 1);

    viewers.pop_back();  // one leaves: the next one is served
    ASSERT_TRUE(WaitUntil([&] { return server_->CountStreamClients() == 2; }));
    Viewer next(port_);
    ASSERT_TRUE(next.ReadHead());
    EXPECT_TRUE(next.ReadFrame().has_value());
    EXPECT_TRUE(traces_.WaitFor("Viewers admitted again after 5 refused at the viewer limit"));
}

TEST_F(StreamFaults, MaxClientsOutsideItsRangeFallsBackToTheDefault)
{
    camera_.SetMaxClients(0);  // what "abc" reads as
    Start();
    EXPECT_EQ(traces_.Count("Max clients 0 outside 1..1000: 100 used", kLevelWarn), 1);
    std::vector<std::unique_ptr<Viewer>> viewers;
    for (int i = 0; i < 5; ++i) {
        viewers.push_back(std::make_unique<Viewer>(port_));
        ASSERT_TRUE(viewers.back()->ReadHead()) << i;
    }
    EXPECT_TRUE(WaitUntil([&] { return server_->CountStreamClients() == 5; }));
}

// --- Slow viewers ---------------------------------------------------------

TEST_F(StreamFaults, AStalledViewerHoldsBackNobodyElse)
{
    camera_.SetFrequency(0);
    Start();
    Viewer reader(port_);
    Viewer stalled(port_, 4096);  // never reads
    ASSERT_TRUE(reader.ReadHead());
    ASSERT_TRUE(WaitUntil([&] { return server_->CountStreamClients() == 2; }));
    const std::string big(std::size_t{12} * 1024 * 1024, 'A');
    WriteFile(dir_.File("a.jpg"), big);
    server_->NotifyNewImage(dir_.File("a.jpg").c_str());
    auto frame = reader.ReadFrame(5s);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->body.size(), big.size());

    // The stalled viewer still has most of A to take; B reaches the reader anyway.
    WriteFile(dir_.File("b.jpg"), "picture B");
    server_->NotifyNewImage(dir_.File("b.jpg").c_str());
    frame = reader.ReadFrame(1s);
    ASSERT_TRUE(frame.has_value()) << "B waited for the stalled viewer";
    EXPECT_EQ(frame->body, "picture B");
    EXPECT_EQ(server_->CountStreamClients(), 2);
}

TEST_F(StreamFaults, AViewerBusyWithAnOlderPictureSkipsToTheNewest)
{
    camera_.SetFrequency(0);
    Start();
    Viewer viewer(port_, 4096);
    ASSERT_TRUE(viewer.ReadHead());
    ASSERT_TRUE(WaitUntil([&] { return server_->CountStreamClients() == 1; }));
    const std::string big(std::size_t{4} * 1024 * 1024, 'A');
    WriteFile(dir_.File("a.jpg"), big);
    server_->NotifyNewImage(dir_.File("a.jpg").c_str());
    ASSERT_TRUE(viewer.AnythingWithin(2s));  // A has begun and waits for the viewer
    for (const char* name : {"b", "c", "d"}) {
        WriteFile(dir_.File(std::string(name) + ".jpg"), std::string("picture ") + name);
        server_->NotifyNewImage(dir_.File(std::string(name) + ".jpg").c_str());
    }
    auto frame = viewer.ReadFrame(4s);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->body.size(), big.size());
    frame = viewer.ReadFrame(2s);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->body, "picture d") << "not the newest picture, or a queue of them";
    EXPECT_FALSE(viewer.AnythingWithin(300ms));
}

TEST_F(StreamFaults, AViewerThatTakesBytesButNotAWholeFrameInTimeIsDropped)
{
    camera_.SetFrequency(0);
    StreamTimings timings;
    timings.frameDeadline = std::chrono::milliseconds(1500);
    Start(timings);
    std::atomic<bool> stop{false};
    std::atomic<long> trickled{0};
    auto slow = std::make_unique<Viewer>(port_, 4096);
    ASSERT_TRUE(slow->ReadHead());
    ASSERT_TRUE(WaitUntil([&] { return server_->CountStreamClients() == 1; }));
    WriteFile(dir_.File("a.jpg"), std::string(std::size_t{4} * 1024 * 1024, 'A'));
    // Takes a little every 100 ms: the transfer never stalls, but a frame of
    // 4 MB would need minutes.
    std::thread trickle([&] {
        while (!stop.load()) {
            std::this_thread::sleep_for(100ms);  // the viewer's pace
            trickled += static_cast<long>(slow->Read(1024, 10ms).size());
        }
    });
    const auto start = std::chrono::steady_clock::now();
    server_->NotifyNewImage(dir_.File("a.jpg").c_str());
    EXPECT_TRUE(WaitUntil([&] { return server_->CountStreamClients() == 0; }, 4s));
    const auto took = std::chrono::steady_clock::now() - start;
    stop.store(true);
    trickle.join();
    EXPECT_GE(took, 1400ms);
    EXPECT_GE(trickled.load(), 10 * 1024) << "the viewer did take bytes meanwhile";
    EXPECT_EQ(traces_.Count("picture not taken within 1500 ms, viewer 127.0.0.1:", kLevelWarn), 1);
}

// --- Password guessing ----------------------------------------------------

TEST_F(StreamFaults, WrongPasswordsDelayTheNextRequestAndTheTenthCloses)
{
    camera_.SetPassword("s3cret");
    StreamTimings timings;
    timings.guesses.firstDelay = std::chrono::milliseconds(10);
    Start(timings);
    Viewer guesser(port_);
    ASSERT_TRUE(guesser.ReadHead());
    const auto challenge = guesser.ReadChallenge();
    ASSERT_TRUE(challenge.has_value());
    std::vector<std::chrono::milliseconds> waits;
    for (int wrong = 1; wrong < 10; ++wrong) {
        const auto sent = std::chrono::steady_clock::now();
        guesser.Send(Viewer::Answer(*challenge, "guess" + std::to_string(wrong)));
        ASSERT_EQ(guesser.ReadChallenge(8s), challenge) << "after wrong answer " << wrong;
        waits.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent));
    }
    for (std::size_t i = 0; i < waits.size(); ++i) {
        EXPECT_GE(waits[i].count(), (10LL << i) - 2) << "delay after wrong answer " << i + 1;
    }
    EXPECT_GT(waits.back(), 2000ms);  // 10 ms doubled eight times
    guesser.Send(Viewer::Answer(*challenge, "guess10"));
    EXPECT_TRUE(guesser.ClosedWithin(2s));
    EXPECT_TRUE(WaitUntil([&] { return server_->CountStreamClients() == 0; }));
    EXPECT_EQ(camera_.CountEvent("password KO for the new client"), 10);
    const std::string peer = "127.0.0.1:" + std::to_string(guesser.LocalPort());
    EXPECT_EQ(traces_.Count("10 wrong passwords from " + peer + ", viewer closed", kLevelWarn), 1);
    EXPECT_EQ(traces_.Count("Wrong password from " + peer + " (", kLevelWarn), 9);
}

TEST_F(StreamFaults, ReconnectingDoesNotResetTheDelay)
{
    camera_.SetPassword("s3cret");
    StreamTimings timings;
    timings.guesses.firstDelay = std::chrono::milliseconds(400);
    Start(timings);
    {
        Viewer first(port_);
        ASSERT_TRUE(first.ReadHead());
        const auto challenge = first.ReadChallenge();
        ASSERT_TRUE(challenge.has_value());
        first.Send(Viewer::Answer(*challenge, "wrong"));
        ASSERT_TRUE(traces_.WaitFor("Wrong password from 127.0.0.1:"));
    }  // gives up and comes back at once
    const auto again = std::chrono::steady_clock::now();
    Viewer second(port_);
    ASSERT_TRUE(second.ReadHead());  // the head at once
    EXPECT_FALSE(second.AnythingWithin(200ms)) << "the request came before the delay was over";
    const auto challenge = second.ReadChallenge(2s);
    ASSERT_TRUE(challenge.has_value());
    EXPECT_GE(std::chrono::steady_clock::now() - again, 300ms);
    // The right password still gets in.
    WriteFile(dir_.File("last.jpg"), "welcome");
    second.Send(Viewer::Answer(*challenge, "s3cret"));
    const auto frame = second.ReadFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->body, "welcome");
}

// --- Unreadable password: fail closed -------------------------------------

TEST_F(StreamFaults, UnreadablePasswordRefusesEveryViewerAndSaysWhy)
{
    camera_.SetPasswordUnreadable(true);
    WriteFile(dir_.File("last.jpg"), "private picture");
    server_ = std::make_unique<StreamServer>(camera_);
    EXPECT_EQ(server_->StartStreamServer(), 0);
    EXPECT_FALSE(server_->Listening());
    EXPECT_NE(server_->OffReason().find("\"Authentification client\""), std::string::npos) << server_->OffReason();
    EXPECT_EQ(traces_.Count("Stream server off: the stream password", kLevelWarn), 1);
    Viewer viewer(camera_.Settings().port);
    EXPECT_FALSE(viewer.Connected() && viewer.AnythingWithin(300ms)) << "a viewer was served";
    EXPECT_EQ(server_->CountStreamClients(), 0);
}

// --- Ports that cannot be listened on -------------------------------------

TEST_F(StreamFaults, PortOutsideTheRangeIsRefusedWithAClearLine)
{
    for (const int port : {0, -5, 65536, 70000}) {
        camera_.SetPort(port);
        StreamServer server(camera_);
        EXPECT_EQ(server.StartStreamServer(), 0) << port;
        EXPECT_FALSE(server.Listening());
        EXPECT_EQ(server.ListeningPort(), 0) << "listened on a port nobody asked for";
        EXPECT_EQ(server.OffReason(), "port " + std::to_string(port) + " is outside 1..65535");
        EXPECT_EQ(traces_.Count("Port Web client " + std::to_string(port) +
                                    " is outside 1..65535: the stream server is off</COLOR>",
                                kLevelWarn),
                  1);
        EXPECT_FALSE(traces_.Contains("Unable to bind socket"));
    }
}

}  // namespace
}  // namespace vorlix
