// Language files: key escaping, value decoding, missing texts recorded.
#include <gtest/gtest.h>

#include <filesystem>

#include "libkestrel/profile/Profile.h"
#include "serveur/app/Language.h"

namespace fs = std::filesystem;
using namespace vorlix::app;

namespace {
struct TempDir {
    fs::path path;
    TempDir()
    {
        char tmpl[] = "/tmp/vorlix_lang_XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
};
}  // namespace

TEST(LanguageTest, KeysAreEscapedAndValuesDecoded)
{
    EXPECT_EQ(EscapeKey("A=B"), "A%3dB");
    EXPECT_EQ(EscapeKey("a\r\nb%"), "a%0d%0ab%25");
    EXPECT_EQ(UnescapeValue("Moteur+arr%eat%e9"),
              "Moteur arr\xea"
              "t\xe9");
    EXPECT_EQ(UnescapeValue("%e0"), "\xe0");
    EXPECT_EQ(UnescapeValue("100%"), "100%");  // a cut escape is kept as it is
}

TEST(LanguageTest, TranslationFoundMissingRecordedForOtherLanguagesThanEnglish)
{
    TempDir dir;
    const std::string w = dir.path.string();
    kestrel::profile::WriteString(w + "/fr.ini", "msgstr", "Vorlix is OFF", "Vorlix+est+%e0+l'arr%eat");
    kestrel::profile::WriteString(w + "/fr.ini", "msgstr", "A%3dB", "C");
    const LanguageFiles fr(w, "fr");
    EXPECT_EQ(fr.Translate("Vorlix is OFF"), "Vorlix est \xe0 l'arr\xeat");
    EXPECT_EQ(fr.Translate("A=B"), "C");
    EXPECT_EQ(fr.Translate("Motion is OFF"), "Motion is OFF");
    EXPECT_EQ(kestrel::profile::GetString(w + "/lang.ini", "fr", "Motion is OFF", ""), "to traduct...");

    const LanguageFiles en(w, "en");
    EXPECT_EQ(en.Translate("no client"), "no client");
    EXPECT_FALSE(kestrel::profile::Read(w + "/lang.ini", "en", "no client").has_value());
}

TEST(LanguageTest, LanguageComesFromTheSettingsFirst)
{
    TempDir dir;
    const std::string ini = (dir.path / "Vorlix.ini").string();
    kestrel::profile::WriteString(ini, "Vorlix", "LANG", "de");
    EXPECT_EQ(LanguageName(ini), "de");
}
