// Pictures keep being written and read while strangers hold every other
// descriptor of the process: the spare descriptors kept for that.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "libkestrel/framework/SpareFd.h"
#include "libkestrel/framework/UniqueFd.h"
#include "serveur/actions/JpegWriter.h"
#include "serveur/stream/SharedImage.h"
#include "serveur/stream/tests/StreamTestKit.h"

namespace vorlix {
namespace {

using namespace testkit;

// While alive, this process can open no descriptor: the soft limit is
// lowered a little above the highest one in use and every free slot below it
// is taken.
class DescriptorsExhausted {
public:
    DescriptorsExhausted()
    {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        int highest = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            highest = std::max(highest, std::stoi(entry.path().filename().string()));
        }
        rlimit lowered = saved_;
        lowered.rlim_cur = static_cast<rlim_t>(highest) + 16;
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        for (;;) {
            kestrel::UniqueFd taken(::dup(0));
            if (!taken) {
                break;
            }
            fillers_.push_back(std::move(taken));
        }
    }
    ~DescriptorsExhausted()
    {
        fillers_.clear();
        ::setrlimit(RLIMIT_NOFILE, &saved_);
    }
    DescriptorsExhausted(const DescriptorsExhausted&) = delete;
    DescriptorsExhausted& operator=(const DescriptorsExhausted&) = delete;

    [[nodiscard]] bool Exhausted() const
    {
        const kestrel::UniqueFd probe(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        return !probe && errno == EMFILE;
    }

private:
    rlimit saved_{};
    std::vector<kestrel::UniqueFd> fillers_;
};

TEST(DescriptorReserve, APictureIsReadForViewersWithTheSpare)
{
    TempDir dir("vorlix_stream");
    const std::string picture = MakeJpeg(64, 48, 1);
    WriteFile(dir.File("last.jpg"), picture);
    kestrel::SpareFd spare;
    ASSERT_TRUE(spare.Held());
    // Once before, as the server has done before any flood: the sanitizers'
    // first check of a type needs descriptors of its own.
    ASSERT_NE(SharedImage::Load(dir.File("last.jpg"), &spare), nullptr);
    DescriptorsExhausted exhausted;
    ASSERT_TRUE(exhausted.Exhausted());

    errno = 0;
    EXPECT_EQ(SharedImage::Load(dir.File("last.jpg")), nullptr) << "the test took every descriptor";
    EXPECT_EQ(errno, EMFILE);
    for (int round = 0; round < 3; ++round) {
        const auto image = SharedImage::Load(dir.File("last.jpg"), &spare);
        ASSERT_NE(image, nullptr) << "round " << round;
        EXPECT_EQ(std::string(image->Data(), static_cast<std::size_t>(image->Size())), picture);
        EXPECT_TRUE(spare.Held()) << "the spare was not taken back";
    }
}

TEST(DescriptorReserve, PicturesAreWrittenWhenEveryOtherDescriptorIsTaken)
{
    TempDir dir("vorlix_stream");
    const std::vector<std::uint8_t> rgb(static_cast<std::size_t>(32 * 24 * 3), 128);
    ASSERT_TRUE(WriteJpeg(rgb, dir.File("before.jpg"), 80, 32, 24, ""));
    {
        DescriptorsExhausted exhausted;
        ASSERT_TRUE(exhausted.Exhausted());
        // Twice: the reserve is taken back after each picture.
        EXPECT_TRUE(WriteJpeg(rgb, dir.File("vorlix_1.jpg"), 80, 32, 24, "during"));
        EXPECT_TRUE(WriteJpeg(rgb, dir.File("vorlix_2.jpg"), 80, 32, 24, "during"));
    }
    EXPECT_EQ(ReadFile(dir.File("vorlix_1.jpg")).substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(ReadFile(dir.File("vorlix_2.jpg")).substr(0, 2), "\xFF\xD8");
}

}  // namespace
}  // namespace vorlix
