#include "libkestrel/lang/Language.h"

#include <cctype>
#include <cstdio>

#include "libkestrel/profile/Profile.h"

namespace kestrel {

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
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
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

Language::Language(std::string workDir, const std::string& name)
{
    Set(std::move(workDir), name);
}

void Language::Set(std::string workDir, const std::string& name)
{
    const std::lock_guard lock(mutex_);
    workDir_ = std::move(workDir);
    name_ = name.substr(0, 31);
}

std::string Language::Name() const
{
    const std::lock_guard lock(mutex_);
    return name_;
}

std::string Language::Translate(const std::string& text) const
{
    std::string dir;
    std::string name;
    {
        const std::lock_guard lock(mutex_);
        dir = workDir_;
        name = name_;
    }
    const std::string key = EscapeKey(text);
    const std::string value = profile::GetString(dir + "/" + name + ".ini", "msgstr", key, "", text.size() + 255);
    if (!value.empty()) {
        return UnescapeValue(value);
    }
    if (name != "en") {
        profile::WriteString(dir + "/lang.ini", name, key, "to traduct...");
    }
    return text;
}

}  // namespace kestrel
