#include "client/effects/Effects.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace vorlix::client {

namespace {

// The new value of every channel value for one amount.
std::array<std::uint8_t, 256> AddTable(int amount, bool modulo)
{
    std::array<std::uint8_t, 256> table{};
    for (int value = 0; value < 256; ++value) {
        long long sum = static_cast<long long>(value) + amount;
        sum = std::max(sum, 0LL);
        sum = modulo ? sum % 255 : std::min(sum, 255LL);
        table[static_cast<std::size_t>(value)] = static_cast<std::uint8_t>(sum);
    }
    return table;
}

}  // namespace

void VerticalMirror(DisplayBuffer& picture)
{
    const int height = picture.Height();
    const std::size_t rowBytes = picture.RowBytes();
    for (int i = 0; i < height / 2; ++i) {
        std::swap_ranges(picture.Row(i), picture.Row(i) + rowBytes, picture.Row(height - 1 - i));
    }
}

void HorizontalMirror(DisplayBuffer& picture)
{
    const auto width = static_cast<std::size_t>(picture.Width());
    for (int row = 0; row < picture.Height(); ++row) {
        std::uint8_t* pixels = picture.Row(row);
        for (std::size_t j = 0; j < width / 2; ++j) {
            std::swap_ranges(pixels + 3 * j, pixels + 3 * j + 3, pixels + 3 * (width - 1 - j));
        }
    }
}

void ReverseColor(DisplayBuffer& picture)
{
    std::uint8_t* bytes = picture.Data();
    const std::size_t count = picture.Bytes();
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(255 - bytes[i]);
    }
}

void BiColor(DisplayBuffer& picture)
{
    std::uint8_t* bytes = picture.Data();
    const std::size_t count = picture.Bytes();
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < count; i += 3) {
        const auto grey = static_cast<std::uint8_t>((bytes[i] + bytes[i + 1] + bytes[i + 2]) / 3);
        bytes[i] = grey;
        bytes[i + 1] = grey;
        bytes[i + 2] = grey;
        sum += grey;
    }
    const auto threshold = static_cast<std::uint8_t>((sum / 76800) % 256);
    for (std::size_t i = 0; i < count; i += 3) {
        const std::uint8_t value = bytes[i] > threshold ? 255 : 0;
        bytes[i] = value;
        bytes[i + 1] = value;
        bytes[i + 2] = value;
    }
}

void AddColor(DisplayBuffer& picture, int red, int green, int blue, bool modulo)
{
    const auto addBlue = AddTable(blue, modulo);
    const auto addGreen = AddTable(green, modulo);
    const auto addRed = AddTable(red, modulo);
    std::uint8_t* bytes = picture.Data();
    const std::size_t count = picture.Bytes();
    for (std::size_t i = 0; i < count; i += 3) {
        bytes[i] = addBlue[bytes[i]];
        bytes[i + 1] = addGreen[bytes[i + 1]];
        bytes[i + 2] = addRed[bytes[i + 2]];
    }
}

void ApplyEffects(DisplayBuffer& picture, const EffectSettings& effects)
{
    if (effects.verticalMirror) {
        VerticalMirror(picture);
    }
    if (effects.horizontalMirror) {
        HorizontalMirror(picture);
    }
    if (effects.reverseColor) {
        ReverseColor(picture);
    }
    if (effects.biColor) {
        BiColor(picture);
    }
    if (effects.addColor) {
        AddColor(picture, effects.red, effects.green, effects.blue, effects.colorModulo);
    }
}

}  // namespace vorlix::client
