// Pictures that cannot be written: a file-size limit (EFBIG, as a full disk
// gives ENOSPC), a missing or read-only picture directory. The loss is said
// once per streak and once when writing works again, the status reads it,
// and the shot counter never passes a picture that was not written.
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/actions/VorlixActions.h"
#include "serveur/actions/tests/JpegRead.h"
#include "serveur/core/PictureNames.h"
#include "serveur/core/WebCam.h"

namespace fs = std::filesystem;

namespace vorlix {
namespace {

using kestrel::kLevelWarn;
using kestrel::test::TraceCapture;

constexpr int kW = 160;
constexpr int kH = 120;

class EventsList final : public EventsWindow {
public:
    void AddEntry(const std::string& line) override { lines.push_back(line); }
    [[nodiscard]] int Count(const std::string& part) const
    {
        int n = 0;
        for (const std::string& l : lines) {
            n += l.find(part) != std::string::npos ? 1 : 0;
        }
        return n;
    }
    std::vector<std::string> lines;
};

// Lowers the file-size limit of this process for its lifetime: a write past
// it fails with EFBIG (SIGXFSZ ignored meanwhile, as the server does).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit lowered = previous_;
        lowered.rlim_cur = bytes;
        ok_ = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    [[nodiscard]] bool Ok() const { return ok_; }

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = SIG_DFL;
    bool ok_ = false;
};

// The file-system user of the calling thread, for a scope. A user other
// than root has none of root's rights over files.
class FileUser {
public:
    explicit FileUser(uid_t user) : before_(static_cast<uid_t>(::setfsuid(user))) {}
    ~FileUser() { ::setfsuid(before_); }
    FileUser(const FileUser&) = delete;
    FileUser& operator=(const FileUser&) = delete;

private:
    uid_t before_;
};

class LostPictures : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = temp_.Path();
        files_ = dir_ + "/files";
        fs::create_directory(files_);
        cam_.LoadConfiguration(0, dir_);
        cam_.SetDetection(true);
        actions_.LoadVocabulary([](const std::string& text) { return text; });
        actions_.Firing().SetEventsWindow(&events_);
        road_.SetClassifier(&actions_.Naming());
        road_.SetPictureWriter(&actions_.Pictures());
        road_.Add(actions_.Pictures());
        cam_.SetRoad(&road_);
        Feed(-1);  // the first frame: refresh picture and reference
        ++now_;
        Feed(-1);
    }
    void TearDown() override
    {
        cam_.SetRoad(nullptr);
        fs::permissions(files_, fs::perms::owner_all, fs::perm_options::add);
    }
    // A frame of noise-free grey with a red block at `blockX` (none when < 0).
    void Feed(int blockX)
    {
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kW * kH * 3), 60);
        for (int y = 30; y < 90 && blockX >= 0; ++y) {
            for (int x = blockX; x < blockX + 50 && x < kW; ++x) {
                const auto at = (static_cast<std::size_t>(y) * kW + x) * 3;
                pixels[at] = 250;
                pixels[at + 1] = static_cast<std::uint8_t>((x * 7 + y * 13) & 0xFF);  // detail, so it compresses badly
            }
        }
        Frame frame;
        frame.data = pixels;
        frame.width = kW;
        frame.height = kH;
        frame.format = kFormatRgb24;
        frame.topDown = kTopDown;
        cam_.ProcessFrame(frame);
    }
    // One detection: the block moves to the other side.
    void Detect()
    {
        ++now_;
        block_ = block_ == 10 ? 100 : 10;
        Feed(block_);
    }

    kestrel::test::TempDir temp_{"lost_pictures"};
    std::string dir_, files_;
    std::time_t now_ = 100000;
    int block_ = 100;
    WebCam cam_{[this] { return now_; }};
    VorlixActions actions_;
    EventsList events_;
    DetectionRoad road_;
};

TEST_F(LostPictures, FileSizeLimitIsSaidOnceAndTheCounterStays)
{
    Detect();
    ASSERT_EQ(cam_.shots.load(), 1);
    ASSERT_TRUE(fs::exists(files_ + "/vorlix_1.jpg"));
    const auto firstSize = fs::file_size(files_ + "/vorlix_1.jpg");
    TraceCapture traces;
    {
        FileSizeLimit limit(512);
        ASSERT_TRUE(limit.Ok());
        for (int i = 0; i < 3; ++i) {
            Detect();
        }
        EXPECT_EQ(cam_.shots.load(), 1) << "the counter went past pictures that were not written";
        EXPECT_FALSE(fs::exists(files_ + "/vorlix_2.jpg"));
        EXPECT_EQ(actions_.Health().Trouble(), std::strerror(EFBIG));
        EXPECT_EQ(actions_.Health().Lost(), 3);
    }
    EXPECT_EQ(fs::file_size(files_ + "/vorlix_1.jpg"), firstSize);  // the written one is untouched
    EXPECT_EQ(traces.Count("Pictures are not written", kLevelWarn), 1);
    EXPECT_EQ(traces.Count(files_ + "/vorlix_2.jpg for writing (" + std::strerror(EFBIG) + ")", kLevelWarn), 1);
    EXPECT_EQ(events_.Count(std::string("Pictures not written: ") + std::strerror(EFBIG)), 1);

    // Writing works again: said once, and the next picture takes the free slot.
    Detect();
    EXPECT_EQ(cam_.shots.load(), 2);
    EXPECT_TRUE(test::ReadJpeg(files_ + "/vorlix_2.jpg").ok);
    EXPECT_EQ(actions_.Health().Trouble(), "");
    EXPECT_EQ(traces.Count("Pictures are written again", kLevelWarn), 1);
    EXPECT_EQ(events_.Count("Pictures written again (3 lost)"), 1);
    Detect();
    EXPECT_EQ(traces.Count("Pictures are", kLevelWarn), 2);
    // No temporary file is left behind by the failed writes.
    for (const auto& entry : fs::directory_iterator(files_)) {
        EXPECT_EQ(entry.path().extension(), ".jpg") << entry.path();
    }
}

TEST_F(LostPictures, MissingDirectoryAndRefreshPicturesShareTheStreak)
{
    fs::remove_all(files_);
    TraceCapture traces;
    Detect();
    Detect();
    cam_.RequestClientRefresh();
    Feed(block_);  // last.jpg cannot be written either
    EXPECT_EQ(cam_.shots.load(), 0);
    EXPECT_EQ(actions_.Health().Trouble(), std::strerror(ENOENT));
    EXPECT_EQ(traces.Count("Pictures are not written", kLevelWarn), 1);

    fs::create_directory(files_);
    Detect();
    EXPECT_EQ(cam_.shots.load(), 1);
    EXPECT_TRUE(fs::exists(files_ + "/vorlix_1.jpg"));
    EXPECT_EQ(traces.Count("Pictures are written again", kLevelWarn), 1);
}

TEST_F(LostPictures, ReadOnlyDirectoryGivesTheReason)
{
    fs::permissions(files_, fs::perms::owner_read | fs::perms::owner_exec);
    TraceCapture traces;
    {
        // Root writes anywhere: this thread's file work is done as nobody.
        const FileUser nobody(65534);
        Detect();
        Detect();
    }
    EXPECT_EQ(cam_.shots.load(), 0);
    EXPECT_EQ(traces.Count(std::string("for writing (") + std::strerror(EACCES) + ")", kLevelWarn), 1);
}

TEST(PictureHealthAlone, StreaksAreCountedFromTheirFirstLoss)
{
    TraceCapture traces;
    PictureHealth health;
    health.Written("/p/a.jpg");
    EXPECT_EQ(traces.Count("Pictures are", kLevelWarn), 0);  // nothing was lost: nothing to say
    health.Failed("/p/b.jpg", ENOSPC);
    health.Failed("/p/c.jpg", EIO);
    EXPECT_EQ(health.Trouble(), std::strerror(ENOSPC));  // the reason that began the streak
    EXPECT_EQ(health.Lost(), 2);
    health.Written("/p/d.jpg");
    health.Failed("/p/e.jpg", EIO);
    EXPECT_EQ(health.Trouble(), std::strerror(EIO));
    EXPECT_EQ(traces.Count("Pictures are not written", kLevelWarn), 2);
    EXPECT_EQ(traces.Count("Pictures are written again (/p/d.jpg); 2 picture(s) were lost", kLevelWarn), 1);
}

}  // namespace
}  // namespace vorlix
