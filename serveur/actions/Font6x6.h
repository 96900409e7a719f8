// The 6x6 bitmap font of the picture stamp.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vorlix {

inline constexpr int kGlyphSize = 6;

// The glyph of `c` (compared upper-cased): six rows, bit 5 the leftmost
// column; null for a character without glyph.
const std::uint8_t* Glyph6x6(char c);

// Draws `text` into a 3-byte-per-pixel image, first character at column x,
// top glyph row at row y. Glyph pixels are white with a black one-pixel
// outline (left, right, upper, lower neighbours). Characters are 6 pixels
// apart; one without glyph still advances; drawing stops before a character
// whose right edge would reach the picture width. Clipped at the borders.
void DrawText6x6(std::span<std::uint8_t> image, int width, int height, int x, int y, std::string_view text);
// The same text in a tight I420 frame: white and black luma, neutral chroma
// under the text.
void DrawText6x6I420(std::span<std::uint8_t> image, int width, int height, int x, int y, std::string_view text);

}  // namespace vorlix
