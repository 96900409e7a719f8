// Owning descriptors, whole-file reads and the atomic file writer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "libkestrel/framework/FileIo.h"
#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/testkit/TestKit.h"

namespace {

using kestrel::AtomicFile;
using kestrel::Durability;
using kestrel::UniqueFd;
using kestrel::test::TempDir;

bool IsOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

std::size_t FilesIn(const std::string& dir)
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) {
        ++count;
    }
    return count;
}

TEST(UniqueFd, ClosesOnDestructionResetAndMoveAssignmentButNotOnRelease)
{
    int raw = -1;
    {
        UniqueFd fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        raw = fd.Get();
        ASSERT_TRUE(fd.Valid());
    }
    EXPECT_FALSE(IsOpen(raw));

    UniqueFd a(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    UniqueFd b(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int first = a.Get();
    const int second = b.Get();
    a = std::move(b);
    EXPECT_FALSE(IsOpen(first));
    EXPECT_TRUE(IsOpen(second));
    EXPECT_EQ(a.Get(), second);
    EXPECT_FALSE(b.Valid());  // NOLINT(bugprone-use-after-move,clang-analyzer-cplusplus.Move): checked on purpose

    const int released = a.Release();
    EXPECT_FALSE(a.Valid());
    EXPECT_TRUE(IsOpen(released));
    UniqueFd again(released);
    errno = EDOM;
    again.Reset();
    EXPECT_EQ(errno, EDOM) << "closing must not change what the caller's errno says";
    EXPECT_FALSE(IsOpen(released));
}

TEST(UniqueFd, CloseReportsTheResult)
{
    UniqueFd fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    EXPECT_TRUE(fd.Close());
    EXPECT_FALSE(fd.Valid());
    EXPECT_TRUE(fd.Close()) << "closing nothing is not a failure";
}

TEST(FileIo, WriteAllDeliversEveryByteThroughShortWrites)
{
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    std::string data(1 << 20, '\0');  // far more than a pipe holds: the kernel takes it piecewise
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 7 + i / 251);
    }
    std::string received;
    std::thread reader([&] {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(readEnd.Get(), buffer, sizeof buffer)) > 0) {
            received.append(buffer, static_cast<std::size_t>(n));
        }
    });
    EXPECT_TRUE(kestrel::WriteAll(writeEnd.Get(), data));
    writeEnd.Reset();
    reader.join();
    EXPECT_EQ(received, data);
}

TEST(FileIo, ReadWholeFileTellsMissingAndTooLong)
{
    TempDir dir;
    errno = 0;
    EXPECT_FALSE(kestrel::ReadWholeFile(dir.File("absent")).has_value());
    EXPECT_EQ(errno, ENOENT);

    dir.Write("ten", "0123456789");
    EXPECT_EQ(kestrel::ReadWholeFile(dir.File("ten")).value_or("?"), "0123456789");
    EXPECT_EQ(kestrel::ReadWholeFile(dir.File("ten"), 10).value_or("?"), "0123456789");
    errno = 0;
    EXPECT_FALSE(kestrel::ReadWholeFile(dir.File("ten"), 9).has_value());
    EXPECT_EQ(errno, EFBIG);
}

TEST(AtomicFile, CommitReplacesTheTargetAndLeavesNoTemporaryFile)
{
    TempDir dir;
    dir.Write("settings.ini", "old");
    ASSERT_EQ(::chmod(dir.File("settings.ini").c_str(), 0600), 0);

    auto file = AtomicFile::Open(dir.File("settings.ini"), Durability::kSynced);
    ASSERT_TRUE(file.has_value());
    ASSERT_TRUE(file->Write("new contents"));
    EXPECT_EQ(dir.Read("settings.ini"), "old") << "the target changes only at Commit";
    ASSERT_TRUE(file->Commit());

    EXPECT_EQ(dir.Read("settings.ini"), "new contents");
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("settings.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "a rewrite keeps the file's permissions";
    EXPECT_EQ(FilesIn(dir.Path()), 1u);
}

TEST(AtomicFile, AbandonedWriteLeavesTheTargetUntouched)
{
    TempDir dir;
    dir.Write("picture.jpg", "previous picture");
    {
        auto file = AtomicFile::Open(dir.File("picture.jpg"), Durability::kRenamed);
        ASSERT_TRUE(file.has_value());
        ASSERT_TRUE(file->Write("half a pic"));
        EXPECT_EQ(FilesIn(dir.Path()), 2u);
    }
    EXPECT_EQ(dir.Read("picture.jpg"), "previous picture");
    EXPECT_EQ(FilesIn(dir.Path()), 1u);
}

TEST(AtomicFile, FailuresAreReportedAndCleanedUp)
{
    TempDir dir;
    errno = 0;
    EXPECT_FALSE(AtomicFile::Open(dir.File("missing/file"), Durability::kSynced).has_value());
    EXPECT_EQ(errno, ENOENT);

    // A directory in the target's place: the rename fails, nothing is left behind.
    std::filesystem::create_directory(dir.File("taken"));
    std::filesystem::create_directory(dir.File("taken/inside"));
    errno = 0;
    EXPECT_FALSE(kestrel::AtomicWriteFile(dir.File("taken"), "x"));
    EXPECT_NE(errno, 0);
    EXPECT_EQ(FilesIn(dir.Path()), 1u);
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("taken")));
}

TEST(AtomicFile, AReaderSeesOneWholeVersionOrTheOther)
{
    TempDir dir;
    const std::string a(200000, 'a');
    const std::string b(300000, 'b');
    dir.Write("file", a);
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!stop.load()) {
            const std::string seen = kestrel::ReadWholeFile(dir.File("file")).value_or("");
            if (seen != a && seen != b) {
                torn.fetch_add(1);
            }
            reads.fetch_add(1);
        }
    });
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(kestrel::AtomicWriteFile(dir.File("file"), i % 2 ? a : b, Durability::kRenamed));
    }
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return reads.load() > 10; }));
    stop.store(true);
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

}  // namespace
