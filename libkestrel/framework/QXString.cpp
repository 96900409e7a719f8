#include "libkestrel/framework/QXString.h"

#include <cstdlib>
#include <cstring>

#include "libkestrel/framework/QXException.h"

namespace kestrel {

QXString::QXString(int value) : std::string(std::to_string(value)) {}
QXString::QXString(const char* text) : std::string(text != nullptr ? text : "") {}
QXString::QXString(std::string text) : std::string(std::move(text)) {}
QXString::QXString(std::string_view text) : std::string(text) {}

bool QXString::isInt(const char* allowed) const
{
    if (empty()) {
        return false;
    }
    if (allowed == nullptr) {
        return true;
    }
    for (const char c : *this) {
        const bool digit = c >= '0' && c <= '9';
        if (!digit && (c == '\0' || std::strchr(allowed, c) == nullptr)) {
            return false;
        }
    }
    return true;
}

int QXString::toInt() const
{
    if (!isInt("+-")) {
        KESTREL_THROW_GENERAL(5, "String is not int (operator int)");
    }
    return static_cast<int>(std::strtol(c_str(), nullptr, 10));
}

unsigned int QXString::toUInt() const
{
    return static_cast<unsigned int>(toInt());
}

long QXString::toLong() const
{
    if (!isInt("+-")) {
        KESTREL_THROW_GENERAL(5, "String is not int (operator long)");
    }
    return std::strtol(c_str(), nullptr, 10);
}

unsigned long QXString::toULong() const
{
    return static_cast<unsigned long>(toLong());
}

unsigned char QXString::toUChar() const
{
    return static_cast<unsigned char>(toLong());
}

short QXString::toShort() const
{
    return static_cast<short>(toLong());
}

unsigned short QXString::toUShort() const
{
    return static_cast<unsigned short>(toLong());
}

double QXString::toDouble() const
{
    return std::strtod(c_str(), nullptr);
}

float QXString::toFloat() const
{
    return static_cast<float>(std::strtod(c_str(), nullptr));
}

}  // namespace kestrel
