// The viewer's texts: translated formats filled without trusting them, the
// status ticker, the language choice.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "client/app/ViewerText.h"
#include "libkestrel/lang/Language.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"

namespace vorlix::client {
namespace {

TEST(FillTextTest, ArgumentsFillTheirPlacesInOrder)
{
    EXPECT_EQ(FillText("Unable to connect to remote host (%s:%d)=%x", {"cam", "6666", Hex(111)}),
              "Unable to connect to remote host (cam:6666)=6f");
    EXPECT_EQ(FillText("100%% %s", {"sure"}), "100% sure");
}

TEST(FillTextTest, HostileTranslationReadsNothingBeyondTheArguments)
{
    EXPECT_EQ(FillText("%s %s %s %n %p", {"one"}), "one   %n %p");
    EXPECT_EQ(FillText("trailing %", {}), "trailing %");
}

TEST(TickerTest, TextScrollsLeftAndComesBackAfterItsEnd)
{
    Ticker ticker;
    const std::string first = ticker.Next("abc");
    EXPECT_EQ(first, "abc...abc...abc...abc...abc...abc...abc...abc...abc...abc");
    EXPECT_EQ(ticker.Next("abc").substr(0, 5), "bc...");
    EXPECT_EQ(ticker.Next("abc").substr(0, 4), "c...");
    EXPECT_EQ(ticker.Next("abc").substr(0, 4), "...a");  // the offset passed the end
    EXPECT_EQ(ticker.Next("abc").substr(0, 4), "abc.");  // and starts over
}

TEST(TickerTest, NewTextStartsAtItsBeginningAndUtf8MovesByCharacters)
{
    Ticker ticker;
    ticker.Next("abc");
    ticker.Next("abc");
    EXPECT_EQ(ticker.Next("xyz").substr(0, 3), "xyz");
    ticker.Next("\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(ticker.Next("\xC3\xA9t\xC3\xA9").substr(0, 3), "t\xC3\xA9");
}

TEST(ViewerLanguageTest, SettingWinsElseFrenchLocaleElseEnglish)
{
    EXPECT_EQ(ViewerLanguage("de"), "de");
    EXPECT_EQ(ViewerLanguage("pt"), "pt");
    ::setenv("LC_ALL", "fr_FR.UTF-8", 1);
    EXPECT_EQ(ViewerLanguage(""), "fr");
    ::setenv("LC_ALL", "it_IT.UTF-8", 1);
    EXPECT_EQ(ViewerLanguage(""), "en");
    ::unsetenv("LC_ALL");
}

TEST(ViewerLanguageTest, TextsComeFromTheLanguageFileOfTheStartDirectory)
{
    const kestrel::test::TempDir dir;
    ASSERT_TRUE(kestrel::profile::WriteString(dir.File("fr.ini"), "msgstr", "&Open", "&Ouvrir"));
    const kestrel::Language french(dir.Path(), "fr");
    EXPECT_EQ(french.Translate("&Open"), "&Ouvrir");
    EXPECT_EQ(french.Translate("&Close"), "&Close");
    EXPECT_EQ(kestrel::profile::GetString(dir.File("lang.ini"), "fr", "&Close", ""), "to traduct...");
}

}  // namespace
}  // namespace vorlix::client
