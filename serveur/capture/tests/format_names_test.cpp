#include <gtest/gtest.h>

#include "serveur/capture/CaptureSystem.h"
#include "serveur/capture/FormatNames.h"

namespace vorlix::capture {
namespace {

TEST(FormatNames, TableEndsAndOutsideIsUnknown)
{
    EXPECT_EQ(FormatName(0), "Unknown");
    EXPECT_EQ(FormatName(4), "YUY2");
    EXPECT_EQ(FormatName(11), "MJPG");
    EXPECT_EQ(FormatName(22), "RGB24");
    EXPECT_EQ(FormatName(37), "MPEG1 Video");
    EXPECT_EQ(FormatName(38), "I420");
    EXPECT_EQ(FormatName(42), "Y422");
    EXPECT_EQ(FormatName(43), "Unknown");
    EXPECT_EQ(FormatName(-1), "Unknown");
    for (int i = 0; i < kFormatNameCount; ++i) {
        EXPECT_EQ(FormatNumber(FormatName(i)), i) << i;
    }
}

TEST(FormatNames, PropertyNames)
{
    EXPECT_EQ(CaptureSystem::PropertyName(0), "Brightness");
    EXPECT_EQ(CaptureSystem::PropertyName(6), "Color Enabled");
    EXPECT_EQ(CaptureSystem::PropertyName(8), "Backlight Compensation");
    EXPECT_EQ(CaptureSystem::PropertyName(9), "Gain");
    EXPECT_EQ(CaptureSystem::PropertyName(10), "");
}

}  // namespace
}  // namespace vorlix::capture
