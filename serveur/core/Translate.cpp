#include "serveur/core/Translate.h"

#include <locale.h>
#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "libkestrel/profile/Profile.h"

namespace vorlix {

std::string EscapeKey(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        if (ch == '\r' || ch == '\n' || ch == '%' || ch == '=') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "%%%.02x", static_cast<unsigned char>(ch));
            out += buf;
        } else {
            out += ch;
        }
    }
    return out;
}

namespace {
int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    return std::toupper(static_cast<unsigned char>(c)) - 55;
}
}  // namespace

std::string UnescapeValue(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char ch = value[i];
        if (ch == '+') {
            out += ' ';
        } else if (ch == '%' && i + 2 < value.size()) {
            out += static_cast<char>(HexDigit(value[i + 1]) * 16 + HexDigit(value[i + 2]));
            i += 2;
        } else {
            out += ch;
        }
    }
    return out;
}

std::string LanguageFromLocale()
{
    const char* name = std::getenv("LC_ALL");
    if (name == nullptr || *name == '\0')
        name = std::getenv("LC_MESSAGES");
    if (name == nullptr || *name == '\0')
        name = std::getenv("LANG");
    const std::string s = name != nullptr ? name : "";
    const std::string two = s.substr(0, 2);
    if (two == "fr" || two == "it" || two == "es" || two == "de")
        return two;
    return "en";
}

std::string LanguageFromSettings(const std::string& settingsFile)
{
    std::string lang = kestrel::profile::GetString(settingsFile, "Vorlix", "LANG", "", 31);
    if (lang.empty())
        return LanguageFromLocale();
    static const char* const kLocales[][2] = {{"fr", "fr_FR.UTF-8"},
                                              {"en", "en_US.UTF-8"},
                                              {"es", "es_ES.UTF-8"},
                                              {"de", "de_DE.UTF-8"},
                                              {"it", "it_IT.UTF-8"}};
    for (const auto& [code, loc] : kLocales) {
        if (lang == code) {
            // The thread's locale follows the language when the system has it.
            if (locale_t l = ::newlocale(LC_ALL_MASK, loc, static_cast<locale_t>(nullptr)))
                ::uselocale(l);
        }
    }
    return lang;
}

Language::Language(std::string workDir, std::string name)
{
    Set(std::move(workDir), std::move(name));
}

void Language::Set(std::string workDir, std::string name)
{
    std::lock_guard lock(mutex_);
    workDir_ = std::move(workDir);
    name_ = name.substr(0, 31);
}

std::string Language::Name() const
{
    std::lock_guard lock(mutex_);
    return name_;
}

std::string Language::Translate(const std::string& text) const
{
    std::string dir, name;
    {
        std::lock_guard lock(mutex_);
        dir = workDir_;
        name = name_;
    }
    const std::string key = EscapeKey(text);
    const std::string value =
        kestrel::profile::GetString(dir + "/" + name + ".ini", "msgstr", key, "", text.size() + 255);
    if (!value.empty())
        return UnescapeValue(value);
    if (name != "en")
        kestrel::profile::WriteString(dir + "/lang.ini", name, key, "to traduct...");
    return text;
}

}  // namespace vorlix
