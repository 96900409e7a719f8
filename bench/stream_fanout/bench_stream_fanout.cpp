// 30 KB pictures notified at 25 per second to 1, 10 and 100 viewers on
// loopback. For each picture and viewer: the time from the notification to
// the frame's last byte at the viewer; and the CPU time the sending side
// spent per delivered megabyte. Beside it, in the same run, a plain loop
// that writes the same bytes into the same number of sockets.
//
// Counters: p50_ms and p99_ms (latency), cpu_ms_per_MB (process CPU minus
// the viewers' reading thread), delivered (share of picture x viewer pairs
// that arrived; a viewer still taking a picture skips to the newest).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/kit/BenchKit.h"
#include "libkestrel/testkit/Children.h"
#include "serveur/stream/StreamServer.h"
#include "serveur/stream/StreamWire.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kPictureBytes = std::size_t{30} * 1024;
constexpr int kPictures = 75;  // 3 seconds at 25 per second
constexpr auto kPeriod = std::chrono::milliseconds(40);

struct BenchCamera final : vorlix::StreamCamera {
    std::string dir;
    int port = kestrel::test::FreeLoopbackPort();
    vorlix::StreamSettings Settings() const override { return {port, "", 0}; }
    int Shots() const override { return 0; }
    int MaxJpg() const override { return 500; }
    std::string PictureDir() const override { return dir; }
    void AddEventText(const std::string&) override {}
    void ApplyStreamThreadPriority() override {}
};

std::int64_t Nanos(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// The pictures: a number in the first four bytes, noise after.
std::vector<std::string> MakePictures()
{
    std::mt19937 random(7);
    std::vector<std::string> pictures;
    for (int i = 0; i < kPictures; ++i) {
        std::string bytes(kPictureBytes, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random());
        }
        std::memcpy(bytes.data(), &i, sizeof i);
        pictures.push_back(std::move(bytes));
    }
    return pictures;
}

// Reads every viewer's stream with one poll loop; notes when each frame's
// last byte arrived, by the picture number it carries.
class Viewers {
public:
    explicit Viewers(std::vector<kestrel::UniqueFd> fds) : fds_(std::move(fds)), states_(fds_.size()) {}

    void Run(const std::vector<std::atomic<std::int64_t>>& notified, std::atomic<bool>& stop)
    {
        const std::size_t header = vorlix::LiveFrameHeader(kPictureBytes).size();
        const std::size_t frame = header + kPictureBytes + 2;
        std::vector<pollfd> entries;
        for (const kestrel::UniqueFd& fd : fds_) {
            entries.push_back(pollfd{fd.Get(), POLLIN, 0});
        }
        std::vector<char> buffer(std::size_t{256} * 1024);
        const double cpuStart = vorlix::bench::ThreadCpuMs();
        while (!stop.load() || Clock::now() < drainUntil_) {
            if (::poll(entries.data(), entries.size(), 20) <= 0) {
                continue;
            }
            for (std::size_t v = 0; v < entries.size(); ++v) {
                if ((entries[v].revents & POLLIN) == 0) {
                    continue;
                }
                const ssize_t got = ::recv(fds_[v].Get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
                if (got <= 0) {
                    entries[v].fd = -1;
                    continue;
                }
                State& s = states_[v];
                for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
                    const std::size_t take = std::min<std::size_t>(
                        static_cast<std::size_t>(got) - at, (s.inHead ? vorlix::kResponseHead.size() : frame) - s.pos);
                    if (!s.inHead) {  // picture number: body bytes 0..3
                        for (std::size_t i = 0; i < take; ++i) {
                            const std::size_t p = s.pos + i;
                            if (p >= header && p < header + 4) {
                                s.number[p - header] = buffer[at + i];
                            }
                        }
                    }
                    s.pos += take;
                    at += take;
                    if (s.inHead && s.pos == vorlix::kResponseHead.size()) {
                        s.inHead = false;
                        s.pos = 0;
                    } else if (!s.inHead && s.pos == frame) {
                        int number = 0;
                        std::memcpy(&number, s.number, sizeof number);
                        if (number >= 0 && number < kPictures) {
                            const std::int64_t took = Nanos(Clock::now()) - notified[static_cast<std::size_t>(number)];
                            latencies_.push_back(static_cast<double>(took) / 1e6);
                        }
                        s.pos = 0;
                    }
                }
            }
        }
        cpuMs_ = vorlix::bench::ThreadCpuMs() - cpuStart;
    }
    void DrainFor(std::chrono::milliseconds span) { drainUntil_ = Clock::now() + span; }

    std::vector<double> latencies_;
    double cpuMs_ = 0;

private:
    struct State {
        bool inHead = true;
        std::size_t pos = 0;
        char number[4] = {};
    };
    std::vector<kestrel::UniqueFd> fds_;
    std::vector<State> states_;
    Clock::time_point drainUntil_{};
};

void Report(benchmark::State& state, std::vector<double> latencies, double sendCpuMs, int viewers)
{
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) {
        return latencies.empty()
                   ? 0.0
                   : latencies[std::min(latencies.size() - 1,
                                        static_cast<std::size_t>(q * static_cast<double>(latencies.size())))];
    };
    const double megabytes = static_cast<double>(latencies.size()) * kPictureBytes / 1e6;
    state.counters["viewers"] = viewers;
    state.counters["p50_ms"] = at(0.50);
    state.counters["p99_ms"] = at(0.99);
    state.counters["cpu_ms_per_MB"] = megabytes > 0 ? sendCpuMs / megabytes : 0;
    state.counters["delivered"] = static_cast<double>(latencies.size()) / (static_cast<double>(viewers) * kPictures);
}

// Runs the readers while `send(i)` is called for every picture at 25 per second.
template <class Send>
void Drive(benchmark::State& state, std::vector<kestrel::UniqueFd> fds, Send send)
{
    const int viewers = static_cast<int>(fds.size());
    std::vector<std::atomic<std::int64_t>> notified(kPictures);
    std::atomic<bool> stop{false};
    Viewers readers(std::move(fds));
    std::thread reader([&] { readers.Run(notified, stop); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // heads read, connections settled

    const double cpuStart = vorlix::bench::ProcessCpuMs();
    auto next = Clock::now();
    for (int i = 0; i < kPictures; ++i) {
        std::this_thread::sleep_until(next);
        notified[static_cast<std::size_t>(i)].store(Nanos(Clock::now()));
        send(i);
        next += kPeriod;
    }
    readers.DrainFor(std::chrono::milliseconds(500));
    stop.store(true);
    reader.join();
    const double sendCpuMs = vorlix::bench::ProcessCpuMs() - cpuStart - readers.cpuMs_;
    Report(state, readers.latencies_, sendCpuMs, viewers);
}

void BM_StreamServer(benchmark::State& state)
{
    const int viewers = static_cast<int>(state.range(0));
    const std::vector<std::string> pictures = MakePictures();
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("stream_fanout_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::vector<std::string> paths;
    for (int i = 0; i < kPictures; ++i) {
        paths.push_back((dir / ("pic_" + std::to_string(i) + ".jpg")).string());
        std::ofstream(paths.back(), std::ios::binary)
            .write(pictures[static_cast<std::size_t>(i)].data(), kPictureBytes);
    }
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop
        BenchCamera camera;
        camera.dir = dir.string();  // no last.jpg: a new viewer gets only the head
        vorlix::StreamServer server(camera);
        if (server.StartStreamServer() <= 0) {
            state.SkipWithError(("stream server not started: " + server.OffReason()).c_str());
            break;
        }
        std::vector<kestrel::UniqueFd> fds;
        fds.reserve(static_cast<std::size_t>(viewers));
        for (int v = 0; v < viewers; ++v) {
            fds.push_back(vorlix::bench::ConnectLoopback(server.ListeningPort()));
        }
        const auto connected = Clock::now() + std::chrono::seconds(10);
        while (server.CountStreamClients() < viewers && Clock::now() < connected) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        Drive(state, std::move(fds), [&](int i) { server.NotifyNewImage(paths[static_cast<std::size_t>(i)].c_str()); });
        server.StopStreamServer();
    }
    std::filesystem::remove_all(dir);
}

void BM_PlainLoop(benchmark::State& state)
{
    const int viewers = static_cast<int>(state.range(0));
    const std::vector<std::string> pictures = MakePictures();
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop
        int port = 0;
        const kestrel::UniqueFd listener = vorlix::bench::ListenLoopback(1024, port);
        if (!listener) {
            state.SkipWithError("no listening socket");
            break;
        }
        std::vector<kestrel::UniqueFd> fds;
        std::vector<kestrel::UniqueFd> senders;
        for (int v = 0; v < viewers; ++v) {
            fds.push_back(vorlix::bench::ConnectLoopback(port));
            senders.emplace_back(::accept(listener.Get(), nullptr, nullptr));
            ::send(senders.back().Get(), vorlix::kResponseHead.data(), vorlix::kResponseHead.size(), MSG_NOSIGNAL);
        }
        const std::string header = vorlix::LiveFrameHeader(kPictureBytes);
        Drive(state, std::move(fds), [&](int i) {
            std::string frame = header + pictures[static_cast<std::size_t>(i)] + "\r\n";
            for (const kestrel::UniqueFd& fd : senders) {
                for (std::size_t sent = 0; sent < frame.size();) {
                    const ssize_t n = ::send(fd.Get(), frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
                    if (n <= 0) {
                        break;
                    }
                    sent += static_cast<std::size_t>(n);
                }
            }
        });
    }
}

}  // namespace

BENCHMARK(BM_StreamServer)->Arg(1)->Arg(10)->Arg(100)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainLoop)->Arg(1)->Arg(10)->Arg(100)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
