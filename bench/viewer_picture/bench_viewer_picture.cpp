// The viewer's work per picture at 320 x 240 and 640 x 480 (the test
// camera's size and the largest usual one):
// - ReadFrame: one frame (header, body, trailer) cut from a connected socket
//   pair, against a plain recv of the same bytes;
// - Render: decode into the display buffer, without effects and with all of
//   them switched on;
// - each effect alone over a decoded 640 x 480 picture.
// The budget is the 100-ms tick: everything here must stay far below it.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "client/app/PicturePipeline.h"
#include "client/effects/Effects.h"
#include "client/reader/StreamReader.h"
#include "serveur/actions/JpegWriter.h"

namespace {

using namespace vorlix;
using namespace vorlix::client;

// A camera-like picture: smooth gradients with some noise, at quality 80.
std::vector<std::uint8_t> CameraJpeg(int width, int height)
{
    std::mt19937 random(7);
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
            const int noise = static_cast<int>(random() % 16);
            p[0] = static_cast<std::uint8_t>((x * 255 / width + noise) & 0xFF);
            p[1] = static_cast<std::uint8_t>((y * 255 / height + noise) & 0xFF);
            p[2] = static_cast<std::uint8_t>(((x + y) * 127 / (width + height) + noise) & 0xFF);
        }
    }
    std::vector<std::uint8_t> jpeg;
    EncodeJpeg(rgb, width, height, 80, "bench", jpeg);
    return jpeg;
}

std::string Frame(const std::vector<std::uint8_t>& jpeg)
{
    return "\r\n--BoundaryString\r\nContent-type: image/jpeg\r\nContent-Length: " + std::to_string(jpeg.size()) +
           "\r\n\r\n" + std::string(jpeg.begin(), jpeg.end()) + "\r\n";
}

void BM_ReadFrame(benchmark::State& state)
{
    const std::string frame = Frame(CameraJpeg(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
    int pair[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
    const int size = 4 << 20;
    setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    setsockopt(pair[1], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    StreamReader reader;
    std::vector<std::uint8_t> buffer;
    for (auto _ : state) {
        state.PauseTiming();
        send(pair[0], frame.data(), frame.size(), 0);
        state.ResumeTiming();
        int result = 0;
        while (result <= 0) {
            result = reader.ReadFrame(pair[1], buffer);
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(frame.size()));
    close(pair[0]);
    close(pair[1]);
}
BENCHMARK(BM_ReadFrame)->Args({320, 240})->Args({640, 480});

void BM_PlainRecv(benchmark::State& state)
{
    const std::string frame = Frame(CameraJpeg(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
    int pair[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
    const int size = 4 << 20;
    setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    setsockopt(pair[1], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    std::vector<char> buffer(frame.size());
    for (auto _ : state) {
        state.PauseTiming();
        send(pair[0], frame.data(), frame.size(), 0);
        state.ResumeTiming();
        std::size_t got = 0;
        while (got < frame.size()) {
            got += static_cast<std::size_t>(recv(pair[1], buffer.data() + got, frame.size() - got, 0));
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(frame.size()));
    close(pair[0]);
    close(pair[1]);
}
BENCHMARK(BM_PlainRecv)->Args({320, 240})->Args({640, 480});

void BM_Render(benchmark::State& state)
{
    const std::vector<std::uint8_t> jpeg =
        CameraJpeg(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    EffectSettings effects;
    if (state.range(2) != 0) {
        effects = EffectSettings{true, true, true, true, true, true, 10, -20, 30, true};
    }
    PicturePipeline pipeline("");
    DisplayBuffer picture;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pipeline.Render(jpeg, effects, picture));
    }
    state.counters["jpeg_bytes"] = static_cast<double>(jpeg.size());
}
BENCHMARK(BM_Render)->Args({320, 240, 0})->Args({640, 480, 0})->Args({640, 480, 1})->Unit(benchmark::kMicrosecond);

template <void (*Effect)(DisplayBuffer&)>
void BM_Effect(benchmark::State& state)
{
    PicturePipeline pipeline("");
    DisplayBuffer picture;
    pipeline.Render(CameraJpeg(640, 480), {}, picture);
    for (auto _ : state) {
        Effect(picture);
        benchmark::DoNotOptimize(picture.Data());
    }
}
void AddColorOnly(DisplayBuffer& picture)
{
    AddColor(picture, 10, -20, 30, false);
}
BENCHMARK(BM_Effect<VerticalMirror>)->Name("BM_VerticalMirror/640x480")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Effect<HorizontalMirror>)->Name("BM_HorizontalMirror/640x480")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Effect<ReverseColor>)->Name("BM_ReverseColor/640x480")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Effect<BiColor>)->Name("BM_BiColor/640x480")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Effect<AddColorOnly>)->Name("BM_AddColor/640x480")->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
