// The viewer's INI section "cl": servers and their numbers, saved passwords,
// the saved context, and where the window goes.
#include <gtest/gtest.h>

#include "client/app/ViewerSettings.h"
#include "client/app/WindowPlacement.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix::client {
namespace {

namespace profile = kestrel::profile;
using kestrel::test::TempDir;

class SettingsTest : public ::testing::Test {
protected:
    void Put(const std::string& key, const std::string& value)
    {
        ASSERT_TRUE(profile::WriteString(settings_.Path(), "cl", key, value));
    }
    TempDir dir_;
    ViewerSettings settings_{ViewerSettings::PathIn(dir_.Path())};
};

TEST_F(SettingsTest, HostsRunFromOneToTheFirstEmptyNumber)
{
    EXPECT_TRUE(settings_.Hosts().empty());
    Put("Host 1", "cam.local");
    Put("Host 2", "10.0.0.7");
    Put("Host 4", "after the gap");
    EXPECT_EQ(settings_.Hosts(), (std::vector<std::string>{"cam.local", "10.0.0.7"}));
    EXPECT_EQ(settings_.PortText(2), "6666");
    Put("Port 2", "7000");
    EXPECT_EQ(settings_.PortText(2), "7000");
}

TEST_F(SettingsTest, FindHostIndexMatchesExactlyOrTakesTheFirstFreeNumber)
{
    Put("Host 1", "cam.local");
    Put("Host 2", "Garage");
    EXPECT_EQ(settings_.FindHostIndex("cam.local"), 1);
    EXPECT_EQ(settings_.FindHostIndex("Garage"), 2);
    EXPECT_EQ(settings_.FindHostIndex("garage"), 3);  // case counts
    EXPECT_EQ(settings_.FindHostIndex("cam"), 3);
}

TEST_F(SettingsTest, PasswordsAreKeptScrambledWithTheirKeyName)
{
    ASSERT_TRUE(settings_.StorePassword(2, "s3cret pass"));
    const std::string stored = profile::GetString(settings_.Path(), "cl", "Password 2", "");
    EXPECT_NE(stored.find_first_not_of("s3cret pass"), std::string::npos);
    std::string expected;
    ASSERT_TRUE(ScramblePassword("s3cret pass", "Password 2", expected));
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(settings_.Password(2), "s3cret pass");
    EXPECT_FALSE(settings_.Password(1).has_value());
    Put("Password 1", "ab");  // too short to hold a password
    EXPECT_FALSE(settings_.Password(1).has_value());
    EXPECT_FALSE(settings_.StorePassword(3, std::string(253, 'x')));
}

TEST_F(SettingsTest, ContextHasItsDefaultsAndComesBackAsSaved)
{
    const ViewerContext defaults = settings_.LoadContext();
    EXPECT_TRUE(defaults.stretch);
    EXPECT_EQ(defaults.rect.top, 78);
    EXPECT_EQ(defaults.rect.left, 105);
    EXPECT_EQ(defaults.rect.right, 458);
    EXPECT_EQ(defaults.rect.bottom, 392);
    EXPECT_FALSE(defaults.effects.biColor);

    ViewerContext context;
    context.stretch = false;
    context.rect = {10, 20, 340, 270};
    context.effects.reverseColor = true;
    context.effects.blackAndWhite = true;
    context.effects.horizontalMirror = true;
    context.effects.verticalMirror = true;
    context.effects.biColor = true;
    context.effects.addColor = true;
    context.effects.red = -40;
    context.effects.green = 7;
    context.effects.blue = 300;
    context.effects.colorModulo = true;
    ASSERT_TRUE(settings_.SaveContext(context));
    for (const char* key : {"VerifierCouleur", "NoirEtBlanc", "EffetMiroir", "EffetMiroirVertical", "BiColor",
                            "Add color", "Color Modulo"}) {
        EXPECT_EQ(profile::GetString(settings_.Path(), "cl", key, ""), "1") << key;
    }
    EXPECT_EQ(profile::GetString(settings_.Path(), "cl", "Stretch", ""), "0");
    EXPECT_EQ(profile::GetString(settings_.Path(), "cl", "Color Red", ""), "-40");

    const ViewerContext back = settings_.LoadContext();
    EXPECT_FALSE(back.stretch);
    EXPECT_EQ(back.rect.right, 340);
    EXPECT_EQ(back.rect.bottom, 270);
    EXPECT_TRUE(back.effects.verticalMirror);
    EXPECT_EQ(back.effects.red, -40);
    EXPECT_EQ(back.effects.blue, 300);
    EXPECT_TRUE(back.effects.colorModulo);
}

TEST(WindowPlacementTest, SavedRectangleIsReadWithItsModuloRules)
{
    const Placement fallback{0, 0, 310, 240};
    const Placement standard = PlacementFromRect(WindowRect{}, fallback);
    EXPECT_EQ(standard.x, 105);
    EXPECT_EQ(standard.y, 78);
    EXPECT_EQ(standard.width, 353);
    EXPECT_EQ(standard.height, 314);

    const Placement far = PlacementFromRect(WindowRect{1300, 2500, 100, 3700}, fallback);
    EXPECT_EQ(far.x, 100);       // 2500 mod 1200
    EXPECT_EQ(far.y, 100);       // 1300 mod 1200
    EXPECT_EQ(far.width, 400);   // |100 - 2500| mod 2000
    EXPECT_EQ(far.height, 400);  // |3700 - 1300| mod 2000
    EXPECT_EQ(PlacementFromRect(WindowRect{-50, -10, 0, 0}, fallback).x, 1190);
    const Placement flat = PlacementFromRect(WindowRect{5, 5, 5, 5}, fallback);
    EXPECT_EQ(flat.width, 310);
    EXPECT_EQ(flat.height, 240);

    const WindowRect rect = RectFromPlacement({30, 40, 320, 240});
    EXPECT_EQ(PlacementFromRect(rect, fallback).width, 320);
    EXPECT_EQ(PlacementFromRect(rect, fallback).y, 40);
}

TEST(WindowPlacementTest, FormatGrowsTheWindowByWhatTheClientAreaLacks)
{
    EXPECT_FALSE(FormatGrowth({320, 240}, {320, 240}).has_value());
    const auto both = FormatGrowth({320, 240}, {312, 213});
    ASSERT_TRUE(both.has_value());
    EXPECT_EQ(both->width, 8);
    EXPECT_EQ(both->height, 27);
    // Only the menu bar's height missing: the height still grows.
    const auto height = FormatGrowth({160, 120}, {160, 96});
    ASSERT_TRUE(height.has_value());
    EXPECT_EQ(height->width, 0);
    EXPECT_EQ(height->height, 24);
    // A client area larger than asked (a window's minimum width) is left.
    EXPECT_FALSE(FormatGrowth({160, 120}, {200, 120}).has_value());
}

}  // namespace
}  // namespace vorlix::client
