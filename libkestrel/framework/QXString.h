// The tools library's string: std::string with the number conversions and
// the variable expansion that the archives and the trace library use.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

class QXString : public std::string {
public:
    QXString() = default;
    explicit QXString(int value);     // formatted "%d"
    QXString(const char* text);       // NOLINT(google-explicit-constructor): texts convert freely
    QXString(std::string text);       // NOLINT(google-explicit-constructor)
    QXString(std::string_view text);  // NOLINT(google-explicit-constructor)

    // True when the text is not empty and every character is a decimal digit
    // or one of `allowed`; a null `allowed` accepts every character.
    [[nodiscard]] bool isInt(const char* allowed) const;

    // Integer conversions: atol of the text once isInt("+-") holds, else a
    // CGeneralException with code 5. The narrow ones cut the long result.
    [[nodiscard]] int toInt() const;
    [[nodiscard]] unsigned int toUInt() const;
    [[nodiscard]] long toLong() const;
    [[nodiscard]] unsigned long toULong() const;
    [[nodiscard]] unsigned char toUChar() const;
    [[nodiscard]] short toShort() const;
    [[nodiscard]] unsigned short toUShort() const;
    // atof of the text, unchecked.
    [[nodiscard]] double toDouble() const;
    [[nodiscard]] float toFloat() const;

    explicit operator int() const { return toInt(); }
    explicit operator unsigned int() const { return toUInt(); }
    explicit operator long() const { return toLong(); }
    explicit operator unsigned long() const { return toULong(); }
    explicit operator unsigned char() const { return toUChar(); }
    explicit operator short() const { return toShort(); }
    explicit operator unsigned short() const { return toUShort(); }
    explicit operator double() const { return toDouble(); }
    explicit operator float() const { return toFloat(); }

    // Replaces the text by its expansion of %NAME%, $NAME and %xHH
    // references; true when every referenced variable was found.
    bool extractEnvVar();
};

}  // namespace kestrel
