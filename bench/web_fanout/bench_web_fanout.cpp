// 50 browsers (and 1, 10) reading the web view's /live.mjpg at 5 pictures a
// second for 3 seconds, a 640 x 480 moving scene offered at 25 frames a
// second. Beside it, in the same run, a plain loop that writes the same
// number of bytes of the same picture size to as many sockets at the same
// pace.
//
// Counters: encodes (JPEG compressions made), pictures_per_viewer (parts
// each viewer received, on average), encodes_per_picture (encodes divided
// by the pictures one viewer received: 1 when every viewer shares each
// encode), cpu_ms_per_MB (process CPU minus the readers' and the camera
// feeder's threads, per megabyte delivered), send_cpu_ms_per_MB (the same
// without the compressing thread: what sending costs, to hold beside the
// plain loop's cpu_ms_per_MB), encode_ms (CPU per compression), MB.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/kit/BenchKit.h"
#include "serveur/web/WebView.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr auto kWarmUp = 1s;  // connections made, threads and buffers in place
constexpr auto kRun = 3s;
constexpr int kWidth = 640, kHeight = 480;
constexpr std::string_view kBoundary = "--vorlixframe";

// Reads every socket until the run ends; counts bytes and stream parts.
struct Readers {
    std::vector<int> fds;
    std::vector<std::string> tails;
    long long bytes = 0;
    long long parts = 0;
    double cpuMs = 0;
    Clock::time_point from;  // what comes before is not counted
    std::thread thread;

    void Start(Clock::time_point measureFrom)
    {
        from = measureFrom;
        tails.assign(fds.size(), {});
        thread = std::thread([this] {
            double start = -1;
            std::vector<pollfd> polls;
            for (const int fd : fds) {
                polls.push_back({fd, POLLIN, 0});
            }
            std::vector<char> buffer(std::size_t{256} * 1024);
            const auto end = from + kRun;
            while (Clock::now() < end) {
                if (start < 0 && Clock::now() >= from) {
                    start = vorlix::bench::ThreadCpuMs();
                    bytes = 0;
                    parts = 0;
                }
                if (::poll(polls.data(), polls.size(), 50) <= 0) {
                    continue;
                }
                for (std::size_t i = 0; i < polls.size(); ++i) {
                    if ((polls[i].revents & (POLLIN | POLLHUP)) == 0) {
                        continue;
                    }
                    const ssize_t n = ::recv(polls[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
                    if (n <= 0) {
                        polls[i].fd = -1;
                        continue;
                    }
                    bytes += n;
                    // A boundary may straddle two reads: the last bytes of
                    // the previous read (too few to hold one) go in front.
                    std::string joined = tails[i];
                    joined.append(buffer.data(), static_cast<std::size_t>(n));
                    for (std::size_t at = joined.find(kBoundary); at != std::string::npos;
                         at = joined.find(kBoundary, at + 1)) {
                        ++parts;
                    }
                    tails[i] = joined.substr(joined.size() - std::min(kBoundary.size() - 1, joined.size()));
                }
            }
            cpuMs = vorlix::bench::ThreadCpuMs() - start;
        });
    }
    void Join()
    {
        thread.join();
        for (const int fd : fds) {
            ::close(fd);
        }
    }
};

// The camera: frames at 25 a second, handed over as the capture thread does.
struct Camera {
    vorlix::DetectionConsumer& consumer;
    std::atomic<bool> stop{false};
    double cpuMs = 0;
    Clock::time_point from;
    std::thread thread;

    Camera(vorlix::DetectionConsumer& c, Clock::time_point measureFrom) : consumer(c), from(measureFrom)
    {
        thread = std::thread([this] {
            double start = -1;
            std::vector<std::uint8_t> frame(static_cast<std::size_t>(kWidth) * kHeight * 3);
            auto next = Clock::now();
            for (int n = 0; !stop.load(); ++n) {
                if (start < 0 && Clock::now() >= from) {
                    start = vorlix::bench::ThreadCpuMs();
                }
                if (consumer.WantsLiveFrame()) {
                    for (std::size_t i = 0; i < frame.size(); ++i) {
                        // A gradient that moves, with a fine texture as a camera has.
                        const std::size_t noise = (i * 2654435761U) >> 27;
                        frame[i] = static_cast<std::uint8_t>(
                            (i / 3 % kWidth + i / 3 / kWidth + static_cast<std::size_t>(n) * 8 + noise) & 0xFF);
                    }
                    vorlix::FramePicture picture;
                    picture.rgb = frame;
                    picture.width = kWidth;
                    picture.height = kHeight;
                    consumer.OnLiveFrame(picture);
                }
                next += 40ms;
                std::this_thread::sleep_until(next);
            }
            cpuMs = vorlix::bench::ThreadCpuMs() - start;
        });
    }
    void Stop()
    {
        stop.store(true);
        if (thread.joinable()) {
            thread.join();
        }
    }
    ~Camera() { Stop(); }
};

double g_pictureBytes = 0;  // the live picture's size, for the plain loop

void BM_WebLiveViewers(benchmark::State& state)
{
    const int viewers = static_cast<int>(state.range(0));
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop
        vorlix::web::WebView view([] { return vorlix::web::CameraStatus{true, false, 0}; });
        vorlix::web::WebViewConfig config;
        config.settings.management = true;
        config.settings.port = 0;
        config.settings.bind = "127.0.0.1";
        config.settings.fps = 5;
        config.settings.maxViewers = 100;
        config.quality = 80;
        if (!view.Configure(config)) {
            state.SkipWithError("web view not started");
            return;
        }
        const auto measureFrom = Clock::now() + kWarmUp;
        Camera camera(view, measureFrom);
        Readers readers;
        const std::string request = "GET /live.mjpg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        for (int i = 0; i < viewers; ++i) {
            const int fd = vorlix::bench::ConnectLoopback(view.Port());
            if (fd < 0 || ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
                state.SkipWithError("viewer not connected");
                return;
            }
            readers.fds.push_back(fd);
        }
        readers.Start(measureFrom);
        std::this_thread::sleep_until(measureFrom);
        const double cpuStart = vorlix::bench::ProcessCpuMs();
        const std::uint64_t encodesStart = view.Frames().Encodes();
        const auto encodeCpuStart = view.Frames().EncoderCpu();
        readers.Join();
        camera.Stop();
        const double cpuMs = vorlix::bench::ProcessCpuMs() - cpuStart - readers.cpuMs;
        const auto encodes = static_cast<double>(view.Frames().Encodes() - encodesStart);
        const double encodeMs =
            std::chrono::duration<double, std::milli>(view.Frames().EncoderCpu() - encodeCpuStart).count();
        if (auto newest = view.Frames().Newest()) {
            g_pictureBytes = static_cast<double>(newest->bytes.size());
        }
        view.Stop();
        const double serverCpu = cpuMs - camera.cpuMs;
        const double megabytes = static_cast<double>(readers.bytes) / (1024.0 * 1024.0);
        const double perViewer = static_cast<double>(readers.parts) / viewers;
        state.counters["encodes"] = encodes;
        state.counters["pictures_per_viewer"] = perViewer;
        state.counters["encodes_per_picture"] = perViewer > 0 ? encodes / perViewer : 0;
        state.counters["cpu_ms_per_MB"] = megabytes > 0 ? serverCpu / megabytes : 0;
        state.counters["send_cpu_ms_per_MB"] = megabytes > 0 ? (serverCpu - encodeMs) / megabytes : 0;
        state.counters["encode_ms"] = encodes > 0 ? encodeMs / encodes : 0;
        state.counters["MB"] = megabytes;
    }
}

// The same bytes to as many sockets from one thread at the same pace: what
// sending alone costs.
void BM_PlainSendLoop(benchmark::State& state)
{
    const int viewers = static_cast<int>(state.range(0));
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener, 128) != 0) {
            state.SkipWithError("no listening socket");
            ::close(listener);
            return;
        }
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        Readers readers;
        std::vector<int> senders;
        for (int i = 0; i < viewers; ++i) {
            readers.fds.push_back(vorlix::bench::ConnectLoopback(ntohs(address.sin_port)));
            senders.push_back(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        }
        const std::size_t size = g_pictureBytes > 0 ? static_cast<std::size_t>(g_pictureBytes) : 60000;
        const std::string picture = std::string(kBoundary) + "\r\n" + std::string(size, 'x') + "\r\n";
        const auto measureFrom = Clock::now();
        const double cpuStart = vorlix::bench::ProcessCpuMs();
        readers.Start(measureFrom);
        std::vector<std::size_t> offsets(senders.size(), picture.size());
        const auto end = Clock::now() + kRun;
        auto next = Clock::now();
        while (Clock::now() < end) {
            if (Clock::now() >= next) {
                std::fill(offsets.begin(), offsets.end(), 0);  // a new picture every 200 ms
                next += 200ms;
            }
            std::vector<pollfd> polls;
            for (std::size_t i = 0; i < senders.size(); ++i) {
                if (offsets[i] < picture.size()) {
                    polls.push_back({senders[i], POLLOUT, static_cast<short>(0)});
                }
            }
            if (polls.empty()) {
                std::this_thread::sleep_until(std::min(next, end));
                continue;
            }
            ::poll(polls.data(), polls.size(), 20);
            for (std::size_t i = 0; i < senders.size(); ++i) {
                if (offsets[i] < picture.size()) {
                    const ssize_t n = ::send(senders[i], picture.data() + offsets[i], picture.size() - offsets[i],
                                             MSG_NOSIGNAL | MSG_DONTWAIT);
                    if (n > 0) {
                        offsets[i] += static_cast<std::size_t>(n);
                    }
                }
            }
        }
        readers.Join();
        const double cpuMs = vorlix::bench::ProcessCpuMs() - cpuStart - readers.cpuMs;
        for (const int fd : senders) {
            ::close(fd);
        }
        ::close(listener);
        const double megabytes = static_cast<double>(readers.bytes) / (1024.0 * 1024.0);
        state.counters["pictures_per_viewer"] = static_cast<double>(readers.parts) / viewers;
        state.counters["cpu_ms_per_MB"] = megabytes > 0 ? cpuMs / megabytes : 0;
        state.counters["MB"] = megabytes;
    }
}

BENCHMARK(BM_WebLiveViewers)->Arg(1)->Arg(10)->Arg(50)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainSendLoop)->Arg(1)->Arg(10)->Arg(50)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
