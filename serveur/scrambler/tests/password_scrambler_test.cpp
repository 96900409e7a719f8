// Password scrambling: known bytes, round trips of printable texts of every
// length, the length limit and failures that must leave the result alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serveur/scrambler/PasswordScrambler.h"

using vorlix::ScramblePassword;
using vorlix::UnscramblePassword;

namespace {

// m = ("K" + "W" + "Z") mod 99 = 252 mod 99 = 54 for every case below.
TEST(PasswordScrambler, KnownBytes)
{
    std::string out;
    // Key "A": a = (54 + 65) mod 127 = 119; "a" (97) <= a gives 97 + 128 - 119.
    ASSERT_TRUE(ScramblePassword("a", "A", out));
    EXPECT_EQ(out, "jcZS");
    // Key "P": (54 + 80) mod 127 = 7 < 32, so a = 39; "a" > a gives 97 + 32 - 39.
    ASSERT_TRUE(ScramblePassword("a", "P", out));
    ASSERT_EQ(out.size(), 4U);
    EXPECT_EQ(out[0], 'Z');
    // The key text restarts at its beginning: "AP" alternates the two shifts.
    ASSERT_TRUE(ScramblePassword("aa", "AP", out));
    EXPECT_EQ(out.substr(0, 2), "jZ");
}

TEST(PasswordScrambler, RoundTripsEveryPrintableTextLength)
{
    const std::vector<std::string> keys = {"Authentification client", "Password", "Password 3", "1804289383", "7", ""};
    for (const std::string& key : keys) {
        for (std::size_t length = 0; length <= vorlix::kMaxPlainLength; ++length) {
            std::string plain;
            for (std::size_t i = 0; i < length; ++i) {
                // Every byte 32..127 shows up at many key positions.
                plain.push_back(static_cast<char>(32 + (i * 7 + length + key.size()) % 96));
            }
            std::string scrambled;
            ASSERT_TRUE(ScramblePassword(plain, key, scrambled)) << length;
            ASSERT_EQ(scrambled.size(), length + 3);
            EXPECT_EQ(scrambled.find('\0'), std::string::npos) << "scrambled text must stay a C text";
            std::string back = "untouched";
            ASSERT_TRUE(UnscramblePassword(scrambled, key, back)) << "key '" << key << "' length " << length;
            ASSERT_EQ(back, plain);
        }
    }
}

TEST(PasswordScrambler, LongestTextGives255BytesAndLongerIsRefused)
{
    const std::string longest(252, '~');
    std::string out;
    ASSERT_TRUE(ScramblePassword(longest, "Password", out));
    EXPECT_EQ(out.size(), 255U);
    std::string refused = "previous";
    EXPECT_FALSE(ScramblePassword(std::string(253, 'a'), "Password", refused));
    EXPECT_EQ(refused, "previous");
}

TEST(PasswordScrambler, ShortScrambledTextFailsAndLeavesDestination)
{
    for (const std::string input : {"", "a", "ab"}) {
        std::string out = "keep me";
        EXPECT_FALSE(UnscramblePassword(input, "key", out));
        EXPECT_EQ(out, "keep me");
    }
}

TEST(PasswordScrambler, WrongKeyOrSeedIsDetected)
{
    std::string scrambled;
    ASSERT_TRUE(ScramblePassword("secret", "12345", scrambled));
    std::string out;
    EXPECT_FALSE(UnscramblePassword(scrambled, "54321", out));
    EXPECT_EQ(out.size(), 6U);  // the rest is still written
    EXPECT_FALSE(UnscramblePassword(scrambled, "12345", out, "ABC"));
    EXPECT_TRUE(UnscramblePassword(scrambled, "12345", out));
    EXPECT_EQ(out, "secret");
}

TEST(PasswordScrambler, HighBytesUnscrambleAsStored)
{
    // Key byte 0x8A: (54 + 138) mod 127 = 65; "A" (65) <= 65 gives 128 (0x80).
    std::string scrambled;
    ASSERT_TRUE(ScramblePassword("A", "\x8A", scrambled));
    EXPECT_EQ(static_cast<unsigned char>(scrambled[0]), 0x80);
    std::string out;
    ASSERT_TRUE(UnscramblePassword(scrambled, "\x8A", out));
    EXPECT_EQ(out, "A");
}

}  // namespace
