// Error slots, their column text and descriptions, and the time, name and
// sleep helpers of the trace line head.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "libkestrel/error/QXError.h"

namespace {

TEST(ErrorCodes, LastStringColumns)
{
    ErrorUnset();
    errno = 5;
    EXPECT_STREQ(ErrorLastString(), "5    ");
    EXPECT_EQ(errno, 5) << "reading must not disturb the slot";
    ErrorSet(7);
    EXPECT_STREQ(ErrorLastString(), "U7   ");
    EXPECT_EQ(ErrorLast(), ErrorVal(7));
    ErrorSet(0);
    EXPECT_STREQ(ErrorLastString(), "0    ");
    ErrorUnset();
}

TEST(ErrorCodes, SocketSlotAnswersWhenSystemSlotIsClear)
{
    ErrorUnset();
    ErrorSysSet(10035);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(SocketErrorGet(), 10035U);
    EXPECT_EQ(ErrorLast(), 10035U);
    EXPECT_STREQ(ErrorLastString(), "10035");
    EXPECT_STREQ(ErrorDescription(10035), "Resource temporarily unavailable");
    ErrorSysSet(2);
    EXPECT_EQ(ErrorLast(), 2U) << "the system slot comes first";
    ErrorUnset();
    EXPECT_EQ(ErrorLast(), 0U);
}

TEST(ErrorCodes, SlotsArePerThread)
{
    ErrorUnset();
    ErrorSysSet(10054);
    unsigned int other = 1;
    std::thread([&] { other = ErrorLast(); }).join();
    EXPECT_EQ(other, 0U);
    EXPECT_EQ(ErrorLast(), 10054U);
    ErrorUnset();
}

TEST(ErrorCodes, Descriptions)
{
    EXPECT_STREQ(ErrorDescription(ErrorVal(300)), "Unknown error !");
    EXPECT_STREQ(ErrorDescription(ErrorVal(200)), "Unknown error !");
    EXPECT_STREQ(ErrorDescription(ENOENT), std::strerror(ENOENT));
    EXPECT_STREQ(ErrorDescription(11004), "Valid name, no data record of requested type");
    EXPECT_STREQ(ErrorDescription(123456), "Unknown error !");
}

TEST(ErrorCodes, UserTableAddAndDelete)
{
    EXPECT_EQ(ErrorAdd(3, "Camera not opened"), 1);
    EXPECT_EQ(ErrorAdd(3, "Second text"), 0);
    EXPECT_STREQ(ErrorDescription(ErrorVal(3)), "Camera not opened");
    EXPECT_EQ(ErrorAdd(256, "out of range"), 0);
    EXPECT_EQ(ErrorDel(3), 1);
    EXPECT_EQ(ErrorDel(3), 0);
    EXPECT_EQ(ErrorDel(256), 0);
    EXPECT_STREQ(ErrorDescription(ErrorVal(3)), "Unknown error !");
    EXPECT_EQ(ErrorAdd(255, "last slot"), 1);
    EXPECT_STREQ(ErrorDescription(ErrorVal(255)), "last slot");
    EXPECT_EQ(ErrorDel(255), 1);
}

std::string g_caption;
std::string g_text;
void CaptureBox(const char* caption, const char* text)
{
    g_caption = caption;
    g_text = text;
}

TEST(ErrorCodes, ShowJoinsTextAndDescription)
{
    SetMessageBoxFunction(&CaptureBox);
    ErrorUnset();
    ErrorSysSet(10061);
    ErrorShow("Unable to connect");
    EXPECT_EQ(g_caption, "Error...");
    EXPECT_EQ(g_text, "Unable to connect\nConnection refused");
    ErrorShow(nullptr);
    EXPECT_EQ(g_text, "Connection refused");
    SetMessageBoxFunction(nullptr);
    ErrorUnset();
}

TEST(NameHelpers, Basename)
{
    EXPECT_STREQ(QXBasename(".\\SendMail.cpp"), "SendMail.cpp");
    EXPECT_STREQ(QXBasename("a/b\\c"), "c");
    EXPECT_STREQ(QXBasename("a\\b/c"), "c");
    EXPECT_STREQ(QXBasename("plain.cpp"), "plain.cpp");
    EXPECT_STREQ(QXBasename("dir/"), "");
    const char* path = "x/y.cpp";
    EXPECT_EQ(QXBasename(path), path + 2) << "a pointer into the path";
}

TEST(TimeHelpers, DateAndTimeFormat)
{
    std::tm local{};
    local.tm_yday = 63;  // the 64th day, counted from 0
    local.tm_hour = 14;
    local.tm_min = 3;
    local.tm_sec = 59;
    char out[64];
    kestrel::FormatDateAndTime(out, sizeof out, local);
    EXPECT_STREQ(out, "064 14:03:59");
    const std::string now = QXDateAndTime();
    ASSERT_EQ(now.size(), 12U);
    EXPECT_EQ(now[3], ' ');
    EXPECT_EQ(now[6], ':');
}

TEST(TimeHelpers, TimeAndDateShareOneBuffer)
{
    const char* time = QXTime();
    ASSERT_EQ(std::strlen(time), 8U);
    EXPECT_EQ(time[2], ':');
    const char* date = QXDate();
    EXPECT_EQ(date, time);
    ASSERT_EQ(std::strlen(date), 10U);
    EXPECT_EQ(date[2], '/');
    EXPECT_EQ(date[5], '/');
}

TEST(TimeHelpers, Sleeps)
{
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    EXPECT_EQ(QXSleepus(5000), 0);  // above 1000 us: one millisecond
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1));
    EXPECT_EQ(QXSleepus(999), 0);  // below one millisecond only yields
    start = Clock::now();
    EXPECT_EQ(QXSleepus(1000), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1));
    start = Clock::now();
    EXPECT_EQ(QXSleepms(3), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(3));
}

}  // namespace
