// The real desktop program: without a display it runs headless and says so;
// under Xvfb its window is mapped with its title and shows the test camera's
// picture, and SIGTERM still ends it in order; its trace levels reach a
// running qxtraced.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/Children.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/app/tests/ServerProcess.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vorlix::app::testing::ServerProcess;
namespace profile = kestrel::profile;

namespace {

// A static picture, so what is shown and what is saved can be compared.
constexpr const char* kBars =
    "VORLIX_VIDEO_SOURCE=videotestsrc is-live=true pattern=smpte ! video/x-raw,width=320,height=240,framerate=10/1";

std::string FindProgram(const std::string& name)
{
    const char* path = std::getenv("PATH");  // NOLINT(concurrency-mt-unsafe)
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = dirs.find(':', start);
        const fs::path candidate = fs::path(dirs.substr(start, end - start)) / name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return {};
}

// Runs a tool to its end (at most `limit`) and gives its standard output.
std::string RunTool(const std::vector<std::string>& argv, const fs::path& outFile,
                    std::chrono::milliseconds limit = 10s)
{
    return kestrel::test::RunChild(argv, {.out = outFile.string()}, limit) >= 0
               ? kestrel::test::ReadFile(outFile.string())
               : std::string();
}

// A virtual X server on a display number it picks itself.
class VirtualDisplay {
public:
    explicit VirtualDisplay(const std::string& xvfb)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        kestrel::UniqueFd readEnd(fds[0]);
        kestrel::UniqueFd writeEnd(fds[1]);
        std::vector<std::string> args{xvfb, "-displayfd", "9", "-screen", "0", "800x600x24", "-nolisten", "tcp"};
        std::vector<char*> cargs;
        cargs.reserve(args.size() + 1);
        for (auto& a : args) {
            cargs.push_back(a.data());
        }
        cargs.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), 9);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int rc = posix_spawn(&pid_, xvfb.c_str(), &actions, nullptr, cargs.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        writeEnd.Reset();
        if (rc != 0) {
            pid_ = -1;
            return;
        }
        std::string number;
        pollfd pfd{readEnd.Get(), POLLIN, 0};
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline && number.find('\n') == std::string::npos) {
            if (poll(&pfd, 1, 100) > 0) {
                char buffer[16];
                const ssize_t n = read(readEnd.Get(), buffer, sizeof buffer);
                if (n <= 0) {
                    break;
                }
                number.append(buffer, static_cast<std::size_t>(n));
            }
        }
        if (!number.empty() && number.back() == '\n') {
            display_ = ":" + number.substr(0, number.size() - 1);
        }
    }
    ~VirtualDisplay()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            if (!kestrel::test::WaitUntil([this] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, 5s, 5ms)) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
        }
    }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    const std::string& Name() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

struct WindowPlace {
    int width = 0, height = 0, x = 0, y = 0;
};

// The top-level window named `title` in "xwininfo -root -tree" output.
std::optional<WindowPlace> FindWindow(const std::string& tree, const std::string& title)
{
    const std::regex line("\"" + title + "\": \\(\"[^\"]*\" \"[^\"]*\"\\)\\s+(\\d+)x(\\d+)\\+(-?\\d+)\\+(-?\\d+)");
    std::smatch m;
    if (!std::regex_search(tree, m, line)) {
        return std::nullopt;
    }
    return WindowPlace{std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4])};
}

}  // namespace

TEST(DesktopProgramTest, WithoutADisplayItRunsHeadlessAndSaysSoOnce)
{
    kestrel::test::TempDir dir("vorlix_nodisplay");
    ServerProcess server(VORLIX_PROGRAM, dir.Path(), {"1"},
                         {.environment = {"-DISPLAY", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM"}});
    ASSERT_TRUE(server.Started());
    // The headless program reports its tray status on standard error.
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return server.Stderr().find("vorlix[1]: ") != std::string::npos; }, 10s))
        << server.Stderr();
    const std::string err = server.Stderr();
    const std::string note = "vorlix: no desktop display (DISPLAY and WAYLAND_DISPLAY are not set); running headless";
    EXPECT_NE(err.find(note), std::string::npos) << err;
    EXPECT_EQ(err.find(note), err.rfind(note));
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(10s), 0);
}

TEST(DesktopProgramTest, UnderXvfbTheWindowShowsTheTestCameraAndEndsInOrder)
{
    const std::string xvfb = FindProgram("Xvfb");
    const std::string xwininfo = FindProgram("xwininfo");
    const std::string ffmpeg = FindProgram("ffmpeg");
    if (xvfb.empty() || xwininfo.empty() || ffmpeg.empty()) {
        GTEST_SKIP() << "needs Xvfb, xwininfo and ffmpeg (scripts/setup installs them)";
    }
    VirtualDisplay display(xvfb);
    ASSERT_FALSE(display.Name().empty()) << "Xvfb did not start";
    kestrel::test::TempDir dir("vorlix_xvfb");
    const fs::path work = dir.Path();
    ServerProcess server(VORLIX_PROGRAM, work, {},
                         {.environment = {"DISPLAY=" + display.Name(), "-QT_QPA_PLATFORM", "-WAYLAND_DISPLAY", kBars}});
    ASSERT_TRUE(server.Started());

    // Mapped, with its title, at the saved rectangle once the device is open.
    std::optional<WindowPlace> place;
    ASSERT_TRUE(kestrel::test::WaitUntil(
        [&] {
            place = FindWindow(RunTool({xwininfo, "-display", display.Name(), "-root", "-tree"}, work / "tree.txt"),
                               "vorlix");
            return place && place->x == 388 && place->y == 251;
        },
        15s, 50ms))
        << server.Stderr();
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return fs::exists(work / "files" / "last.jpg"); }, 10s));
    const QImage saved =
        QImage(QString::fromStdString((work / "files" / "last.jpg").string())).convertToFormat(QImage::Format_RGB888);
    ASSERT_EQ(saved.size(), QSize(320, 240));

    // A grab of the window; the picture lies under the menu bar, at the left.
    const fs::path raw = work / "grab.rgb";
    const std::string size = std::to_string(place->width) + "x" + std::to_string(place->height);
    const std::string at = display.Name() + "+" + std::to_string(place->x) + "," + std::to_string(place->y);
    std::string bytes;
    ASSERT_TRUE(kestrel::test::WaitUntil(
        [&] {
            RunTool({ffmpeg, "-loglevel", "error", "-f", "x11grab", "-video_size", size, "-i", at, "-frames:v", "1",
                     "-f", "rawvideo", "-pix_fmt", "rgb24", "-y", raw.string()},
                    work / "ffmpeg.txt");
            bytes = kestrel::test::ReadFile(raw.string());
            return bytes.size() == static_cast<std::size_t>(place->width * place->height * 3);
        },
        10s, 100ms));
    ASSERT_GE(place->width, 320);
    // The best row offset of the saved picture in the grab, by mean difference.
    double best = 1e9;
    for (int top = 0; top + 240 <= place->height && top <= 80; ++top) {
        long long sum = 0;
        int count = 0;
        for (int y = 0; y < 240; y += 4) {
            for (int x = 0; x < 320; x += 4) {
                const std::size_t g = (static_cast<std::size_t>(top + y) * place->width + x) * 3;
                const QRgb s = saved.pixel(x, y);
                sum += std::abs(static_cast<unsigned char>(bytes[g]) - qRed(s)) +
                       std::abs(static_cast<unsigned char>(bytes[g + 1]) - qGreen(s)) +
                       std::abs(static_cast<unsigned char>(bytes[g + 2]) - qBlue(s));
                ++count;
            }
        }
        best = std::min(best, static_cast<double>(sum) / (3.0 * count));
    }
    EXPECT_LT(best, 12.0) << "the test camera's picture is not in the window";

    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(10s), 0) << server.Stderr();
    const std::string ini = (work / "Vorlix.ini").string();
    EXPECT_GE(profile::GetInt(ini, "Vorlix", "Current shots", -1), 0);
    EXPECT_EQ(profile::GetInt(ini, "Vorlix", "Display", -1), 0);
}

class TraceLevelsTest : public ::testing::TestWithParam<int> {};

TEST_P(TraceLevelsTest, TheDesktopServersLevelsReachQxtraced)
{
    const int level = GetParam();
    kestrel::test::TempDir dir("vorlix_desk_traced");
    ASSERT_EQ(mkdir(dir.File("camera").c_str(), 0700), 0);
    dir.Write("camera/Vorlix.ini", "[Vorlix]\nTrace level=" + std::to_string(level) + "\nClient access=0\n");
    ServerProcess traced(QXTRACED_PROGRAM, dir.Path(), {"--port", "0", "--dir", dir.File("logs"), "--color", "never"});
    std::smatch m;
    std::string err;
    ASSERT_TRUE(kestrel::test::WaitUntil(
        [&] {
            err = traced.Stderr();
            return std::regex_search(err, m, std::regex("listening on 127\\.0\\.0\\.1:(\\d+)"));
        },
        10s));
    const std::string port = m[1];
    ServerProcess server(VORLIX_PROGRAM, dir.File("camera"), {},
                         {.environment = {"QT_QPA_PLATFORM=offscreen", "QXTRACED_PORT=" + port, kBars}});
    ASSERT_TRUE(server.Started());
    // The device opens a second after the start; the refresh picture follows
    // its level-102 line.
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return fs::exists(dir.File("camera/files/last.jpg")); }, 15s))
        << server.Stderr();
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return traced.Stderr().find("Vorlix connected") != std::string::npos; }))
        << traced.Stderr();
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(10s), 0);
    ASSERT_TRUE(kestrel::test::WaitUntil([&] {
        return traced.Stderr().find("Vorlix (127.0.0.1:") != std::string::npos;
    })) << traced.Stderr();
    traced.Signal(SIGTERM);
    EXPECT_EQ(traced.WaitExit(10s), 0);

    const std::string logged = traced.Stdout();
    // Every line carries the head: date, thread, error column, file(line).
    const std::regex head(R"(^Vorlix: (\[[A-Z ]{5}\] )?\d+ \d\d:\d\d:\d\d 0x[0-9A-F]+ \S*\s+[\w.]+\.cpp\(\d+\): )");
    std::istringstream lines(logged);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        EXPECT_TRUE(std::regex_search(line, head)) << line;
        ++count;
    }
    EXPECT_GT(count, 0);
    const auto has = [&logged](const std::string& part) { return logged.find("): " + part) != std::string::npos; };
    EXPECT_TRUE(has("refresh current image for a possible client"));  // 102
    for (const char* part : {"Debug level activated", "Trace level activated", "Info level activated",
                             "Warning level activated", "Error level activated", "Fault level activated"}) {
        EXPECT_TRUE(has(part)) << part;  // 240 to 245
    }
    // Level 104: the announcements, the window's messages and the menu commands.
    for (const char* part : {"init trace user 4", "init trace user 3", "init trace user 2", "init trace user 1",
                             "init trace user\n", "WM_COMMAND wParam=", "ID_FICHIER_OPEN"}) {
        EXPECT_EQ(has(part), level == 5) << part;
    }
}

INSTANTIATE_TEST_SUITE_P(FiveAndFour, TraceLevelsTest, ::testing::Values(5, 4));
