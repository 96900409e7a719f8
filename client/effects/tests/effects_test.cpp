// The display effects with their documented figures, their order, and the
// mirrors' symmetry.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "client/effects/Effects.h"

namespace vorlix::client {
namespace {

// A picture filled with one blue-green-red pixel.
DisplayBuffer Filled(int width, int height, std::array<std::uint8_t, 3> bgr)
{
    DisplayBuffer picture;
    EXPECT_TRUE(picture.Resize(width, height));
    for (std::size_t i = 0; i < picture.Bytes(); i += 3) {
        picture.Data()[i] = bgr[0];
        picture.Data()[i + 1] = bgr[1];
        picture.Data()[i + 2] = bgr[2];
    }
    return picture;
}

std::array<std::uint8_t, 3> Pixel(const DisplayBuffer& picture, int row, int column)
{
    const std::uint8_t* p = picture.Row(row) + std::size_t{3} * static_cast<std::size_t>(column);
    return {p[0], p[1], p[2]};
}

void SetPixel(DisplayBuffer& picture, int row, int column, std::array<std::uint8_t, 3> bgr)
{
    std::uint8_t* p = picture.Row(row) + std::size_t{3} * static_cast<std::size_t>(column);
    p[0] = bgr[0];
    p[1] = bgr[1];
    p[2] = bgr[2];
}

// Every pixel different, so a misplaced one shows.
DisplayBuffer Numbered(int width, int height)
{
    DisplayBuffer picture;
    EXPECT_TRUE(picture.Resize(width, height));
    for (std::size_t i = 0; i < picture.Bytes(); ++i) {
        picture.Data()[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    }
    return picture;
}

std::vector<std::uint8_t> Bytes(const DisplayBuffer& picture)
{
    return {picture.Data(), picture.Data() + picture.Bytes()};
}

TEST(EffectsTest, ReverseColorTurnsEachByteAround)
{
    DisplayBuffer picture = Filled(1, 1, {0, 128, 255});
    ReverseColor(picture);
    EXPECT_EQ(Pixel(picture, 0, 0), (std::array<std::uint8_t, 3>{255, 127, 0}));
}

TEST(EffectsTest, BiColorOnTwoHalvesUsesTheMeanGreyAsThreshold)
{
    DisplayBuffer picture = Filled(320, 240, {40, 40, 40});
    for (int row = 0; row < 240; ++row) {
        for (int column = 160; column < 320; ++column) {
            SetPixel(picture, row, column, {200, 200, 200});
        }
    }
    BiColor(picture);  // T = (38400 x 40 + 38400 x 200) / 76800 = 120
    for (int row = 0; row < 240; row += 17) {
        EXPECT_EQ(Pixel(picture, row, 0), (std::array<std::uint8_t, 3>{0, 0, 0}));
        EXPECT_EQ(Pixel(picture, row, 159), (std::array<std::uint8_t, 3>{0, 0, 0}));
        EXPECT_EQ(Pixel(picture, row, 160), (std::array<std::uint8_t, 3>{255, 255, 255}));
        EXPECT_EQ(Pixel(picture, row, 319), (std::array<std::uint8_t, 3>{255, 255, 255}));
    }
}

TEST(EffectsTest, BiColorGreyIsTheMeanOfTheThreeChannelsRoundedDown)
{
    // Every pixel (10, 20, 31) is grey 20, so T = 20 and they all turn black;
    // one (10, 20, 33) pixel is grey 21 (above T) and one (10, 20, 32) is 20.
    DisplayBuffer picture = Filled(320, 240, {10, 20, 31});
    SetPixel(picture, 5, 5, {10, 20, 33});
    SetPixel(picture, 6, 6, {10, 20, 32});
    BiColor(picture);
    EXPECT_EQ(Pixel(picture, 0, 0), (std::array<std::uint8_t, 3>{0, 0, 0}));
    EXPECT_EQ(Pixel(picture, 5, 5), (std::array<std::uint8_t, 3>{255, 255, 255}));
    EXPECT_EQ(Pixel(picture, 6, 6), (std::array<std::uint8_t, 3>{0, 0, 0}));
}

TEST(EffectsTest, BiColorThresholdOfLargePicturesIsCutToEightBits)
{
    // 640 x 480 of grey 100: 307200 x 100 / 76800 = 400, mod 256 = 144.
    DisplayBuffer dark = Filled(640, 480, {100, 100, 100});
    BiColor(dark);
    EXPECT_EQ(Pixel(dark, 0, 0), (std::array<std::uint8_t, 3>{0, 0, 0}));
    // Grey 150: 600 mod 256 = 88, so 150 is above it.
    DisplayBuffer light = Filled(640, 480, {150, 150, 150});
    BiColor(light);
    EXPECT_EQ(Pixel(light, 0, 0), (std::array<std::uint8_t, 3>{255, 255, 255}));
}

TEST(EffectsTest, AddColorSaturatesOrWrapsModulo255)
{
    DisplayBuffer picture;
    ASSERT_TRUE(picture.Resize(2, 1));
    SetPixel(picture, 0, 0, {0, 0, 200});
    SetPixel(picture, 0, 1, {0, 0, 100});
    AddColor(picture, 100, 0, 0, false);
    EXPECT_EQ(Pixel(picture, 0, 0)[2], 255);
    EXPECT_EQ(Pixel(picture, 0, 1)[2], 200);

    SetPixel(picture, 0, 0, {0, 0, 200});
    SetPixel(picture, 0, 1, {0, 0, 155});
    AddColor(picture, 100, 0, 0, true);
    EXPECT_EQ(Pixel(picture, 0, 0)[2], 45);
    EXPECT_EQ(Pixel(picture, 0, 1)[2], 0);
}

TEST(EffectsTest, AddColorAddsEachAmountToItsOwnChannel)
{
    DisplayBuffer picture = Filled(3, 2, {10, 20, 30});
    AddColor(picture, 1, 2, 3, false);
    EXPECT_EQ(Pixel(picture, 1, 2), (std::array<std::uint8_t, 3>{13, 22, 31}));
}

TEST(EffectsTest, AddColorOfZeroChangesNothingAndNegativeSumsStopAtZero)
{
    DisplayBuffer picture = Numbered(7, 5);
    const std::vector<std::uint8_t> before = Bytes(picture);
    AddColor(picture, 0, 0, 0, false);
    EXPECT_EQ(Bytes(picture), before);

    DisplayBuffer dim = Filled(1, 1, {50, 50, 50});
    AddColor(dim, -300, -20, -2147483647, false);
    EXPECT_EQ(Pixel(dim, 0, 0), (std::array<std::uint8_t, 3>{0, 30, 0}));
    DisplayBuffer wrapped = Filled(1, 1, {50, 50, 50});
    AddColor(wrapped, -300, 2147483647, 0, true);
    EXPECT_EQ(Pixel(wrapped, 0, 0)[2], 0);
    EXPECT_EQ(Pixel(wrapped, 0, 0)[1], (50 + 2147483647LL) % 255);
}

TEST(EffectsTest, VerticalMirrorSwapsOuterRowsAndKeepsTheMiddleOne)
{
    DisplayBuffer picture = Numbered(4, 3);
    const DisplayBuffer original = picture;
    VerticalMirror(picture);
    EXPECT_EQ(Pixel(picture, 0, 1), Pixel(original, 2, 1));
    EXPECT_EQ(Pixel(picture, 2, 3), Pixel(original, 0, 3));
    EXPECT_EQ(Pixel(picture, 1, 2), Pixel(original, 1, 2));
    VerticalMirror(picture);
    EXPECT_EQ(Bytes(picture), Bytes(original));
}

TEST(EffectsTest, HorizontalMirrorSwapsColumnsAndKeepsTheMiddleOne)
{
    DisplayBuffer picture = Numbered(5, 2);
    const DisplayBuffer original = picture;
    HorizontalMirror(picture);
    EXPECT_EQ(Pixel(picture, 1, 0), Pixel(original, 1, 4));
    EXPECT_EQ(Pixel(picture, 0, 3), Pixel(original, 0, 1));
    EXPECT_EQ(Pixel(picture, 1, 2), Pixel(original, 1, 2));
    HorizontalMirror(picture);
    EXPECT_EQ(Bytes(picture), Bytes(original));
}

TEST(EffectsTest, EffectsRunInTheirFixedOrder)
{
    // Uniform grey 100: reversed first it is 155, which is not above its own
    // mean, so bi-colour makes it black (the other way round it would end
    // white). The colour is then added to the black and white result.
    DisplayBuffer picture = Filled(320, 240, {100, 100, 100});
    EffectSettings effects;
    effects.reverseColor = true;
    effects.biColor = true;
    effects.addColor = true;
    effects.red = 100;
    ApplyEffects(picture, effects);
    EXPECT_EQ(Pixel(picture, 0, 0), (std::array<std::uint8_t, 3>{0, 0, 100}));
    EXPECT_EQ(Pixel(picture, 239, 319), (std::array<std::uint8_t, 3>{0, 0, 100}));
}

TEST(EffectsTest, BothMirrorsAndReverseTogetherTurnThePictureAround)
{
    DisplayBuffer picture = Numbered(6, 4);
    const DisplayBuffer original = picture;
    EffectSettings effects;
    effects.verticalMirror = true;
    effects.horizontalMirror = true;
    effects.reverseColor = true;
    ApplyEffects(picture, effects);
    const auto moved = Pixel(original, 0, 0);
    EXPECT_EQ(Pixel(picture, 3, 5), (std::array<std::uint8_t, 3>{static_cast<std::uint8_t>(255 - moved[0]),
                                                                 static_cast<std::uint8_t>(255 - moved[1]),
                                                                 static_cast<std::uint8_t>(255 - moved[2])}));
}

TEST(EffectsTest, NoEffectLeavesThePictureAsItIs)
{
    DisplayBuffer picture = Numbered(9, 4);
    const std::vector<std::uint8_t> before = Bytes(picture);
    ApplyEffects(picture, EffectSettings{});
    EXPECT_EQ(Bytes(picture), before);
}

TEST(EffectsTest, DisplayBufferRefusesSidesBeyond4096)
{
    DisplayBuffer picture;
    EXPECT_TRUE(picture.Resize(4096, 2));
    EXPECT_FALSE(picture.Resize(4097, 2));
    EXPECT_FALSE(picture.Resize(2, 0));
    EXPECT_EQ(picture.Width(), 4096);  // a refused size changes nothing
}

}  // namespace
}  // namespace vorlix::client
