#include "libsorrel/LineEscape.h"

#include <cstdio>

namespace sorrel {

namespace {

bool IsText(unsigned char c)
{
    return c >= 0x20 && c <= 0x7E;
}

// The marker or folded letter of a byte that is not itself; null for a byte
// that stands for itself.
const char* Replacement(unsigned char c)
{
    switch (c) {
        case 0x02:
            return "<STX>";
        case 0x03:
            return "<ETX>";
        case 0x04:
            return "<EOT>";
        case 0x06:
            return "<ACK>";
        case 0x10:
            return "<DLE>";
        case 0x15:
            return "<NACK>";
        case 0x1B:
            return "<ESC>";
        case 0xE0:
            return "a";
        case 0xE7:
            return "c";
        case 0xE8:
        case 0xE9:
        case 0xEA:
            return "e";
        case 0xEE:
            return "i";
        case 0xF4:
            return "o";
        case 0xF9:
            return "u";
        default:
            return nullptr;
    }
}

}  // namespace

bool AppendEscapedLine(const char* text, int& position, std::string& line)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (; bytes[position] != 0; ++position) {
        const unsigned char c = bytes[position];
        if (c == 0x0A) {
            // A line feed among text ends the line; one between raw bytes
            // is data and is shown.
            const unsigned char next = bytes[position + 1];
            const bool nextEnds = next == 0 || next == 0x0A || next == 0x0D || IsText(next);
            const bool previousEnds = position > 0 && (bytes[position - 1] == 0x0A || bytes[position - 1] == 0x0D ||
                                                       IsText(bytes[position - 1]));
            if (nextEnds || previousEnds) {
                ++position;
                return true;
            }
            line += "<LF>";
        } else if (c == 0x0D) {
            if (bytes[position + 1] != 0x0A) {
                line += "<CR>";
            }
        } else if (const char* replacement = Replacement(c)) {
            line += replacement;
        } else if (c == 0x09 || IsText(c)) {
            line += static_cast<char>(c);
        } else {
            char marker[8];
            std::snprintf(marker, sizeof marker, "<0x%X>", c);
            line += marker;
        }
    }
    return false;
}

}  // namespace sorrel
