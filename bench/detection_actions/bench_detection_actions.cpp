// One detection's picture work (copy into the annotated image, stamp, JPEG
// at "Quality jpg", file written and renamed into place, as the detection
// path does it) beside a bare
// libjpeg compression of the same frame to memory, at two frame sizes and
// two qualities. The ratio of the two is the overhead of the detection path.
// "road" runs whole detections through a camera object and its actions
// (measures, naming, conversion to RGB, picture, event) in the three frame
// formats a camera delivers, a moving block making every frame a detection.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "serveur/actions/JpegWriter.h"
#include "serveur/actions/StampedPicture.h"
#include "serveur/actions/VorlixActions.h"
#include "serveur/core/Frame.h"
#include "serveur/core/PixelFormat.h"
#include "serveur/core/WebCam.h"

namespace {

// A camera-like frame: smooth gradients with sensor noise.
std::vector<std::uint8_t> Frame(int width, int height)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    std::mt19937 random(42);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t o = (static_cast<std::size_t>(y) * width + x) * 3;
            const int base[3] = {x * 255 / width, y * 255 / height, (x + y) * 127 / (width + height) + 64};
            for (int c = 0; c < 3; ++c) {
                const int v = base[c] + noise(random);
                rgb[o + static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
        }
    }
    return rgb;
}

// The picture folder on the disk (ext4 here) and in memory (tmpfs): most of
// the difference to the bare compression is the file system's block
// allocation when a picture file is replaced.
std::string MakeDirectory(const char* base)
{
    std::string pattern = std::string(base) + "/bench_detection_XXXXXX";
    const char* made = mkdtemp(pattern.data());
    return made != nullptr ? std::string(made) : std::string();
}
const std::string& DiskDirectory()
{
    static const std::string dir = MakeDirectory("/tmp");
    return dir;
}
const std::string& MemoryDirectory()
{
    static const std::string dir = MakeDirectory("/dev/shm");
    return dir;
}

void BareCompression(benchmark::State& state)
{
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const int quality = static_cast<int>(state.range(2));
    const std::vector<std::uint8_t> frame = Frame(width, height);
    std::size_t bytes = 0;
    for (auto _ : state) {
        jpeg_compress_struct info;
        jpeg_error_mgr errors;
        info.err = jpeg_std_error(&errors);
        jpeg_create_compress(&info);
        unsigned char* buffer = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&info, &buffer, &size);
        info.image_width = static_cast<JDIMENSION>(width);
        info.image_height = static_cast<JDIMENSION>(height);
        info.input_components = 3;
        info.in_color_space = JCS_RGB;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, quality, TRUE);
        jpeg_start_compress(&info, TRUE);
        while (info.next_scanline < info.image_height) {
            JSAMPROW row =
                const_cast<JSAMPROW>(frame.data() + static_cast<std::size_t>(info.next_scanline) * width * 3);
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        jpeg_destroy_compress(&info);
        bytes = size;
        benchmark::DoNotOptimize(buffer);
        std::free(buffer);
    }
    state.counters["jpeg_bytes"] = static_cast<double>(bytes);
}

void DetectionPicture(benchmark::State& state, const std::string& directory)
{
    if (directory.empty()) {
        state.SkipWithError("no picture folder");
        return;
    }
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const int quality = static_cast<int>(state.range(2));
    const std::vector<std::uint8_t> frame = Frame(width, height);
    std::vector<std::uint8_t> annotated(frame.size());
    const std::string comment = vorlix::JpegComment("Vorlix ==> %s Quality : %d%%", "Z_1_IN_CENTER (130) ", quality);
    int shots = 0;
    const int maxJpg = 500;
    for (auto _ : state) {
        vorlix::StampRequest stamp;
        stamp.number = shots + 1;
        const std::time_t now = std::time(nullptr);
        localtime_r(&now, &stamp.local);
        const std::string path = directory + "/vorlix_" + std::to_string((shots + 1) % maxJpg) + ".jpg";
        if (!vorlix::WriteFramePicture(frame, annotated, width, height, &stamp, path, quality, comment)) {
            state.SkipWithError("picture not written");
            break;
        }
        ++shots;
    }
}

// A still grey scene with a bright block at one of two places, in `format`.
std::vector<std::uint8_t> Scene(int width, int height, int format, int block)
{
    std::vector<std::uint8_t> f(vorlix::FrameBytes(format, width, height), 0x50);
    const std::size_t bpp = static_cast<std::size_t>(vorlix::BytesPerPixel(format));
    if (format == vorlix::kFourccI420) {
        std::fill(f.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(width) * height), f.end(), 0x80);
    }
    if (block < 0) {
        return f;
    }
    const int x0 = width / 8 + block * width / 2, y0 = height / 3;
    for (int y = y0; y < y0 + height / 4; ++y) {
        for (int x = x0; x < x0 + width / 4; ++x) {
            for (std::size_t c = 0; c < bpp; ++c) {
                f[(static_cast<std::size_t>(y) * width + x) * bpp + c] = 0xE0;
            }
        }
    }
    return f;
}

// Whole detections of a moving block through the camera object and its actions.
void RoadDetection(benchmark::State& state, int format)
{
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const std::string dir = MakeDirectory("/dev/shm");
    std::filesystem::create_directories(dir + "/files");
    std::time_t now = 100000;
    {
        vorlix::WebCam cam([&now] { return now; });
        cam.LoadConfiguration(0, dir);
        vorlix::VorlixActions actions;
        actions.LoadVocabulary([&cam](const std::string& text) { return cam.Translate(text); });
        vorlix::DetectionRoad road;
        road.SetClassifier(&actions.Naming());
        road.SetPictureWriter(&actions.Pictures());
        road.Add(actions.Pictures());
        road.Add(actions.Events());
        cam.SetRoad(&road);
        cam.SetCaptureRunning(true);
        cam.SetDetection(true);
        const std::vector<std::uint8_t> still = Scene(width, height, format, -1);
        const std::vector<std::uint8_t> moved[2] = {Scene(width, height, format, 0), Scene(width, height, format, 1)};
        const auto feed = [&](const std::vector<std::uint8_t>& f) {
            cam.ProcessFrame(vorlix::Frame{f, width, height, format, vorlix::kTopDown});
        };
        feed(still);  // the refresh picture and the reference image
        ++now;
        feed(still);
        const int before = cam.shots.load();
        std::size_t i = 0;
        for (auto _ : state) {
            now += 10;  // no tracking across frames: every detection is the same work
            feed(moved[i++ & 1U]);
        }
        if (cam.shots.load() - before != static_cast<int>(state.iterations())) {
            state.SkipWithError("not every frame was a detection");
        }
        cam.SetRoad(nullptr);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

#define SIZES_AND_QUALITIES      \
    Args({640, 480, 30})         \
        ->Args({640, 480, 90})   \
        ->Args({1920, 1080, 30}) \
        ->Args({1920, 1080, 90}) \
        ->Unit(benchmark::kMillisecond)

BENCHMARK(BareCompression)->SIZES_AND_QUALITIES;
BENCHMARK_CAPTURE(DetectionPicture, disk, DiskDirectory())->SIZES_AND_QUALITIES;
BENCHMARK_CAPTURE(DetectionPicture, tmpfs, MemoryDirectory())->SIZES_AND_QUALITIES;
BENCHMARK_CAPTURE(RoadDetection, rgb24, vorlix::kFormatRgb24)->Args({640, 480})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RoadDetection, yuy2, vorlix::kFourccYuy2)->Args({640, 480})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RoadDetection, i420, vorlix::kFourccI420)->Args({640, 480})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    for (const std::string* dir : {&DiskDirectory(), &MemoryDirectory()}) {
        if (!dir->empty()) {
            std::filesystem::remove_all(*dir, ignored);
        }
    }
    return 0;
}
