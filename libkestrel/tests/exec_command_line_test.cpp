// Command lines are split by the quoting rules, and QuoteArgument is their
// exact inverse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libkestrel/exec/CommandLine.h"

namespace {

using kestrel::exec::QuoteArgument;
using kestrel::exec::SplitCommandLine;
using Args = std::vector<std::string>;

TEST(ExecCommandLine, BlanksSeparateAndRunsOfBlanksCountOnce)
{
    EXPECT_EQ(SplitCommandLine("  prog\t-a   b  "), (Args{"prog", "-a", "b"}));
    EXPECT_TRUE(SplitCommandLine("   ").empty());
    EXPECT_TRUE(SplitCommandLine("").empty());
}

TEST(ExecCommandLine, QuotesGroupAndAreRemoved)
{
    EXPECT_EQ(SplitCommandLine(R"(sh -c "exit 3")"), (Args{"sh", "-c", "exit 3"}));
    EXPECT_EQ(SplitCommandLine(R"(a"b c"d e)"), (Args{"ab cd", "e"}));
    EXPECT_EQ(SplitCommandLine(R"(prog "" x)"), (Args{"prog", "", "x"}));
    // an unclosed quote runs to the end of the line
    EXPECT_EQ(SplitCommandLine(R"(prog "a b)"), (Args{"prog", "a b"}));
}

TEST(ExecCommandLine, BackslashesBeforeAQuote)
{
    // 2n backslashes: n backslashes, the quote toggles
    EXPECT_EQ(SplitCommandLine(R"(p a\\"b c")"), (Args{"p", R"(a\b c)"}));
    EXPECT_EQ(SplitCommandLine(R"(p a\\\\"b")"), (Args{"p", R"(a\\b)"}));
    // 2n+1 backslashes: n backslashes and a literal quote
    EXPECT_EQ(SplitCommandLine(R"(p a\"b)"), (Args{"p", R"(a"b)"}));
    EXPECT_EQ(SplitCommandLine(R"(p a\\\"b c)"), (Args{"p", R"(a\"b)", "c"}));
    EXPECT_EQ(SplitCommandLine(R"(p "x \"y\" z")"), (Args{"p", R"(x "y" z)"}));
}

TEST(ExecCommandLine, OtherBackslashesAreLiteral)
{
    EXPECT_EQ(SplitCommandLine(R"(p C:\dir\file.jpg a\\b\)"), (Args{"p", R"(C:\dir\file.jpg)", R"(a\\b\)"}));
}

TEST(ExecCommandLine, ShellCharactersStayArgumentText)
{
    EXPECT_EQ(SplitCommandLine("prog Z_1_IN;rm -rf x $(id) `id` |x &y"),
              (Args{"prog", "Z_1_IN;rm", "-rf", "x", "$(id)", "`id`", "|x", "&y"}));
}

TEST(ExecCommandLine, QuoteArgumentRoundTrips)
{
    const std::vector<std::string> samples = {
        "",        "plain",    "two words", R"(quote"inside)", R"(trail\)", R"(trail\\ x)",
        R"(a\"b)", R"(\\"\\)", "tab\there", "; rm -rf x",
    };
    for (const std::string& sample : samples) {
        const std::string line = "prog " + QuoteArgument(sample) + " end";
        EXPECT_EQ(SplitCommandLine(line), (Args{"prog", sample, "end"})) << line;
    }
    EXPECT_EQ(QuoteArgument("plain"), "plain");
}

}  // namespace
