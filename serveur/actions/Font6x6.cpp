#include "serveur/actions/Font6x6.h"

#include <array>
#include <cctype>
#include <cstddef>

namespace vorlix {

namespace {

// Rows drawn with '#'; column 5 and row 5 stay blank so neighbouring
// characters and their outlines never touch.
struct GlyphSource {
    char c;
    std::array<const char*, 6> rows;
};

constexpr GlyphSource kSources[] = {
    {'A', {" ### ", "#   #", "#####", "#   #", "#   #", "     "}},
    {'B', {"#### ", "#   #", "#### ", "#   #", "#### ", "     "}},
    {'C', {" ####", "#    ", "#    ", "#    ", " ####", "     "}},
    {'D', {"#### ", "#   #", "#   #", "#   #", "#### ", "     "}},
    {'E', {"#####", "#    ", "#### ", "#    ", "#####", "     "}},
    {'F', {"#####", "#    ", "#### ", "#    ", "#    ", "     "}},
    {'G', {" ####", "#    ", "#  ##", "#   #", " ### ", "     "}},
    {'H', {"#   #", "#   #", "#####", "#   #", "#   #", "     "}},
    {'I', {"#####", "  #  ", "  #  ", "  #  ", "#####", "     "}},
    {'J', {"  ###", "    #", "    #", "#   #", " ### ", "     "}},
    {'K', {"#   #", "#  # ", "###  ", "#  # ", "#   #", "     "}},
    {'L', {"#    ", "#    ", "#    ", "#    ", "#####", "     "}},
    {'M', {"#   #", "## ##", "# # #", "#   #", "#   #", "     "}},
    {'N', {"#   #", "##  #", "# # #", "#  ##", "#   #", "     "}},
    {'O', {" ### ", "#   #", "#   #", "#   #", " ### ", "     "}},
    {'P', {"#### ", "#   #", "#### ", "#    ", "#    ", "     "}},
    {'Q', {" ### ", "#   #", "# # #", "#  # ", " ## #", "     "}},
    {'R', {"#### ", "#   #", "#### ", "#  # ", "#   #", "     "}},
    {'S', {" ####", "#    ", " ### ", "    #", "#### ", "     "}},
    {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "     "}},
    {'U', {"#   #", "#   #", "#   #", "#   #", " ### ", "     "}},
    {'V', {"#   #", "#   #", "#   #", " # # ", "  #  ", "     "}},
    {'W', {"#   #", "#   #", "# # #", "## ##", "#   #", "     "}},
    {'X', {"#   #", " # # ", "  #  ", " # # ", "#   #", "     "}},
    {'Y', {"#   #", " # # ", "  #  ", "  #  ", "  #  ", "     "}},
    {'Z', {"#####", "   # ", "  #  ", " #   ", "#####", "     "}},
    {'0', {" ### ", "#  ##", "# # #", "##  #", " ### ", "     "}},
    {'1', {"  #  ", " ##  ", "  #  ", "  #  ", " ### ", "     "}},
    {'2', {" ### ", "#   #", "  ## ", " #   ", "#####", "     "}},
    {'3', {"#### ", "    #", " ### ", "    #", "#### ", "     "}},
    {'4', {"#   #", "#   #", "#####", "    #", "    #", "     "}},
    {'5', {"#####", "#    ", "#### ", "    #", "#### ", "     "}},
    {'6', {" ### ", "#    ", "#### ", "#   #", " ### ", "     "}},
    {'7', {"#####", "    #", "   # ", "  #  ", "  #  ", "     "}},
    {'8', {" ### ", "#   #", " ### ", "#   #", " ### ", "     "}},
    {'9', {" ### ", "#   #", " ####", "    #", " ### ", "     "}},
    {':', {"     ", "  #  ", "     ", "  #  ", "     ", "     "}},
    {'-', {"     ", "     ", " ### ", "     ", "     ", "     "}},
    {' ', {"     ", "     ", "     ", "     ", "     ", "     "}},
};

constexpr std::size_t kGlyphCount = sizeof kSources / sizeof kSources[0];

struct GlyphTable {
    std::array<std::array<std::uint8_t, 6>, 256> bits{};
    std::array<bool, 256> present{};
};

constexpr GlyphTable BuildTable()
{
    GlyphTable table;
    for (std::size_t g = 0; g < kGlyphCount; ++g) {
        const auto index = static_cast<unsigned char>(kSources[g].c);
        table.present[index] = true;
        for (int row = 0; row < 6; ++row) {
            std::uint8_t bits = 0;
            const char* text = kSources[g].rows[static_cast<std::size_t>(row)];
            for (int column = 0; column < 6 && text[column] != '\0'; ++column) {
                if (text[column] == '#') {
                    bits = static_cast<std::uint8_t>(bits | (0x20 >> column));
                }
            }
            table.bits[index][static_cast<std::size_t>(row)] = bits;
        }
    }
    return table;
}

constexpr GlyphTable kTable = BuildTable();

bool Lit(const std::uint8_t* glyph, int column, int row)
{
    return column >= 0 && column < 6 && row >= 0 && row < 6 && (glyph[row] & (0x20 >> column)) != 0;
}

void Put(std::span<std::uint8_t> image, int width, int height, int x, int y, std::uint8_t value)
{
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return;
    }
    const std::size_t offset =
        (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
    if (offset + 3 > image.size()) {
        return;
    }
    image[offset] = value;
    image[offset + 1] = value;
    image[offset + 2] = value;
}

}  // namespace

const std::uint8_t* Glyph6x6(char c)
{
    const auto index = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(c)));
    return kTable.present[index] ? kTable.bits[index].data() : nullptr;
}

namespace {

// Both passes of one text; `put(x, y, value)` lights a pixel inside the picture.
template <typename PutPixel>
void DrawWith(const PutPixel& put, int width, int x, int y, std::string_view text)
{
    // Two passes per character: the outline first, so that a glyph pixel is
    // never blackened by the outline of a neighbouring pixel.
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int left = x + static_cast<int>(i) * kGlyphSize;
        if (left + kGlyphSize >= width) {
            break;
        }
        const std::uint8_t* glyph = Glyph6x6(text[i]);
        if (glyph == nullptr) {
            continue;
        }
        for (int row = -1; row <= 6; ++row) {
            for (int column = -1; column <= 6; ++column) {
                if (Lit(glyph, column, row)) {
                    continue;
                }
                if (Lit(glyph, column - 1, row) || Lit(glyph, column + 1, row) || Lit(glyph, column, row - 1) ||
                    Lit(glyph, column, row + 1)) {
                    put(left + column, y + row, 0);
                }
            }
        }
        for (int row = 0; row < 6; ++row) {
            for (int column = 0; column < 6; ++column) {
                if (Lit(glyph, column, row)) {
                    put(left + column, y + row, 255);
                }
            }
        }
    }
}

}  // namespace

void DrawText6x6(std::span<std::uint8_t> image, int width, int height, int x, int y, std::string_view text)
{
    DrawWith([&](int px, int py, std::uint8_t value) { Put(image, width, height, px, py, value); }, width, x, y, text);
}

void DrawText6x6I420(std::span<std::uint8_t> image, int width, int height, int x, int y, std::string_view text)
{
    const auto w = static_cast<std::size_t>(width);
    const auto cw = static_cast<std::size_t>((width + 1) / 2);
    const auto chromaPlane = cw * static_cast<std::size_t>((height + 1) / 2);
    const std::size_t luma = w * static_cast<std::size_t>(height);
    if (width <= 0 || height <= 0 || image.size() < luma + 2 * chromaPlane) {
        return;
    }
    // Black and white have no colour: the chroma samples the text touches go neutral.
    DrawWith(
        [&](int px, int py, std::uint8_t value) {
            if (px < 0 || py < 0 || px >= width || py >= height) {
                return;
            }
            image[static_cast<std::size_t>(py) * w + static_cast<std::size_t>(px)] = value;
            const std::size_t c = static_cast<std::size_t>(py / 2) * cw + static_cast<std::size_t>(px / 2);
            image[luma + c] = 128;
            image[luma + chromaPlane + c] = 128;
        },
        width, x, y, text);
}

}  // namespace vorlix
