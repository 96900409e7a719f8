// Many viewers: a stalled one does not stop the others, and viewers coming
// and going leave no descriptor and no thread behind.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "serveur/stream/StreamServer.h"
#include "serveur/stream/tests/StreamTestKit.h"

namespace vorlix {
namespace {

using namespace testkit;

TEST(StreamViewersLoad, StalledViewerIsDroppedAndTenOthersKeepReceiving)
{
    TraceCapture traces;
    TempDir dir;
    TestCamera camera(dir.Path());
    camera.SetFrequency(0);
    StreamServer server(camera);
    ASSERT_GT(StartOnFreePort(server, camera), 0);
    const int port = server.ListeningPort();

    Viewer stalled(port, 4096);  // connected, never reads
    std::atomic<bool> stop{false};
    std::vector<std::atomic<int>> frames(10);
    std::vector<std::atomic<int>> bad(10);
    std::vector<std::thread> readers;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        readers.emplace_back([&, i] {
            Viewer viewer(port);
            if (!viewer.ReadHead()) {
                ++bad[i];
                return;
            }
            while (!stop.load()) {
                const auto frame = viewer.ReadFrame(8s);
                if (!frame) {
                    continue;
                }
                const bool jpeg = frame->body.size() > 4 && frame->body.substr(0, 2) == "\xFF\xD8";
                (jpeg ? frames[i] : bad[i])++;
            }
        });
    }
    EXPECT_TRUE(WaitUntil([&] { return server.CountStreamClients() == 11; }, 5s));  // threads run: no early return

    // Large pictures fill the stalled viewer's buffers within a few frames.
    const std::string picture = MakeJpeg(1280, 960, 3) + std::string(1500000, '\0');
    const std::string path = dir.File("big.jpg");
    WriteFile(path, picture);
    const auto start = std::chrono::steady_clock::now();
    // Each reader goes at its own pace: what counts is what each one gets
    // after the stalled viewer is gone.
    std::vector<int> atDrop;
    const auto gained = [&](int least) {
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (frames[i].load() < atDrop[i] + least) {
                return false;
            }
        }
        return true;
    };
    for (int n = 0; n < 400 && std::chrono::steady_clock::now() - start < 12s; ++n) {
        server.NotifyNewImage(path.c_str());
        std::this_thread::sleep_for(40ms);  // a camera's pace: 25 pictures a second
        if (atDrop.empty() && server.CountStreamClients() == 10) {
            for (const auto& f : frames) {
                atDrop.push_back(f.load());
            }
        }
        if (!atDrop.empty() && gained(5)) {
            break;
        }
    }
    stop.store(true);
    server.StopStreamServer();  // ends the readers' streams
    for (auto& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(traces.Count("picture not taken within 5000 ms, viewer 127.0.0.1:" + std::to_string(stalled.LocalPort()) +
                           " closed</COLOR>"),
              1);
    ASSERT_FALSE(atDrop.empty()) << "the stalled viewer was never dropped";
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_GE(frames[i].load(), atDrop[i] + 3) << "viewer " << i;
        EXPECT_EQ(bad[i].load(), 0) << "viewer " << i;
    }
}

TEST(StreamViewersLoad, TwoHundredViewersComingAndGoingLeaveNothingBehind)
{
    TempDir dir;
    TestCamera camera(dir.Path());
    camera.SetFrequency(0);
    WriteFile(dir.File("last.jpg"), MakeJpeg(80, 60, 5));
    const int descriptorsBefore = OpenDescriptors();
    const int threadsBefore = ThreadCount();
    {
        StreamServer server(camera);
        ASSERT_GT(StartOnFreePort(server, camera), 0);
        const int port = server.ListeningPort();
        for (int i = 0; i < 200; ++i) {
            Viewer viewer(port);
            ASSERT_TRUE(viewer.ReadHead()) << i;
            ASSERT_TRUE(viewer.ReadFrame().has_value()) << i;
            if (i % 2 == 0) {
                viewer.Reset();
            }  // odd ones close in order at the end of the scope
            if (i % 25 == 0) {
                server.NotifyNewImage(nullptr);
            }
        }
        // Closed peers are noticed without any send to them.
        EXPECT_TRUE(WaitUntil([&] { return server.CountStreamClients() == 0; }, 2s)) << server.CountStreamClients();
        // The listening socket and its spare, the wake-up, the spare for reading pictures.
        EXPECT_EQ(OpenDescriptors(), descriptorsBefore + 4);
        EXPECT_EQ(ThreadCount(), threadsBefore + 1);  // the stream thread
        server.StopStreamServer();
        EXPECT_EQ(ThreadCount(), threadsBefore);
    }
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
}

}  // namespace
}  // namespace vorlix
