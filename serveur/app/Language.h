// The program's language files: "<workDir>/<L>.ini" section "msgstr" holds the
// translations; texts without one are recorded in "lang.ini" for translators.
#pragma once

#include <string>
#include <string_view>

namespace vorlix::app {

// CR, LF, "%" and "=" become "%xx" (two lower-case hex digits).
std::string EscapeKey(std::string_view text);
// "+" becomes a blank and "%XY" the byte of the two hex digits.
std::string UnescapeValue(std::string_view value);

// "LANG" of the settings, else the language of the locale environment
// ("fr", "it", "es", "de", anything else "en"); at most 31 characters.
std::string LanguageName(const std::string& settingsFile);

class LanguageFiles {
public:
    LanguageFiles(std::string workDir, std::string language);
    std::string Translate(std::string_view text) const;
    const std::string& Language() const { return language_; }

private:
    std::string workDir_;
    std::string language_;
};

}  // namespace vorlix::app
