// The trace macros build one QXTraceln call with the head in the documented
// order and never change the caller's last error.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "libkestrel/error/QXError.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"

namespace {

struct Captured {
    int level;
    std::string format;
    std::string text;
};
std::vector<Captured> g_lines;

void CaptureLine(int level, const char* format, ...)
{
    char buffer[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized)
    va_end(args);
    errno = 0;  // a trace library may make system calls of its own
    g_lines.push_back({level, format, buffer});
}

class TraceLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_lines.clear();
        SetTracelnFunction(&CaptureLine);
    }
    void TearDown() override { SetTracelnFunction(&QXTraceNull); }
};

TEST_F(TraceLineTest, WarnLineHasMarkupTagHeadAndClosing)
{
    errno = 0;
    TRACE_WARN("Unable to bind socket %d", 6666);
    ASSERT_EQ(g_lines.size(), 1U);
    EXPECT_EQ(g_lines[0].level, 243);
    EXPECT_EQ(g_lines[0].format, "<COLOR 7>[WARN ] %s 0x%X %s %s(%d): Unable to bind socket %d</COLOR>");
    const std::string& text = g_lines[0].text;
    EXPECT_EQ(text.rfind("<COLOR 7>[WARN ] ", 0), 0U);
    EXPECT_NE(text.find(" 0     trace_line_test.cpp("), std::string::npos) << text;
    EXPECT_NE(text.find("): Unable to bind socket 6666</COLOR>"), std::string::npos) << text;
}

TEST_F(TraceLineTest, EveryTagAgreesWithItsLevel)
{
    TRACE_DEBUG("d");
    TRACE_TRACE("t");
    TRACE_INFO("i");
    TRACE_ERROR("e");
    TRACE_FAULT("f");
    TRACE_LEVEL(102, "plain %s", "x");
    ASSERT_EQ(g_lines.size(), 6U);
    EXPECT_EQ(g_lines[0].level, 240);
    EXPECT_EQ(g_lines[0].format.rfind("<COLOR 3>[DEBUG] %s", 0), 0U);
    EXPECT_EQ(g_lines[1].level, 241);
    EXPECT_EQ(g_lines[1].format.rfind("[TRACE] %s", 0), 0U);
    EXPECT_EQ(g_lines[2].level, 242);
    EXPECT_EQ(g_lines[2].format.rfind("<COLOR 4>[INFO ] ", 0), 0U);
    EXPECT_EQ(g_lines[3].level, 244);
    EXPECT_EQ(g_lines[3].format.rfind("<HCOLOR 6>[ERROR] ", 0), 0U);
    EXPECT_EQ(g_lines[4].level, 245);
    EXPECT_EQ(g_lines[4].format.rfind("<HCOLOR 7>[FAULT] ", 0), 0U);
    EXPECT_EQ(g_lines[5].level, 102);
    EXPECT_EQ(g_lines[5].format, "%s 0x%X %s %s(%d): plain %s");
}

TEST_F(TraceLineTest, ErrorColumnShowsTheFailedCallAndErrnoSurvives)
{
    FILE* missing = std::fopen("/nonexistent-dir/x", "r");  // NOLINT(cppcoreguidelines-owning-memory): null expected
    ASSERT_EQ(missing, nullptr);
    const int failure = errno;
    TRACE_WARN("open failed");
    EXPECT_EQ(errno, failure);
    ASSERT_EQ(g_lines.size(), 1U);
    char column[16];
    std::snprintf(column, sizeof column, " %-5d ", failure);
    EXPECT_NE(g_lines[0].text.find(column), std::string::npos) << g_lines[0].text;
}

TEST_F(TraceLineTest, DetailLineCarriesCodeAndText)
{
    errno = ENOENT;
    TRACE_WARN_DETAIL();
    ASSERT_EQ(g_lines.size(), 1U);
    EXPECT_EQ(g_lines[0].format, "<COLOR 7>[WARN ] %s 0x%X %s %s(%d):       (%d,%s)</COLOR>");
    EXPECT_NE(g_lines[0].text.find("(2,No such file or directory)"), std::string::npos) << g_lines[0].text;
}

TEST_F(TraceLineTest, NothingIsBuiltWhileTheHookIsTheDefault)
{
    SetTracelnFunction(&QXTraceNull);
    int evaluated = 0;
    TRACE_INFO("%d", ++evaluated);
    EXPECT_EQ(evaluated, 0);
}

}  // namespace
