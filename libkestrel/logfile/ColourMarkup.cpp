#include "libkestrel/logfile/ColourMarkup.h"

#include <array>
#include <charconv>

namespace kestrel {

namespace {

// The colour numbers of the trace levels: 3 debug, 4 information, 6 and 7
// (highlighted) error and fault, 7 warning. 0..7 all have a colour.
constexpr std::array<const char*, 8> kPalette = {
    "30",  // 0 black
    "34",  // 1 blue
    "32",  // 2 green
    "36",  // 3 cyan: debug
    "32",  // 4 green: information
    "35",  // 5 magenta
    "31",  // 6 red: error
    "33",  // 7 yellow: warning, fault
};

constexpr std::string_view kClose = "</COLOR>";
constexpr std::string_view kReset = "\x1b[0m";

// "<COLOR n>" or "<HCOLOR n>" at the start of `text`: its length, the
// colour and whether it is highlighted; 0 when there is none.
std::size_t OpeningTag(std::string_view text, int& colour, bool& highlighted)
{
    std::string_view rest;
    if (text.starts_with("<COLOR ")) {
        rest = text.substr(7);
        highlighted = false;
    } else if (text.starts_with("<HCOLOR ")) {
        rest = text.substr(8);
        highlighted = true;
    } else {
        return 0;
    }
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), colour);
    if (error != std::errc() || end == rest.data() || end == rest.data() + rest.size() || *end != '>') {
        return 0;
    }
    return static_cast<std::size_t>(end + 1 - text.data());
}

}  // namespace

std::string RenderColourMarkup(std::string_view line, bool terminal)
{
    std::string out;
    out.reserve(line.size() + 16);
    bool open = false;
    for (std::size_t at = 0; at < line.size();) {
        if (line[at] == '<') {
            int colour = 0;
            bool highlighted = false;
            const std::string_view rest = line.substr(at);
            if (const std::size_t length = OpeningTag(rest, colour, highlighted); length != 0) {
                if (terminal) {
                    out += "\x1b[";
                    out += highlighted ? "1;" : "";
                    out += colour >= 0 && colour < static_cast<int>(kPalette.size())
                               ? kPalette[static_cast<std::size_t>(colour)]
                               : "39";
                    out += 'm';
                    open = true;
                }
                at += length;
                continue;
            }
            if (rest.starts_with(kClose)) {
                if (terminal && open) {
                    out += kReset;
                    open = false;
                }
                at += kClose.size();
                continue;
            }
        }
        out += line[at];
        ++at;
    }
    if (open) {
        out += kReset;
    }
    return out;
}

}  // namespace kestrel
