#include "serveur/app/Language.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "libkestrel/profile/Profile.h"

namespace vorlix::app {

std::string EscapeKey(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\r' || c == '\n' || c == '%' || c == '=') {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%.02x", static_cast<unsigned char>(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return upper - 55;
}

}  // namespace

std::string UnescapeValue(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '+') {
            out += ' ';
        } else if (value[i] == '%' && i + 2 < value.size()) {
            out += static_cast<char>(HexDigit(value[i + 1]) * 16 + HexDigit(value[i + 2]));
            i += 2;
        } else {
            out += value[i];
        }
    }
    return out;
}

std::string LanguageName(const std::string& settingsFile)
{
    std::string lang = kestrel::profile::GetString(settingsFile, "Vorlix", "LANG", "", 31);
    if (!lang.empty()) {
        return lang;
    }
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(var);
        if (v != nullptr && *v != '\0') {
            const std::string_view locale(v);
            for (const char* known : {"fr", "it", "es", "de"}) {
                if (locale.starts_with(known)) {
                    return known;
                }
            }
            return "en";
        }
    }
    return "en";
}

LanguageFiles::LanguageFiles(std::string workDir, std::string language)
    : workDir_(std::move(workDir)), language_(std::move(language))
{
}

std::string LanguageFiles::Translate(std::string_view text) const
{
    const std::string key = EscapeKey(text);
    const std::string value =
        kestrel::profile::GetString(workDir_ + "/" + language_ + ".ini", "msgstr", key, "", text.size() + 255);
    if (!value.empty()) {
        return UnescapeValue(value);
    }
    if (language_ != "en") {
        kestrel::profile::WriteString(workDir_ + "/lang.ini", language_, key, "to traduct...");
    }
    return std::string(text);
}

}  // namespace vorlix::app
