// The hook table's defaults and setters, and the byte and exception dumps
// written through the hooks.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "libkestrel/framework/QXException.h"
#include "libkestrel/trace/QXTrace.h"

namespace {

struct Call {
    int level;
    std::string text;
};
std::vector<Call> g_calls;
std::vector<int> g_checked;
int g_offLevel = -1;

std::string Format(const char* format, va_list args)
{
    char buffer[4096];
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): every caller starts the list
    std::vsnprintf(buffer, sizeof buffer, format, args);
    return buffer;
}

void CaptureTrace(int level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    g_calls.push_back({level, Format(format, args)});
    va_end(args);
}

void CaptureError(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    g_calls.push_back({0, Format(format, args)});
    va_end(args);
}

int CheckAllButOff(int level)
{
    g_checked.push_back(level);
    return level == g_offLevel ? 0 : 1;
}

class TraceHooksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_calls.clear();
        g_checked.clear();
    }
    void TearDown() override
    {
        SetTraceFunction(&QXTraceNull);
        SetTracelnFunction(&QXTraceNull);
        SetErrorFunction(&QXErrorNull);
        SetCheckLevelFunction(&AlwaysTrue);
    }
    static std::string Joined()
    {
        std::string all;
        for (const Call& c : g_calls) {
            all += c.text;
        }
        return all;
    }
};

TEST_F(TraceHooksTest, DefaultsDoNothingAndCheckLevelIsAlwaysTrue)
{
    EXPECT_EQ(QXTrace, &QXTraceNull);
    EXPECT_EQ(QXTraceln, &QXTraceNull);
    EXPECT_EQ(QXError, &QXErrorNull);
    EXPECT_EQ(CheckLevel, &AlwaysTrue);
    EXPECT_EQ(QXLockTrace, &QXLockNull);
    EXPECT_EQ(QXSetLogFile, &QXSetLogFileNull);
    QXTrace(240, "%s %d", "ignored", 1);
    QXTraceln(245, "%s", "ignored");
    QXError("%s", "ignored");
    for (int level = 0; level <= 255; ++level) {
        ASSERT_EQ(CheckLevel(level), 1) << level;
    }
}

TEST_F(TraceHooksTest, ErrorModeAloneLeavesTraceHooksAtDefaults)
{
    SetErrorFunction(&CaptureError);
    EXPECT_EQ(QXTrace, &QXTraceNull);
    EXPECT_EQ(QXTraceln, &QXTraceNull);
    EXPECT_EQ(CheckLevel, &AlwaysTrue);
    QXError("disk %d full", 2);
    QXTraceln(240, "not captured");
    ASSERT_EQ(g_calls.size(), 1U);
    EXPECT_EQ(g_calls[0].text, "disk 2 full");
}

void LockA() {}
void UnlockA() {}
void Title(const char*) {}

TEST_F(TraceHooksTest, SettersInstallTheirHooksAtOnce)
{
    SetTraceLockFunctions(&LockA, &UnlockA);
    EXPECT_EQ(QXLockTrace, &LockA);
    EXPECT_EQ(QXUnlockTrace, &UnlockA);
    EXPECT_EQ(QXLockError, &QXLockNull);
    SetErrorLockFunctions(&UnlockA, &LockA);
    EXPECT_EQ(QXLockError, &UnlockA);
    EXPECT_EQ(QXUnlockError, &LockA);
    SetTraceTitleFunction(&Title);
    EXPECT_EQ(QXSetTraceTitle, &Title);
    SetTraceLockFunctions(&QXLockNull, &QXLockNull);
    SetErrorLockFunctions(&QXLockNull, &QXLockNull);
    SetTraceTitleFunction(&QXSetTraceTitleNull);

    SetTracelnFunction(&CaptureTrace);
    QXTraceln(241, "line %d", 7);
    ASSERT_EQ(g_calls.size(), 1U);
    EXPECT_EQ(g_calls[0].level, 241);
    EXPECT_EQ(g_calls[0].text, "line 7");
}

TEST_F(TraceHooksTest, TraceBytesSixteenPerLineThenEmptyLine)
{
    SetTraceFunction(&CaptureTrace);
    std::vector<unsigned char> bytes(32);
    for (int i = 0; i < 32; ++i) {
        bytes[i] = static_cast<unsigned char>(i * 8);
    }
    QXTraceBytes(102, bytes.data(), 32);
    EXPECT_EQ(g_calls.size(), 32U + 2U + 1U);
    std::string expected;
    for (int i = 0; i < 32; ++i) {
        char item[8];
        std::snprintf(item, sizeof item, "<0x%02x>", i * 8);
        expected += item;
        if (i % 16 == 15) {
            expected += "\n";
        }
    }
    expected += "\n";
    EXPECT_EQ(Joined(), expected);
    EXPECT_EQ(Joined().substr(0, 12), "<0x00><0x08>");
    for (const Call& c : g_calls) {
        EXPECT_EQ(c.level, 102);
    }
}

TEST_F(TraceHooksTest, FormattedDumpRows)
{
    SetTraceFunction(&CaptureTrace);
    const std::string bytes = std::string("ABCDEFGHIJKLMNO~") + std::string("\x00} \xff", 4);
    QXTraceBytesFormatted(240, bytes.data(), static_cast<int>(bytes.size()));
    ASSERT_EQ(g_calls.size(), 2U);
    EXPECT_EQ(g_calls[0].text, "0000  41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 7e    ABCDEFGHIJKLMNO. \n");
    EXPECT_EQ(g_calls[1].text, "0016  00 7d 20 ff" + std::string(38, ' ') + "  .} ." + std::string(13, ' ') + "\n");
}

TEST_F(TraceHooksTest, FormattedDumpOfNoneAndOneFullRow)
{
    SetTraceFunction(&CaptureTrace);
    QXTraceBytesFormatted(240, "", 0);
    ASSERT_EQ(g_calls.size(), 1U);
    EXPECT_EQ(g_calls[0].text, "0000  " + std::string(49, ' ') + "  " + std::string(17, ' ') + "\n");
    g_calls.clear();
    const std::string sixteen = "0123456789abcdef";
    QXTraceBytesFormatted(240, sixteen.data(), 16);
    ASSERT_EQ(g_calls.size(), 1U);
    EXPECT_EQ(g_calls[0].text.substr(0, 6), "0000  ");
    EXPECT_EQ(g_calls[0].text.substr(57), "0123456789abcdef \n");
}

TEST_F(TraceHooksTest, FormattedDumpAtAnOffLevelWritesNothing)
{
    SetTraceFunction(&CaptureTrace);
    SetCheckLevelFunction(&CheckAllButOff);
    g_offLevel = 101;
    QXTraceBytesFormatted(101, "abc", 3);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(g_checked, std::vector<int>{101});
    QXTraceBytesFormatted(102, "abc", 3);
    EXPECT_EQ(g_calls.size(), 1U);
}

// An exception of the framework that is not one of the tools library's own.
class OtherException : public kestrel::CFrameworkException {
public:
    [[nodiscard]] std::string Message() const override { return "socket closed"; }
};

TEST_F(TraceHooksTest, ExceptionsReachTraceAndErrorModes)
{
    SetTraceFunction(&CaptureTrace);
    SetErrorFunction(&CaptureError);
    const kestrel::CGeneralException own(5, "String is not int (operator int)", "dir/QXString.cpp", 42);
    QXExceptionTrace(own, 243);
    ASSERT_EQ(g_calls.size(), 1U);
    EXPECT_EQ(g_calls[0].level, 243);
    EXPECT_EQ(g_calls[0].text, own.Message() + "\n");
    EXPECT_NE(g_calls[0].text.find("String is not int (operator int)"), std::string::npos);

    g_calls.clear();
    QXExceptionError(own);
    ASSERT_EQ(g_calls.size(), 3U);
    EXPECT_NE(g_calls[0].text.find("    STD_EXH    Handled exception\n"), std::string::npos);
    EXPECT_EQ(g_calls[1].text, own.Message());
    EXPECT_EQ(g_calls[2].text, "\r\n");

    g_calls.clear();
    QXExceptionError(OtherException());
    ASSERT_EQ(g_calls.size(), 1U);
    EXPECT_EQ(g_calls[0].text, "socket closed\n");
}

}  // namespace
