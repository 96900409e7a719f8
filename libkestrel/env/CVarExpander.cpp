#include "libkestrel/env/CVarExpander.h"

#include <algorithm>
#include <cstring>

#include "libkestrel/env/QXGetenv.h"

namespace kestrel {
namespace {

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsNameChar(char c)
{
    return IsLetter(c) || IsDigit(c) || c == '_';
}

// Hex value of one digit of a %xHH code; letters beyond f count as 0.
int HexDigit(char c)
{
    if (IsDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return 0;
}

}  // namespace

void CVarExpander::getValue(const std::string& /*reference*/, std::string& value)
{
    value.clear();
    allFound_ = false;
}

std::string CVarExpander::getVariableName(std::string_view reference)
{
    if (!reference.empty() && (reference.front() == '%' || reference.front() == '$')) {
        reference.remove_prefix(1);
    }
    if (!reference.empty() && reference.back() == '%') {
        reference.remove_suffix(1);
    }
    return std::string(reference);
}

void CVarExpander::expand(std::string& text)
{
    work_.clear();
    const std::size_t n = text.size();
    std::size_t i = 0;
    std::string value;
    while (i < n) {
        const char c = text[i];
        if (c == '%' && i + 3 < n && text[i + 1] == 'x' && (IsLetter(text[i + 2]) || IsDigit(text[i + 2])) &&
            (IsLetter(text[i + 3]) || IsDigit(text[i + 3]))) {
            work_.push_back(static_cast<char>(16 * HexDigit(text[i + 2]) + HexDigit(text[i + 3])));
            i += 4;
            continue;
        }
        std::size_t end = i + 1;
        if (c == '%') {
            // The run stops right after the first "%" it takes.
            while (end < n && (IsNameChar(text[end]) || text[end] == '%')) {
                if (text[end++] == '%') {
                    break;
                }
            }
        } else if (c == '$') {
            while (end < n && (IsNameChar(text[end]) || text[end] == '$')) {
                ++end;
            }
        } else {
            work_.push_back(c);
            ++i;
            continue;
        }
        const std::string reference = text.substr(i, end - i);
        if (getVariableName(reference).empty()) {
            // A lone "%" or "$" (as in "100% sure") names nothing: keep it.
            work_ += reference;
        } else {
            value.clear();
            getValue(reference, value);
            work_ += value;
        }
        i = end;
    }
    text.swap(work_);
}

void CEnvVarExpander::getValue(const std::string& reference, std::string& value)
{
    const std::string name = getVariableName(reference);
    const char* found = QXGetenv(name.c_str());
    if (found == nullptr) {
        value.clear();
        allFound_ = false;
        return;
    }
    value = found;
}

}  // namespace kestrel

bool ExtractEnvVar2(std::string_view text, std::span<char> out, std::size_t& outSize)
{
    kestrel::CEnvVarExpander expander;
    std::string expanded(text);
    expander.expand(expanded);
    outSize = expanded.size() + 1;
    if (!out.empty()) {
        const std::size_t count = std::min(expanded.size(), out.size() - 1);
        std::memcpy(out.data(), expanded.data(), count);
        out[count] = '\0';
    }
    return expander.allFound();
}

std::size_t ExtractEnvVar(std::string_view text, std::span<char> out)
{
    std::size_t size = 0;
    ExtractEnvVar2(text, out, size);
    return size;
}
