// 50 browsers (and 1, 10) reading the web view's /live.mjpg at 5 pictures a
// second for 3 seconds, a 640 x 480 moving scene offered at 25 frames a
// second; then, in the same run, a plain loop that writes the same stream
// parts (the same picture, the same part heads) to as many sockets from one
// thread at the same pace, with the same kernel send buffer as the server's.
// The readers and the camera feeder are left out of both CPU figures.
//
// Counters: encodes (JPEG compressions made), pictures_per_viewer (parts
// each viewer received, on average), encodes_per_picture (encodes divided
// by the pictures one viewer received: 1 when every viewer shares each
// encode), encode_ms (CPU per compression), send_cpu_ms_per_MB (the
// server's CPU without the compressing thread, per megabyte delivered),
// plain_cpu_ms_per_MB (the plain loop's), send_vs_plain (the first divided
// by the second), MB and plain_MB (megabytes delivered).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/kit/BenchKit.h"
#include "serveur/web/WebPage.h"
#include "serveur/web/WebView.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr auto kWarmUp = 1s;  // connections made, buffers in place
constexpr auto kRun = 3s;
constexpr auto kPicturePeriod = 200ms;  // 5 pictures a second
constexpr int kWidth = 640, kHeight = 480;
constexpr std::string_view kBoundary = "--vorlixframe";

// Reads every socket until the run ends; counts bytes and stream parts.
struct Readers {
    std::vector<kestrel::UniqueFd> fds;
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
            for (const kestrel::UniqueFd& fd : fds) {
                polls.push_back({fd.Get(), POLLIN, 0});
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
        fds.clear();
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

struct Figures {
    bool ok = false;
    double cpuMs = 0;  // without the readers and the feeder
    double megabytes = 0;
    double picturesPerViewer = 0;
    double encodes = 0;
    double encodeMs = 0;
    std::vector<std::uint8_t> picture;  // the last live picture
};

Figures WatchTheWebView(int viewers)
{
    Figures f;
    vorlix::web::WebView view([] { return vorlix::web::CameraStatus{true, false, 0}; });
    vorlix::web::WebViewConfig config;
    config.settings.management = true;
    config.settings.port = 0;
    config.settings.bind = "127.0.0.1";
    config.settings.fps = 5;
    config.settings.maxViewers = 100;
    config.quality = 80;
    if (!view.Configure(config)) {
        return f;
    }
    const auto measureFrom = Clock::now() + kWarmUp;
    Camera camera(view, measureFrom);
    Readers readers;
    const std::string request = "GET /live.mjpg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    for (int i = 0; i < viewers; ++i) {
        kestrel::UniqueFd fd = vorlix::bench::ConnectLoopback(view.Port());
        if (!fd || ::send(fd.Get(), request.data(), request.size(), MSG_NOSIGNAL) < 0) {
            return f;
        }
        readers.fds.push_back(std::move(fd));
    }
    readers.Start(measureFrom);
    std::this_thread::sleep_until(measureFrom);
    const double cpuStart = vorlix::bench::ProcessCpuMs();
    const std::uint64_t encodesStart = view.Frames().Encodes();
    const auto encodeCpuStart = view.Frames().EncoderCpu();
    readers.Join();
    camera.Stop();
    const double cpuMs = vorlix::bench::ProcessCpuMs() - cpuStart - readers.cpuMs - camera.cpuMs;
    f.encodes = static_cast<double>(view.Frames().Encodes() - encodesStart);
    f.encodeMs = std::chrono::duration<double, std::milli>(view.Frames().EncoderCpu() - encodeCpuStart).count();
    if (auto newest = view.Frames().Newest()) {
        f.picture = newest->bytes;
    }
    view.Stop();
    f.cpuMs = cpuMs - f.encodeMs;
    f.megabytes = static_cast<double>(readers.bytes) / (1024.0 * 1024.0);
    f.picturesPerViewer = static_cast<double>(readers.parts) / viewers;
    f.ok = true;
    return f;
}

// The same stream parts to as many sockets from one thread, a new picture
// every period, each socket written to only when it has room.
Figures PlainSendLoop(int viewers, const std::vector<std::uint8_t>& jpeg)
{
    Figures f;
    int port = 0;
    const kestrel::UniqueFd listener = vorlix::bench::ListenLoopback(128, port);
    if (!listener) {
        return f;
    }
    const int sendBuffer = vorlix::web::WebServerOptions{}.sendBuffer;  // the server's
    Readers readers;
    std::vector<kestrel::UniqueFd> senders;
    for (int i = 0; i < viewers; ++i) {
        readers.fds.push_back(vorlix::bench::ConnectLoopback(port));
        kestrel::UniqueFd fd(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
        senders.push_back(std::move(fd));
    }
    const std::string part = vorlix::web::MjpegPartHead(jpeg.size()) + std::string(jpeg.begin(), jpeg.end()) + "\r\n";
    const auto measureFrom = Clock::now() + kWarmUp;
    readers.Start(measureFrom);
    std::vector<std::size_t> offsets(senders.size(), part.size());
    std::vector<pollfd> polls;
    std::vector<std::size_t> polled;
    double cpuStart = -1;
    const auto end = measureFrom + kRun;
    auto next = Clock::now();
    for (auto now = Clock::now(); now < end; now = Clock::now()) {
        if (cpuStart < 0 && now >= measureFrom) {
            cpuStart = vorlix::bench::ProcessCpuMs();
        }
        if (now >= next) {
            std::fill(offsets.begin(), offsets.end(), 0);  // a new picture for everybody
            next += kPicturePeriod;
        }
        polls.clear();
        polled.clear();
        for (std::size_t i = 0; i < senders.size(); ++i) {
            if (offsets[i] < part.size()) {
                polls.push_back({senders[i].Get(), POLLOUT, 0});
                polled.push_back(i);
            }
        }
        if (polls.empty()) {
            std::this_thread::sleep_until(std::min(next, end));
            continue;
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
        if (::poll(polls.data(), polls.size(), static_cast<int>(std::clamp<long long>(wait, 1, 200))) <= 0) {
            continue;
        }
        for (std::size_t k = 0; k < polls.size(); ++k) {
            if ((polls[k].revents & POLLOUT) == 0) {
                continue;
            }
            std::size_t& offset = offsets[polled[k]];
            const ssize_t n =
                ::send(polls[k].fd, part.data() + offset, part.size() - offset, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                offset += static_cast<std::size_t>(n);
            }
        }
    }
    readers.Join();
    f.cpuMs = vorlix::bench::ProcessCpuMs() - cpuStart - readers.cpuMs;
    f.megabytes = static_cast<double>(readers.bytes) / (1024.0 * 1024.0);
    f.picturesPerViewer = static_cast<double>(readers.parts) / viewers;
    f.ok = true;
    return f;
}

void BM_WebLiveViewers(benchmark::State& state)
{
    const int viewers = static_cast<int>(state.range(0));
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop
        const Figures web = WatchTheWebView(viewers);
        if (!web.ok || web.picture.empty()) {
            state.SkipWithError("the web view did not serve its viewers");
            return;
        }
        const Figures plain = PlainSendLoop(viewers, web.picture);
        if (!plain.ok) {
            state.SkipWithError("no loopback sockets for the plain loop");
            return;
        }
        const double sendPerMB = web.megabytes > 0 ? web.cpuMs / web.megabytes : 0;
        const double plainPerMB = plain.megabytes > 0 ? plain.cpuMs / plain.megabytes : 0;
        state.counters["encodes"] = web.encodes;
        state.counters["pictures_per_viewer"] = web.picturesPerViewer;
        state.counters["encodes_per_picture"] = web.picturesPerViewer > 0 ? web.encodes / web.picturesPerViewer : 0;
        state.counters["encode_ms"] = web.encodes > 0 ? web.encodeMs / web.encodes : 0;
        state.counters["send_cpu_ms_per_MB"] = sendPerMB;
        state.counters["plain_cpu_ms_per_MB"] = plainPerMB;
        state.counters["send_vs_plain"] = plainPerMB > 0 ? sendPerMB / plainPerMB : 0;
        state.counters["MB"] = web.megabytes;
        state.counters["plain_MB"] = plain.megabytes;
        state.counters["plain_pictures"] = plain.picturesPerViewer;
    }
}

BENCHMARK(BM_WebLiveViewers)->Arg(1)->Arg(10)->Arg(50)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
