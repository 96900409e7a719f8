// INI profile files: lookup rules, writes, deletion, byte-exact values,
// untouched files on no-op writes, and concurrent writers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "libkestrel/profile/Profile.h"

namespace fs = std::filesystem;
using namespace kestrel::profile;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kestrel_profile_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        file_ = dir_ + "/test.ini";
    }
    void TearDown() override { fs::remove_all(dir_); }

    void WriteRaw(const std::string& text)
    {
        std::ofstream out(file_, std::ios::binary);
        out << text;
    }
    std::string ReadRaw() const
    {
        std::ifstream in(file_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    std::string dir_;
    std::string file_;
};

TEST_F(ProfileTest, SectionsAndKeysIgnoreCase)
{
    WriteRaw("[General]\nMax Jpg = 50\nName=Cam\n\n[Other]\nName=Second\n");
    EXPECT_EQ(GetInt(file_, "GENERAL", "max jpg", 7), 50);
    EXPECT_EQ(GetString(file_, "general", "NAME", "x"), "Cam");
    EXPECT_EQ(GetString(file_, "oThEr", "name", "x"), "Second");
    // Writing through another spelling replaces the key instead of adding one.
    ASSERT_TRUE(WriteString(file_, "GENERAL", "NAME", "Front"));
    EXPECT_EQ(KeyNames(file_, "general"), (std::vector<std::string>{"Max Jpg", "Name"}));
    EXPECT_EQ(GetString(file_, "General", "Name", "x"), "Front");
    EXPECT_EQ(SectionNames(file_), (std::vector<std::string>{"General", "Other"}));
}

TEST_F(ProfileTest, IntegerReadingRules)
{
    WriteRaw("[s]\na=-12\nb=+7\nc=12abc\nd=abc\ne=\nf=  42  \ng=99999999999999999999\n");
    EXPECT_EQ(GetInt(file_, "s", "a", 1), -12);
    EXPECT_EQ(GetInt(file_, "s", "b", 1), 7);
    EXPECT_EQ(GetInt(file_, "s", "c", 1), 12);
    EXPECT_EQ(GetInt(file_, "s", "d", 1), 0);
    EXPECT_EQ(GetInt(file_, "s", "e", 1), 0);
    EXPECT_EQ(GetInt(file_, "s", "f", 1), 42);
    EXPECT_EQ(GetInt(file_, "s", "g", 1), INT_MAX);
    EXPECT_EQ(GetInt(file_, "s", "missing", 33), 33);
    EXPECT_EQ(GetInt(file_, "nosection", "a", -5), -5);
    EXPECT_EQ(GetInt(dir_ + "/absent.ini", "s", "a", 9), 9);
}

TEST_F(ProfileTest, StringsAreCutAndFallBack)
{
    ASSERT_TRUE(WriteString(file_, "s", "long", std::string(300, 'x')));
    EXPECT_EQ(GetString(file_, "s", "long", "").size(), 255u);
    EXPECT_EQ(GetString(file_, "s", "long", "", 10), std::string(10, 'x'));
    EXPECT_EQ(Read(file_, "s", "long")->size(), 300u);
    EXPECT_EQ(GetString(file_, "s", "none", "fallback text", 8), "fallback");
    EXPECT_FALSE(Read(file_, "s", "none").has_value());
}

TEST_F(ProfileTest, WriteCreatesFileAndSections)
{
    ASSERT_TRUE(WriteInt(file_, "One", "a", 1));
    ASSERT_TRUE(WriteInt(file_, "Two", "b", 2));
    ASSERT_TRUE(WriteInt(file_, "One", "c", 3));
    EXPECT_EQ(ReadRaw(), "[One]\na=1\nc=3\n\n[Two]\nb=2\n");
    EXPECT_FALSE(WriteString(dir_ + "/no/such/dir.ini", "s", "k", "v"));
}

TEST_F(ProfileTest, DeleteKeyAndSection)
{
    WriteRaw("; comment kept\n[A]\nx=1\ny=2\n\n[B]\nz=3\n");
    ASSERT_TRUE(DeleteKey(file_, "a", "X"));
    EXPECT_FALSE(Read(file_, "A", "x").has_value());
    EXPECT_EQ(GetInt(file_, "A", "y", 0), 2);
    ASSERT_TRUE(DeleteSection(file_, "b"));
    EXPECT_TRUE(KeyNames(file_, "B").empty());
    EXPECT_EQ(SectionNames(file_), (std::vector<std::string>{"A"}));
    EXPECT_EQ(ReadRaw().rfind("; comment kept\n", 0), 0u);
}

TEST_F(ProfileTest, HighBytesEqualsAndEdgeBlanksRoundTrip)
{
    std::string high;
    for (int b = 0x80; b <= 0xFF; ++b) {
        high.push_back(static_cast<char>(b));
    }
    const std::string withEquals = "a=b==c=";
    const std::string edges = "  padded \"quoted\"  ";
    ASSERT_TRUE(WriteString(file_, "Secrets", "Password", high));
    ASSERT_TRUE(WriteString(file_, "Secrets", "Equals", withEquals));
    ASSERT_TRUE(WriteString(file_, "Secrets", "Edges", edges));
    ASSERT_TRUE(WriteString(file_, "Secrets", "Quoted", "\"q\""));
    EXPECT_EQ(Read(file_, "secrets", "password"), high);
    EXPECT_EQ(Read(file_, "secrets", "equals"), withEquals);
    EXPECT_EQ(Read(file_, "secrets", "edges"), edges);
    EXPECT_EQ(Read(file_, "secrets", "quoted"), "\"q\"");
    // A value that would break the line structure is refused, not stored.
    EXPECT_FALSE(WriteString(file_, "Secrets", "Bad", "line\nbreak"));
    EXPECT_FALSE(WriteString(file_, "Secrets", "Bad=key", "v"));
    EXPECT_FALSE(Read(file_, "secrets", "bad").has_value());
}

TEST_F(ProfileTest, UnchangedWriteTouchesNothing)
{
    ASSERT_TRUE(WriteString(file_, "S", "k", "v"));
    struct stat before {};
    ASSERT_EQ(::stat(file_.c_str(), &before), 0);
    // Make an accidental rewrite visible through the modification time.
    ::usleep(20000);
    ASSERT_TRUE(WriteString(file_, "s", "K", "v"));
    ASSERT_TRUE(DeleteKey(file_, "S", "absent"));
    ASSERT_TRUE(DeleteSection(file_, "absent"));
    struct stat after {};
    ASSERT_EQ(::stat(file_.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    // Deleting from a missing file creates nothing.
    const std::string missing = dir_ + "/missing.ini";
    ASSERT_TRUE(DeleteKey(missing, "S", "k"));
    EXPECT_FALSE(fs::exists(missing));
}

TEST_F(ProfileTest, TwoProcessesLoseNoKeys)
{
    constexpr int kWrites = 1000;
    auto writer = [this](const char* prefix) {
        for (int i = 0; i < kWrites; ++i) {
            // Each write adds a new key, so a lost update would drop one.
            if (!WriteInt(file_, "Shared", std::string(prefix) + std::to_string(i), i)) {
                return false;
            }
        }
        return true;
    };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(writer("child") ? 0 : 1);
    }
    const bool parentOk = writer("parent");
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(parentOk);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(KeyNames(file_, "Shared").size(), 2u * kWrites);
    for (int i = 0; i < kWrites; i += 97) {
        EXPECT_EQ(GetInt(file_, "Shared", "child" + std::to_string(i), -1), i);
        EXPECT_EQ(GetInt(file_, "Shared", "parent" + std::to_string(i), -1), i);
    }
}

TEST_F(ProfileTest, ReaderNeverSeesPartialFile)
{
    // A large section makes a torn write likely to be seen if writes were in place.
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(WriteInt(file_, "Big", "key" + std::to_string(i), i));
    }
    ASSERT_TRUE(WriteInt(file_, "Tail", "end", 1));
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!stop.load()) {
            // The last key and the trailing section must always be there.
            if (GetInt(file_, "Big", "key199", -1) != 199 || GetInt(file_, "Tail", "end", -1) != 1) {
                bad.fetch_add(1);
            }
            reads.fetch_add(1);
        }
    });
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(WriteInt(file_, "Big", "key0", i));
    }
    stop.store(true);
    reader.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(bad.load(), 0);
}

}  // namespace
