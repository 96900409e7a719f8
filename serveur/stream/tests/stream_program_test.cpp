// The server program as strangers meet it on 127.0.0.1: a flood of
// connections under a low descriptor limit, a slow viewer beside ten normal
// ones, password guessing, an unreadable password and a busy port. Each test
// prints the figures it measured.
//
// VORLIX_TEST_PROGRAM runs the same tests against another build of the server.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/ChildProcess.h"
#include "libkestrel/testkit/Children.h"
#include "serveur/scrambler/PasswordScrambler.h"
#include "serveur/stream/tests/StreamTestKit.h"

namespace vorlix {
namespace {

using namespace testkit;
using Clock = std::chrono::steady_clock;
namespace profile = kestrel::profile;

std::string Program()
{
    const char* other = std::getenv("VORLIX_TEST_PROGRAM");
    return other != nullptr && *other != '\0' ? other : VORLIX_PROGRAM;
}

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// The newest modification time of the pictures in `dir`, in nanoseconds.
long long NewestPicture(const std::string& dir)
{
    long long newest = 0;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ignored)) {
        struct stat info {};
        if (entry.path().extension() == ".jpg" && ::stat(entry.path().c_str(), &info) == 0) {
            newest = std::max(newest, info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec);
        }
    }
    return newest;
}

class StreamProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        port_ = kestrel::test::FreeLoopbackPort();
        ini_ = dir_.File("Vorlix.ini");
        profile::WriteInt(ini_, "Vorlix", "Port Web client", port_);
    }
    void Launch(int maxDescriptors = 0, bool verbose = false)
    {
        std::vector<std::string> args{"--headless"};
        if (verbose) {
            args.emplace_back("--verbose");
            profile::WriteInt(ini_, "Vorlix", "Trace level", 1);
        }
        server_ = std::make_unique<kestrel::test::ChildProcess>(
            Program(), dir_.Path(), args, kestrel::test::ChildOptions{.maxDescriptors = maxDescriptors});
        ASSERT_TRUE(server_->Started());
    }
    // Waits until a viewer gets the head and a whole frame.
    bool FrameFlows(std::chrono::milliseconds limit)
    {
        return WaitUntil(
            [&] {
                Viewer viewer(port_);
                return viewer.Connected() && viewer.ReadHead() && viewer.ReadFrame(1s).has_value();
            },
            limit, 100ms);
    }
    void TearDown() override
    {
        if (server_ && server_->Running()) {
            EXPECT_EQ(server_->Stop(), 0) << server_->Stderr();
        }
    }

    TempDir dir_{"vorlix_stream_program"};
    std::string ini_;
    int port_ = 0;
    std::unique_ptr<kestrel::test::ChildProcess> server_;
};

// Opens `count` connections without waiting for them to be accepted.
std::vector<kestrel::UniqueFd> OpenConnections(int port, int count)
{
    std::vector<kestrel::UniqueFd> fds;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    for (int i = 0; i < count; ++i) {
        kestrel::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!fd) {
            break;
        }
        if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
            errno != EINPROGRESS) {
            break;  // refused at once: it would not count against the server
        }
        fds.push_back(std::move(fd));
    }
    return fds;
}

TEST_F(StreamProgram, DescriptorFloodLeavesPicturesAndViewersFlowing)
{
    Launch(64);
    ASSERT_TRUE(FrameFlows(10s)) << server_->Stderr();
    const pid_t stream = server_->ThreadNamed("vorlix-stream");
    ASSERT_NE(stream, 0) << "no stream thread";
    const std::string pictures = dir_.File("files");

    // 1,100 connections opened by a stranger, kept a second, then closed.
    const auto cpuBefore = server_->ThreadCpu(stream);
    const auto floodStart = Clock::now();
    std::vector<kestrel::UniqueFd> flood = OpenConnections(port_, 1100);
    ASSERT_EQ(flood.size(), 1100U);
    std::this_thread::sleep_for(1s);  // the flood lasts this long
    const int serverDescriptors = server_->OpenDescriptors();
    flood.clear();
    const auto floodEnd = Clock::now();
    const auto cpuFlood = server_->ThreadCpu(stream) - cpuBefore;
    const long long picturesAtEnd = NewestPicture(pictures);

    // Within seconds pictures are written and a fresh viewer is served.
    EXPECT_TRUE(WaitUntil([&] { return NewestPicture(pictures) > picturesAtEnd; }, 5s, 50ms))
        << "no picture written after the flood\n"
        << server_->Stderr();
    EXPECT_TRUE(FrameFlows(5s)) << "no viewer served after the flood\n" << server_->Stderr();

    // The stream thread rests once the stranger has gone.
    const auto cpuAfterStart = server_->ThreadCpu(stream);
    const auto afterStart = Clock::now();
    std::this_thread::sleep_for(5s);  // the span whose CPU time is measured
    const auto cpuAfter = server_->ThreadCpu(stream) - cpuAfterStart;
    const double during = Seconds(cpuFlood) / Seconds(floodEnd - floodStart);
    const double after = Seconds(cpuAfter) / Seconds(Clock::now() - afterStart);
    std::printf(
        "stream thread CPU: %.0f%% during the flood (%.1f s), %.0f%% in the 5 s after; "
        "descriptors open during the flood: %d (limit 64)\n",
        during * 100, Seconds(floodEnd - floodStart), after * 100, serverDescriptors);
    EXPECT_LT(after, 0.10) << "the stream thread keeps spinning";
    EXPECT_LT(during, 0.90);
    EXPECT_TRUE(server_->Running());
}

TEST_F(StreamProgram, SlowViewerDoesNotSlowDownTenOthers)
{
    // Larger pictures fill what the kernel holds for the slow viewer sooner.
    profile::WriteInt(ini_, "Vorlix", "Quality jpg", 100);
    Launch();
    ASSERT_TRUE(FrameFlows(10s)) << server_->Stderr();
    constexpr int kReaders = 10;
    std::atomic<bool> stop{false};
    std::vector<std::atomic<int>> frames(kReaders);
    std::vector<std::thread> readers;
    readers.reserve(kReaders);
    for (int i = 0; i < kReaders; ++i) {
        readers.emplace_back([&, i] {
            Viewer viewer(port_);
            if (!viewer.ReadHead()) {
                return;
            }
            while (!stop.load()) {
                if (viewer.ReadFrame(1s)) {
                    ++frames[static_cast<std::size_t>(i)];
                }
            }
        });
    }
    const auto total = [&] {
        int sum = 0;
        for (const auto& f : frames) {
            sum += f.load();
        }
        return sum;
    };
    EXPECT_TRUE(WaitUntil(
        [&] { return std::all_of(frames.begin(), frames.end(), [](const auto& f) { return f.load() > 0; }); }, 5s))
        << "the readers were not served";
    const int beforeAlone = total();
    std::this_thread::sleep_for(3s);  // measured span without the slow viewer
    const double alone = (total() - beforeAlone) / 3.0 / kReaders;

    // The slow viewer: a small window, 4 KB taken every 2 seconds.
    std::atomic<bool> slowClosed{false};
    const auto slowStart = Clock::now();
    std::thread slow([&] {
        Viewer viewer(port_, 4096);
        while (!stop.load() && !slowClosed.load()) {
            pollfd state{viewer.Socket(), 0, 0};
            if (::poll(&state, 1, 2000) > 0) {  // the viewer's pace, or the server's reset
                slowClosed.store(true);
            } else {
                viewer.Read(4096, 50ms);
            }
        }
    });
    std::this_thread::sleep_for(500ms);  // it connects and stalls
    const int beforeSlow = total();
    std::this_thread::sleep_for(4s);  // measured span beside the slow viewer
    const double beside = (total() - beforeSlow) / 4.0 / kReaders;
    const bool dropped = WaitUntil([&] { return slowClosed.load(); }, 10s);
    const auto droppedAt = Clock::now();
    stop.store(true);
    for (auto& reader : readers) {
        reader.join();
    }
    slow.join();
    std::printf(
        "normal viewers: %.2f pictures/s each alone, %.2f beside a slow viewer; slow viewer dropped after "
        "%.1f s\n",
        alone, beside, dropped ? Seconds(droppedAt - slowStart) : -1.0);
    EXPECT_GT(alone, 2.0);
    EXPECT_GE(beside, alone * 0.75) << "the slow viewer throttled the others";
    EXPECT_TRUE(dropped) << "the slow viewer was never given up";
}

TEST_F(StreamProgram, PasswordGuessesAreSlowedDownPerAddress)
{
    std::string scrambled;
    ASSERT_TRUE(ScramblePassword("s3cret", "Authentification client", scrambled));
    profile::WriteString(ini_, "Vorlix", "Authentification client", scrambled);
    Launch(0, true);
    std::unique_ptr<Viewer> guesser;
    ASSERT_TRUE(WaitUntil(
        [&] {
            guesser = std::make_unique<Viewer>(port_);
            return guesser->Connected();
        },
        10s, 50ms));
    ASSERT_TRUE(guesser->ReadHead());
    auto challenge = guesser->ReadChallenge();
    ASSERT_TRUE(challenge.has_value());

    // Answer every request with a wrong password as fast as requests come.
    const auto start = Clock::now();
    int guesses = 0;
    while (Clock::now() - start < 3500ms && challenge) {
        guesser->Send(Viewer::Answer(*challenge, "guess" + std::to_string(guesses)));
        ++guesses;
        challenge = guesser->ReadChallenge(
            std::chrono::duration_cast<std::chrono::milliseconds>(3500ms - (Clock::now() - start)));
    }
    const double rate = guesses / Seconds(Clock::now() - start);
    std::printf("password guesses accepted on one connection: %d in %.1f s (%.2f per second)\n", guesses,
                Seconds(Clock::now() - start), rate);
    EXPECT_LE(guesses, 3);  // at 0, 1 and 3 seconds

    // A new connection from the same address does not start afresh.
    Viewer again(port_);
    ASSERT_TRUE(again.ReadHead());
    EXPECT_FALSE(again.AnythingWithin(1s)) << "a new connection got its password request at once";
    EXPECT_TRUE(WaitUntil(
        [&] {
            return server_->Stderr().find("Wrong password from 127.0.0.1:" + std::to_string(guesser->LocalPort())) !=
                   std::string::npos;
        },
        2s))
        << server_->Stderr();
}

TEST_F(StreamProgram, UnreadablePasswordKeepsTheStreamClosed)
{
    profile::WriteString(ini_, "Vorlix", "Authentification client", "secret");  // written by hand, not scrambled
    Launch(0, true);
    ASSERT_TRUE(WaitUntil([&] { return server_->Stderr().find("Stream server off") != std::string::npos; }, 10s))
        << server_->Stderr();
    EXPECT_NE(server_->Stderr().find("\"Authentification client\""), std::string::npos) << server_->Stderr();
    Viewer viewer(port_);
    EXPECT_FALSE(viewer.Connected() && viewer.ReadHead()) << "a viewer was let in without the password";
}

TEST_F(StreamProgram, BusyPortIsNamedWithTheReason)
{
    kestrel::UniqueFd holder(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    ASSERT_EQ(::bind(holder.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder.Get(), 1), 0);
    Launch(0, true);
    const std::string expected =
        "Stream server off: cannot listen on port " + std::to_string(port_) + " (Address already in use)";
    EXPECT_TRUE(WaitUntil([&] { return server_->Stderr().find(expected) != std::string::npos; }, 10s))
        << server_->Stderr();
    // The message box text stays as it was.
    EXPECT_NE(server_->Stderr().find("error during server installation"), std::string::npos) << server_->Stderr();
}

}  // namespace
}  // namespace vorlix
