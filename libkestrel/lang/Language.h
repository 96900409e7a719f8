// Language files shared by the programs: translations in section "msgstr" of
// "<dir>/<L>.ini", and texts without translation recorded in
// "<dir>/lang.ini" under section [L] (for every language but "en").
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace kestrel {

// CR, LF, "%" and "=" as "%xx" (two lower-case hexadecimal digits): the key
// under which a text is looked up.
std::string EscapeKey(std::string_view text);
// "+" to blank, "%" and two characters to the byte of those hexadecimal
// digits; a cut escape at the end stays as it is.
std::string UnescapeValue(std::string_view value);

// The current language and its files. Safe to call from several threads.
class Language {
public:
    Language() = default;
    Language(std::string workDir, const std::string& name);
    // `name` is cut to 31 characters.
    void Set(std::string workDir, const std::string& name);
    [[nodiscard]] std::string Name() const;
    // The text in the current language; untranslated texts are recorded for
    // languages other than "en" and come back unchanged.
    [[nodiscard]] std::string Translate(const std::string& text) const;

private:
    mutable std::mutex mutex_;
    std::string workDir_;
    std::string name_ = "en";
};

}  // namespace kestrel
