#include "client/app/ViewerText.h"

#include <locale.h>

#include <cstdio>
#include <cstdlib>

namespace vorlix::client {

namespace {

bool LocaleIsFrench()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return std::string_view(value).substr(0, 2) == "fr";
        }
    }
    return false;
}

}  // namespace

std::string ViewerLanguage(const std::string& setting)
{
    if (setting.empty()) {
        return LocaleIsFrench() ? "fr" : "en";
    }
    static const char* const kLocales[][2] = {
        {"fr", "fr_FR.UTF-8"}, {"en", "en_US.UTF-8"}, {"es", "es_ES.UTF-8"}, {"de", "de_DE.UTF-8"}};
    for (const auto& [code, name] : kLocales) {
        if (setting == code) {
            if (locale_t locale = ::newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr))) {
                ::uselocale(locale);
            }
        }
    }
    return setting;
}

std::string FillText(std::string_view format, std::initializer_list<std::string> args)
{
    std::string out;
    out.reserve(format.size() + 32);
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 >= format.size()) {
            out += format[i];
            continue;
        }
        const char kind = format[++i];
        if (kind == 's' || kind == 'd' || kind == 'x') {
            if (next != args.end()) {
                out += *next++;
            }
        } else if (kind == '%') {
            out += '%';
        } else {
            out += '%';
            out += kind;
        }
    }
    return out;
}

std::string Hex(unsigned int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

std::string Ticker::Next(const std::string& text)
{
    if (text != last_) {
        last_ = text;
        offset_ = 0;
    }
    const std::size_t start = std::min(offset_, text.size());
    std::string out = text.substr(start);
    for (int copy = 0; copy < 9; ++copy) {
        out += "...";
        out += text;
    }
    // One character on; UTF-8 continuation bytes are stepped over together.
    ++offset_;
    while (offset_ < text.size() && (static_cast<unsigned char>(text[offset_]) & 0xC0) == 0x80) {
        ++offset_;
    }
    if (offset_ > text.size()) {
        offset_ = 0;
    }
    return out;
}

}  // namespace vorlix::client
