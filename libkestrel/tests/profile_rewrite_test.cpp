// INI rewrites: what is written can be read back, and a write changes the
// bytes of the key written and nothing else, whatever the file looks like.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"

using namespace kestrel::profile;

namespace {

class ProfileRewrite : public ::testing::Test {
protected:
    kestrel::test::TempDir dir_{"kestrel_profile"};
    std::string file_ = dir_.File("test.ini");
};

TEST_F(ProfileRewrite, KeysWithEdgeBlanksAreOneKeyForReadingAndWriting)
{
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(WriteString(file_, "Vorlix", " Port Web client", std::to_string(7000 + i)));
    }
    EXPECT_EQ(dir_.Read("test.ini"), "[Vorlix]\nPort Web client=7002\n");
    EXPECT_EQ(GetInt(file_, "Vorlix", " Port Web client", 0), 7002);
    EXPECT_EQ(GetInt(file_, " Vorlix ", "Port Web client ", 0), 7002);
    ASSERT_TRUE(DeleteKey(file_, "Vorlix", "\tPort Web client"));
    EXPECT_FALSE(Read(file_, "Vorlix", "Port Web client").has_value());
}

TEST_F(ProfileRewrite, OtherLinesKeepTheirOwnEndings)
{
    dir_.Write("test.ini", "[A]\nx=1\r\ny=2\nz=3");
    ASSERT_TRUE(WriteString(file_, "A", "y", "20"));
    EXPECT_EQ(dir_.Read("test.ini"), "[A]\nx=1\r\ny=20\nz=3");
    EXPECT_EQ(GetString(file_, "A", "x", "?"), "1") << "a line's CR is its ending, not part of its value";

    ASSERT_TRUE(WriteString(file_, "A", "w", "4"));
    EXPECT_EQ(dir_.Read("test.ini"), "[A]\nx=1\r\ny=20\nz=3\nw=4\n");

    dir_.Write("test.ini", "[A]\r\nx=1\r\n");
    ASSERT_TRUE(WriteString(file_, "B", "k", "v"));
    EXPECT_EQ(dir_.Read("test.ini"), "[A]\r\nx=1\r\n\r\n[B]\r\nk=v\r\n") << "new lines follow the file's own line ends";
}

// Files of random lines (sections, keys spelt with blanks and other cases,
// comments, blank lines, CR LF and LF mixed, no final line end, high bytes);
// after one write, every line but the key's is byte for byte the same, and
// the value reads back.
TEST_F(ProfileRewrite, OneWriteChangesNoOtherLine)
{
    std::mt19937 random(20261207);
    const std::vector<std::string> names = {"Port", "Max jpg", "Quality jpg", "\xe9t\xe9", "Name"};
    const std::vector<std::string> sections = {"Vorlix", "Vorlix FTP", "cl"};
    auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
    for (int round = 0; round < 150; ++round) {
        std::vector<std::string> lines;
        const int count = 1 + static_cast<int>(random() % 12);
        for (int i = 0; i < count; ++i) {
            std::string line;
            switch (random() % 6) {
                case 0:
                    line = "[" + pick(sections) + "]";
                    break;
                case 1:
                    line = "; comment " + std::to_string(i);
                    break;
                case 2:
                    line = "";
                    break;
                case 3:
                    line = " " + pick(names) + " = v" + std::to_string(i) + " ";
                    break;
                default:
                    line = pick(names) + "=" + std::to_string(i) + "\xff";
                    break;
            }
            lines.push_back(line + (random() % 3 == 0 ? "\r\n" : "\n"));
        }
        if (random() % 2 == 0) {  // no line end after the last line
            std::string& last = lines.back();
            last.erase(last.find_last_not_of("\r\n") + 1);
        }
        std::string before;
        for (const std::string& line : lines) {
            before += line;
        }
        dir_.Write("test.ini", before);

        const std::string section = pick(sections);
        const std::string key = pick(names);
        const std::string value = "new" + std::to_string(round);
        ASSERT_TRUE(WriteString(file_, section, key, value));
        ASSERT_EQ(GetString(file_, section, key, "?"), value) << "round " << round << " in:\n" << before;

        // Remove the written key's line from the new file: what remains is the
        // old file minus at most that key's old line (and plus at most a
        // section header, a separator and a line end for the last line).
        const std::string after = dir_.Read("test.ini");
        std::vector<std::string> kept;
        std::size_t pos = 0;
        while (pos < after.size()) {
            std::size_t end = after.find('\n', pos);
            end = end == std::string::npos ? after.size() : end + 1;
            kept.push_back(after.substr(pos, end - pos));
            pos = end;
        }
        std::size_t matched = 0;
        for (const std::string& line : lines) {
            std::string bare = line;
            bare.erase(bare.find_last_not_of("\r\n") + 1);
            bool found = false;
            for (const std::string& now : kept) {
                std::string nowBare = now;
                nowBare.erase(nowBare.find_last_not_of("\r\n") + 1);
                if (nowBare == bare && (now == line || &line == &lines.back())) {
                    found = true;
                    break;
                }
            }
            matched += found ? 1 : 0;
        }
        EXPECT_GE(matched + 1, lines.size()) << "round " << round << " before:\n" << before << "after:\n" << after;
        EXPECT_LE(after.size(), before.size() + section.size() + key.size() + value.size() + 12);
    }
}

}  // namespace
