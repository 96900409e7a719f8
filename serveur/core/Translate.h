// The language files: translations in section "msgstr" of "<L>.ini", and
// texts without translation recorded in "lang.ini" under section [L].
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace vorlix {

// CR, LF, "%" and "=" as "%xx" (two lower-case hexadecimal digits).
std::string EscapeKey(std::string_view text);
// "+" to blank, "%" and two characters to the byte of those hexadecimal digits.
std::string UnescapeValue(std::string_view value);

// The language name: "LANG" of section "Vorlix" when set (at most 31
// characters), else derived from the process locale ("fr", "it", "es", "de", else "en").
std::string LanguageFromSettings(const std::string& settingsFile);
std::string LanguageFromLocale();

class Language {
public:
    Language() = default;
    Language(std::string workDir, std::string name);
    void Set(std::string workDir, std::string name);
    std::string Name() const;
    // The text in the current language; untranslated texts are recorded for non-English languages.
    std::string Translate(const std::string& text) const;

private:
    mutable std::mutex mutex_;
    std::string workDir_;
    std::string name_ = "en";
};

}  // namespace vorlix
