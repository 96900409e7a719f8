// ProcessFrame on 24-bit frames at four sizes, with one zone over the whole
// picture and with nine zones in a 3 x 3 grid:
//   calm    - sensor noise only: the fast pass runs and never fires;
//   moving  - a block moves every frame: the fast pass fires, the reference
//             pass measures every zone (and the enlarged zone of a single
//             match) and the detection is handed down the road;
//   refpass - the reference pass alone over the whole picture (mask written).
// Each case is printed at the end as a ratio to a memcpy of one frame.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "serveur/core/DiffKernels.h"
#include "serveur/core/WebCam.h"

namespace {

using vorlix::Frame;
using vorlix::WebCam;
using vorlix::ZoneCorners;

struct Size {
    int width, height;
    std::string Name() const { return std::to_string(width) + "x" + std::to_string(height); }
};
const Size kSizes[] = {{320, 240}, {640, 480}, {1280, 720}, {1920, 1080}};

// A still scene with sensor noise well below "Noise".
std::vector<std::uint8_t> Scene(const Size& s, unsigned seed)
{
    std::vector<std::uint8_t> f(static_cast<std::size_t>(s.width) * s.height * 3);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const int base = 60 + (x * 150 / s.width + y * 40 / s.height + c * 20) % 160;
                f[(static_cast<std::size_t>(y) * s.width + x) * 3 + c] =
                    static_cast<std::uint8_t>(base + noise(random));
            }
        }
    }
    return f;
}

// The scene with a block at step k of a walk across the middle.
std::vector<std::uint8_t> WithBlock(const Size& s, const std::vector<std::uint8_t>& scene, int k)
{
    std::vector<std::uint8_t> f = scene;
    const int bw = s.width / 8, bh = s.height / 4;
    // Side by side without overlap, so that the fast pass sees every step.
    const int x0 = (k % 8) * bw, y0 = s.height / 2 - bh / 2;
    // Every byte of the block differs from the scene by 128, far above "Noise".
    for (int y = y0; y < y0 + bh; ++y) {
        std::uint8_t* row = f.data() + (static_cast<std::size_t>(y) * s.width + x0) * 3;
        for (int i = 0; i < bw * 3; ++i) {
            row[i] = static_cast<std::uint8_t>(row[i] ^ 0x80);
        }
    }
    return f;
}

// A classifier that only names, and a count of the detections.
class QuickHooks final : public vorlix::DetectionClassifier, public vorlix::DetectionConsumer {
public:
    QuickHooks()
    {
        road.SetClassifier(this);
        road.Add(*this);
    }
    void Classify(vorlix::Detection& d) override { d.label = "IN"; }
    void OnDetection(const vorlix::Detection&) override { ++detections; }
    long detections = 0;
    vorlix::DetectionRoad road;
};

struct Camera {
    Camera(const Size& s, int zones, const std::vector<std::uint8_t>& first) : cam([] { return std::time_t{100000}; })
    {
        cam.SetCaptureRunning(true);
        cam.SetDetection(true);
        cam.SetRoad(&hooks.road);
        cam.ResizeBuffers(s.width, s.height);
        if (zones == 1) {
            cam.SetZone(0, {0, 0, s.width, s.height, true});
        } else {
            for (int i = 0; i < 9; ++i) {
                const int cx = i % 3, cy = i / 3;
                cam.SetZone(i, ZoneCorners{cx * s.width / 3, cy * s.height / 3, (cx + 1) * s.width / 3,
                                           (cy + 1) * s.height / 3, false});
            }
        }
        cam.SetZoneCount(zones);
        cam.ComputeZoneThresholds();
        // Client refresh with the first reference image, then a calm frame
        // that sets the last detection time: no renewal during the run.
        Feed(s, first);
        Feed(s, first);
    }
    void Feed(const Size& s, const std::vector<std::uint8_t>& f)
    {
        cam.ProcessFrame(Frame{f, s.width, s.height, vorlix::kFormatRgb24, vorlix::kTopDown});
    }
    QuickHooks hooks;
    WebCam cam;
};

void Memcpy(benchmark::State& state, Size s)
{
    const std::vector<std::uint8_t> src = Scene(s, 1);
    std::vector<std::uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * src.size()));
}

void Calm(benchmark::State& state, Size s, int zones)
{
    const std::vector<std::uint8_t> frames[2] = {Scene(s, 1), Scene(s, 2)};
    Camera c(s, zones, frames[0]);
    std::size_t i = 0;
    for (auto _ : state) {
        c.Feed(s, frames[++i & 1]);
    }
    if (c.cam.LastDetectionTime() != 100000) {
        state.SkipWithError("a calm frame was taken for motion");
    }
}

void Moving(benchmark::State& state, Size s, int zones)
{
    const std::vector<std::uint8_t> scene = Scene(s, 1);
    // Two places far apart, so that every frame differs from the one before
    // and the frames stay as warm in the caches as the memcpy source.
    const std::vector<std::vector<std::uint8_t>> frames = {WithBlock(s, scene, 1), WithBlock(s, scene, 5)};
    Camera c(s, zones, scene);
    std::size_t i = 0;
    for (auto _ : state) {
        c.Feed(s, frames[i++ % frames.size()]);
    }
    if (c.hooks.detections != static_cast<long>(state.iterations())) {
        state.SkipWithError(("not every frame was a detection " + std::to_string(c.hooks.detections) + " of " +
                             std::to_string(state.iterations()))
                                .c_str());
    }
}

void ReferencePass(benchmark::State& state, Size s)
{
    const std::vector<std::uint8_t> scene = Scene(s, 1);
    const std::vector<std::uint8_t> moved = WithBlock(s, scene, 7);
    Camera c(s, 1, scene);
    c.cam.SetCurrentFrame(moved);
    int result = 0;
    for (auto _ : state) {
        result = c.cam.alg_diff_standard(0);
        benchmark::DoNotOptimize(result);
    }
    c.cam.SetCurrentFrame({});
    const int expected = (s.width / 8) * (s.height / 4) * 3;
    if (result < expected) {
        state.SkipWithError("the block was not counted");
    }
}

// The reference pass row by row over the whole picture with one instruction set.
void RowKernel(benchmark::State& state, Size s, vorlix::KernelIsa isa)
{
    const std::vector<std::uint8_t> scene = Scene(s, 1);
    const std::vector<std::uint8_t> moved = WithBlock(s, scene, 3);
    std::vector<std::uint8_t> mask(scene.size());
    const std::size_t row = static_cast<std::size_t>(s.width) * 3;
    std::uint64_t count = 0;
    for (auto _ : state) {
        count = 0;
        for (int y = 0; y < s.height; ++y) {
            count += vorlix::DiffRowStandardWith(isa, scene.data() + y * row, moved.data() + y * row,
                                                 mask.data() + y * row, s.width, 3, 0, 50)
                         .count;
        }
        benchmark::DoNotOptimize(count);
    }
}

// Shows the aggregates of the repetitions and keeps the least CPU time per
// iteration of every case (the machine is shared: the least is the least
// disturbed) for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        std::vector<Run> shown;
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Aggregate) {
                shown.push_back(r);
                continue;
            }
            if (r.error_occurred) {
                continue;
            }
            std::string name = r.benchmark_name();
            name = name.substr(0, name.find("/min_time:"));
            const double t = r.GetAdjustedCPUTime();
            const auto it = times.find(name);
            if (it == times.end() || t < it->second) {
                times[name] = t;
            }
        }
        if (!shown.empty()) {
            ConsoleReporter::ReportRuns(shown);
        } else {
            ConsoleReporter::ReportRuns(runs);
        }
    }
    std::map<std::string, double> times;
};

void Setup(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMicrosecond)->Repetitions(15)->MinTime(0.02);
}

}  // namespace

int main(int argc, char** argv)
{
    for (const Size& s : kSizes) {
        const std::string n = s.Name();
        benchmark::RegisterBenchmark(("memcpy/" + n).c_str(), Memcpy, s)->Apply(Setup);
        for (const int zones : {1, 9}) {
            const std::string z = "/" + std::to_string(zones) + "zone";
            benchmark::RegisterBenchmark(("calm/" + n + z).c_str(), Calm, s, zones)->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("moving/" + n + z).c_str(), Moving, s, zones)->Unit(benchmark::kMicrosecond);
        }
        benchmark::RegisterBenchmark(("refpass/" + n).c_str(), ReferencePass, s)->Apply(Setup);
        for (const vorlix::KernelIsa isa : vorlix::AvailableKernelIsas()) {
            static const char* const names[] = {"scalar", "sse2", "avx2"};
            benchmark::RegisterBenchmark(("rowkernel/" + n + "/" + names[static_cast<int>(isa)]).c_str(), RowKernel, s,
                                         isa)
                ->Apply(Setup);
        }
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nLeast CPU time per frame of 15 runs, as a ratio to one frame memcpy (24-bit):\n");
    std::printf("%-10s %10s %10s %10s %10s %10s %10s\n", "size", "memcpy us", "calm 1z", "calm 9z", "moving 1z",
                "moving 9z", "refpass");
    for (const Size& s : kSizes) {
        const std::string n = s.Name();
        const auto it = reporter.times.find("memcpy/" + n);
        if (it == reporter.times.end() || it->second <= 0) {
            continue;
        }
        const auto ratio = [&](const std::string& name) {
            const auto r = reporter.times.find(name);
            return r == reporter.times.end() ? -1.0 : r->second / it->second;
        };
        std::printf("%-10s %10.1f %10.3f %10.3f %10.3f %10.3f %10.3f\n", n.c_str(), it->second,
                    ratio("calm/" + n + "/1zone"), ratio("calm/" + n + "/9zone"), ratio("moving/" + n + "/1zone"),
                    ratio("moving/" + n + "/9zone"), ratio("refpass/" + n));
    }
    return 0;
}
