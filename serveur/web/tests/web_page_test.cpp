// What the view says and decides apart from any connection: the one form of
// a picture address, the page and the events list with their escaping and
// translation, the stream's part heads, the settings section and what wrong
// passwords cost an address.
#include <gtest/gtest.h>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/web/GuessGuard.h"
#include "serveur/web/WebPage.h"
#include "serveur/web/WebSettings.h"

namespace vorlix::web {
namespace {

using namespace std::chrono_literals;

TEST(PictureAddress, OnlyPlainNumbersOfTheSetLeadToAPicture)
{
    EXPECT_EQ(PictureNumberOf("/pictures/0.jpg", 500), 0);
    EXPECT_EQ(PictureNumberOf("/pictures/499.jpg", 500), 499);
    EXPECT_EQ(PictureNumberOf("/pictures/7.jpg", 8), 7);
    for (const char* url : {
             "/pictures/500.jpg",                   // outside the set
             "/pictures/8.jpg",                     // (with 500: inside; checked below with 8)
             "/pictures/-1.jpg",                    // a sign
             "/pictures/+1.jpg",                    //
             "/pictures/01.jpg",                    // a second name for picture 1
             "/pictures/.jpg",                      // no number
             "/pictures/1.jpg/..",                  // anything after
             "/pictures/1.JPG",                     //
             "/pictures/1.jpg?x",                   //
             "/pictures/../Vorlix.ini",             // traversal
             "/pictures/..%2fVorlix.jpg",           // still escaped
             "/pictures/../1.jpg",                  //
             "/pictures//1.jpg",                    //
             "/pictures/1 .jpg",                    //
             "/pictures/99999999999999999999.jpg",  // beyond int
             "/picture/1.jpg",                      //
             "pictures/1.jpg",                      //
             "/files/vorlix_1.jpg",                 //
         }) {
        SCOPED_TRACE(url);
        EXPECT_FALSE(PictureNumberOf(url, 8).has_value());
    }
    EXPECT_FALSE(PictureNumberOf(std::string_view("/pictures/1.jpg\0", 16), 8).has_value());
    // An empty set has no picture.
    EXPECT_FALSE(PictureNumberOf("/pictures/0.jpg", 0).has_value());
}

PageState SomeState(bool password)
{
    PageState s;
    s.camera = 2;
    s.capturing = true;
    s.detectionOn = false;
    s.webViewers = 3;
    s.streamViewers = 1;
    s.passwordSet = password;
    s.fps = 5;
    s.events = {{1700000300, "SOMEZ_1_3 (300) ", 4}, {1700000200, "<script>x</script>", 3}, {1700000100, "IN", 4}};
    return s;
}

Words Plain()
{
    return FixedWords({});
}

TEST(Page, SaysInWordsThatACameraWithoutPasswordIsOpen)
{
    const std::string open = RenderPage(SomeState(false), Plain());
    EXPECT_NE(open.find("open to anyone who can reach the port"), std::string::npos);
    const std::string closed = RenderPage(SomeState(true), Plain());
    EXPECT_EQ(closed.find("open to anyone"), std::string::npos);
    EXPECT_NE(closed.find("Protected by the camera"), std::string::npos);
}

TEST(Page, ShowsStateLivePictureAndOneThumbnailPerPictureNumber)
{
    const std::string page = RenderPage(SomeState(false), Plain());
    EXPECT_NE(page.find("src=\"live.mjpg\""), std::string::npos);
    EXPECT_NE(page.find("Capturing"), std::string::npos);
    EXPECT_NE(page.find("Detection off"), std::string::npos);
    EXPECT_NE(page.find("Web viewers: 3, Stream viewers: 1"), std::string::npos);
    EXPECT_NE(page.find("SOMEZ_1_3 (300)"), std::string::npos);
    // Picture 4 was written over by the newest event: one thumbnail for it.
    EXPECT_NE(page.find("pictures/4.jpg?t=1700000300"), std::string::npos);
    EXPECT_EQ(page.find("pictures/4.jpg?t=1700000100"), std::string::npos);
    EXPECT_NE(page.find("pictures/3.jpg?t=1700000200"), std::string::npos);
    // A label never becomes markup.
    EXPECT_EQ(page.find("<script>x"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;x"), std::string::npos);
}

TEST(Page, EveryTextGoesThroughTheLanguage)
{
    const Words french = FixedWords([](std::string_view text) -> std::string {
        if (text == "Live picture") {
            return "Image en direct";
        }
        if (text == "No password is set: this camera is open to anyone who can reach the port.") {
            return "Aucun mot de passe : ouverte à quiconque atteint le port.";
        }
        return "";  // untranslated: kept as it is
    });
    const std::string page = RenderPage(SomeState(false), french);
    EXPECT_NE(page.find("Image en direct"), std::string::npos);
    EXPECT_EQ(page.find("Live picture"), std::string::npos);
    EXPECT_NE(page.find("ouverte à quiconque"), std::string::npos);
    EXPECT_NE(page.find("Snapshot"), std::string::npos);
}

TEST(EventsList, HoldsTimesLabelsAndPictureNumbersEscaped)
{
    PageState s = SomeState(true);
    s.events.push_back({5, "quote\" back\\slash\n<", 0});
    const std::string json = EventsJson(s, Plain());
    EXPECT_NE(json.find("\"camera\":2"), std::string::npos);
    EXPECT_NE(
        json.find("\"capturing\":true,\"detection\":false,\"webViewers\":3,\"streamViewers\":1,\"password\":true"),
        std::string::npos);
    EXPECT_NE(json.find("{\"time\":1700000300,\"when\":\""), std::string::npos);
    EXPECT_NE(json.find("\"label\":\"SOMEZ_1_3 (300) \",\"picture\":4}"), std::string::npos);
    EXPECT_NE(json.find("\"label\":\"quote\\\" back\\\\slash\\u000a\\u003c\",\"picture\":0}"), std::string::npos);
    EXPECT_NE(json.find("\"label\":\"\\u003cscript\\u003ex\\u003c/script\\u003e\""), std::string::npos);
    // Newest first, as the page lists them.
    EXPECT_LT(json.find("1700000300"), json.find("1700000200"));
    EXPECT_NE(json.find("\"thumbnails\":[{\"href\":\"pictures/4.jpg?t=1700000300\""), std::string::npos);
}

TEST(EventsList, EmptyBeforeTheFirstDetection)
{
    PageState s;
    const std::string json = EventsJson(s, Plain());
    EXPECT_NE(json.find("\"events\":[]"), std::string::npos);
    EXPECT_NE(json.find("\"thumbnails\":[]"), std::string::npos);
    EXPECT_NE(json.find("Last detection: none yet"), std::string::npos);
}

TEST(LiveStreamWire, PartHeadNamesTheBoundaryAndLength)
{
    EXPECT_EQ(MjpegPartHead(1234), "--vorlixframe\r\nContent-Type: image/jpeg\r\nContent-Length: 1234\r\n\r\n");
}

TEST(WebSettingsSection, DefaultsDependOnTheCameraAndValuesStayInRange)
{
    kestrel::test::TempDir dir;
    const std::string ini = dir.File("Vorlix_3.ini");
    WebSettings s = ReadWebSettings(ini, 3);
    EXPECT_FALSE(s.management);
    EXPECT_EQ(s.port, 8083);
    EXPECT_EQ(s.fps, 5);
    EXPECT_EQ(s.maxViewers, 20);
    EXPECT_TRUE(s.bind.empty());
    EXPECT_FALSE(s.Https());

    namespace profile = kestrel::profile;
    profile::WriteInt(ini, "Vorlix Web", "management", 1);
    profile::WriteInt(ini, "Vorlix Web", "Port", 70000);
    profile::WriteInt(ini, "Vorlix Web", "fps", 0);
    profile::WriteInt(ini, "Vorlix Web", "Max viewers", 100000);
    profile::WriteString(ini, "Vorlix Web", "Certificate", "/etc/c.pem");
    profile::WriteString(ini, "Vorlix Web", "Bind", "127.0.0.1");
    s = ReadWebSettings(ini, 3);
    EXPECT_TRUE(s.management);
    EXPECT_EQ(s.port, 8083);
    EXPECT_EQ(s.fps, 1);
    EXPECT_EQ(s.maxViewers, kMaxViewersLimit);
    EXPECT_EQ(s.bind, "127.0.0.1");
    EXPECT_FALSE(s.Https()) << "a certificate without its key is no HTTPS";
    profile::WriteString(ini, "Vorlix Web", "Key", "/etc/k.pem");
    profile::WriteInt(ini, "vorlix web", "FPS", 99);
    s = ReadWebSettings(ini, 3);
    EXPECT_TRUE(s.Https());
    EXPECT_EQ(s.fps, kMaxFps);
}

TEST(WrongPasswords, CostMoreFromTheSameAddressUpToACeiling)
{
    GuessGuard guard(100ms, 1000ms);
    const auto t = GuessGuard::Clock::now();
    EXPECT_EQ(guard.Wrong("10.0.0.1", t).delay, 100ms);
    EXPECT_EQ(guard.Wrong("10.0.0.1", t).delay, 200ms);
    EXPECT_EQ(guard.Wrong("10.0.0.1", t).delay, 400ms);
    EXPECT_EQ(guard.Wrong("10.0.0.1", t).delay, 800ms);
    const GuessCost fifth = guard.Wrong("10.0.0.1", t);
    EXPECT_EQ(fifth.delay, 1000ms);
    EXPECT_EQ(fifth.failures, 5);
    // Another address pays only its own.
    EXPECT_EQ(guard.Wrong("10.0.0.2", t).delay, 100ms);
    EXPECT_EQ(guard.Wrong("10.0.0.2", t).failures, 2);
    // A long quiet starts afresh.
    EXPECT_EQ(guard.Wrong("10.0.0.1", t + GuessGuard::kForgetAfter + 1s).failures, 1);
}

TEST(WrongPasswords, RememberedAddressesAreBounded)
{
    GuessGuard guard(1ms, 2ms);
    const auto t = GuessGuard::Clock::now();
    for (std::size_t i = 0; i < GuessGuard::kMaxAddresses + 50; ++i) {
        guard.Wrong("a" + std::to_string(i), t + std::chrono::milliseconds(i));
    }
    EXPECT_LE(guard.Addresses(), GuessGuard::kMaxAddresses);
    // The newest guesser is still known.
    const std::string last = "a" + std::to_string(GuessGuard::kMaxAddresses + 49);
    EXPECT_EQ(guard.Wrong(last, t + std::chrono::milliseconds(GuessGuard::kMaxAddresses + 60)).failures, 2);
}

}  // namespace
}  // namespace vorlix::web
