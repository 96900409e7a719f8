// The display effects, applied to the display buffer after decoding, in
// this fixed order: black and white (asked of the decoder), vertical mirror,
// horizontal mirror, reverse colour, bi-colour, add colour.
#pragma once

#include "client/effects/DisplayBuffer.h"

namespace vorlix::client {

struct EffectSettings {
    bool blackAndWhite = false;  // done by the decoder: one grey channel
    bool verticalMirror = false;
    bool horizontalMirror = false;
    bool reverseColor = false;
    bool biColor = false;
    bool addColor = false;
    // Amounts added by "add color" (any integer) and its wrap switch.
    int red = 0;
    int green = 0;
    int blue = 0;
    bool colorModulo = false;
};

// Swaps row i with row H - 1 - i; an odd middle row stays.
void VerticalMirror(DisplayBuffer& picture);
// Swaps pixel j with pixel W - 1 - j in every row; an odd middle pixel stays.
void HorizontalMirror(DisplayBuffer& picture);
// Every byte c becomes 255 - c.
void ReverseColor(DisplayBuffer& picture);
// Grey (B + G + R) / 3 per pixel, then white above the threshold
// T = (sum of all greys / 76800) mod 256, black otherwise. The divisor is a
// 320 x 240 picture's pixel count whatever the size.
void BiColor(DisplayBuffer& picture);
// Adds the amounts per channel: sums below 0 become 0; above 255 they are
// capped at 255, or with `modulo` taken mod 255.
void AddColor(DisplayBuffer& picture, int red, int green, int blue, bool modulo);

// Every switched-on effect but black and white, in the fixed order.
void ApplyEffects(DisplayBuffer& picture, const EffectSettings& effects);

}  // namespace vorlix::client
