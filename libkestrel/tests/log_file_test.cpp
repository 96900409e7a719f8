// The rotating log file: slice naming and rotation, the window of kept
// slices, the restart in the highest slice, the directory probe, and the
// reference count.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "libkestrel/logfile/CLogFile.h"
#include "libkestrel/testkit/TestKit.h"

namespace {

using kestrel::CLogFile;
using kestrel::test::TempDir;

std::vector<std::string> Names(const TempDir& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(LogFileTest, FirstWriteGoesToSliceZero)
{
    const TempDir dir("logfile");
    CLogFile log(dir.File("app_log").c_str(), 100, 2);
    log.WriteString("hello\n");
    EXPECT_EQ(Names(dir), std::vector<std::string>{"app_log.0"});
    EXPECT_EQ(dir.Read("app_log.0"), "hello\n");
    EXPECT_EQ(log.SliceNumber(), 0u);
}

TEST(LogFileTest, FullSlicesRotateAndOnlyTheNewestStay)
{
    const TempDir dir("logfile");
    CLogFile log(dir.File("app_log").c_str(), 10, 2);
    log.WriteString("0123456789");
    log.WriteString("abcdefghij");
    log.WriteString("ABCDEFGHIJ");
    // Each write found the open slice full: .1 and .2 follow, .0 leaves.
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"app_log.1", "app_log.2"}));
    EXPECT_EQ(dir.Read("app_log.1"), "abcdefghij");
    EXPECT_EQ(dir.Read("app_log.2"), "ABCDEFGHIJ");
}

TEST(LogFileTest, ASliceExceedsTheSizeByAtMostTheLastWrite)
{
    const TempDir dir("logfile");
    CLogFile log(dir.File("big").c_str(), 10, 3);
    log.WriteString("12345678");
    log.WriteString("12345678");  // still fits the test: 8 < 10
    log.WriteString("x");
    EXPECT_EQ(dir.Read("big.0"), "1234567812345678");
    EXPECT_EQ(dir.Read("big.1"), "x");
}

TEST(LogFileTest, RestartContinuesInTheHighestSlice)
{
    const TempDir dir("logfile");
    dir.Write("app_log.3", "three\n");
    dir.Write("app_log.4", "four\n");
    dir.Write("app_log.x", "not a slice");
    dir.Write("app_log.10.bak", "not a slice either");
    dir.Write("other.9", "another log");
    CLogFile log(dir.File("app_log").c_str(), 1000, 2);
    log.WriteString("more\n");
    EXPECT_EQ(log.SliceNumber(), 4u);
    EXPECT_EQ(dir.Read("app_log.4"), "four\nmore\n");
    EXPECT_EQ(dir.Read("app_log.3"), "three\n");
}

TEST(LogFileTest, RestartWithADottedBaseNameFindsItsSlices)
{
    const TempDir dir("logfile");
    dir.Write("camera.log.7", "seven\n");
    CLogFile log(dir.File("camera.log").c_str(), 1000, 2);
    log.WriteString("eight\n");
    EXPECT_EQ(dir.Read("camera.log.7"), "seven\neight\n");
}

TEST(LogFileTest, RestartOverAFullSliceRotatesOnTheFirstWrite)
{
    const TempDir dir("logfile");
    dir.Write("app_log.5", "0123456789");
    CLogFile log(dir.File("app_log").c_str(), 10, 2);
    log.WriteString("new");
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"app_log.5", "app_log.6"}));
    EXPECT_EQ(dir.Read("app_log.6"), "new");
}

TEST(LogFileTest, ASliceRemovedByHandIsNoFailure)
{
    const TempDir dir("logfile");
    CLogFile log(dir.File("app_log").c_str(), 4, 1);
    log.WriteString("aaaa");
    std::filesystem::remove(dir.File("app_log.0"));
    EXPECT_NO_THROW(log.WriteString("bbbb"));
    EXPECT_EQ(Names(dir), std::vector<std::string>{"app_log.1"});
}

TEST(LogFileTest, ProbeOfADirectoryThatTakesNoFilesThrows)
{
    const TempDir dir("logfile");
    const std::string missing = dir.File("no/such/dir/log");
    EXPECT_THROW(CLogFile(missing.c_str(), 100, 2), kestrel::CFileException);
    // The probe is removed after a successful check.
    CLogFile ok(dir.File("log").c_str(), 100, 2);
    EXPECT_TRUE(Names(dir).empty());
}

TEST(LogFileTest, AFileWhereTheDirectoryShouldBeIsRefusedWithItsError)
{
    const TempDir dir("logfile");
    dir.Write("traces", "a file, not a directory");
    try {
        CLogFile log(dir.File("traces/log").c_str(), 100, 2);
        ADD_FAILURE() << "a log under a file was accepted";
    } catch (const kestrel::CFileException& e) {
        EXPECT_EQ(e.Error(), ENOTDIR);
    }
}

TEST(LogFileTest, ZeroSlicesKeepsOne)
{
    const TempDir dir("logfile");
    CLogFile log(dir.File("one").c_str(), 3, 0);
    log.WriteString("abc");
    log.WriteString("def");
    EXPECT_EQ(Names(dir), std::vector<std::string>{"one.1"});
    EXPECT_EQ(dir.Read("one.1"), "def");
}

TEST(LogFileTest, ReferenceCountFreesAtZero)
{
    const TempDir dir("logfile");
    auto* log = new CLogFile(dir.File("shared").c_str(), 100,
                             2);  // NOLINT(cppcoreguidelines-owning-memory): the count frees it
    log->AddRef();
    EXPECT_EQ(log->NbRef(), 2u);
    log->DelRef();
    EXPECT_EQ(log->NbRef(), 1u);
    log->WriteString("still here\n");
    log->DelRef();  // freed: the sanitizer build catches a leak or a double free
    EXPECT_EQ(dir.Read("shared.0"), "still here\n");
}

TEST(LogFileTest, CloseThenWriteReopensAndAppends)
{
    const TempDir dir("logfile");
    CLogFile log(dir.File("app").c_str(), 100, 2);
    log.WriteString("a");
    log.Close();
    EXPECT_FALSE(log.IsSliceOpen());
    log.WriteString("b");
    EXPECT_TRUE(log.IsSliceOpen());
    EXPECT_EQ(log.GetPosition(), 2);
    EXPECT_EQ(dir.Read("app.0"), "ab");
}

}  // namespace
