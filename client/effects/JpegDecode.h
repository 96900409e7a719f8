// JPEG pictures from memory into the display buffer. The source hands the
// bytes to the decoder in pieces of 4096 and, when they run out, warns of
// the premature end and supplies an end-of-image marker, so a truncated
// picture still decodes. Decoder errors come back as a failure: nothing is
// printed and the program goes on.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "client/effects/DisplayBuffer.h"

namespace vorlix::client {

inline constexpr std::size_t kJpegSourcePiece = 4096;

struct DecodeResult {
    bool ok = false;
    bool tooLarge = false;  // a side beyond kMaxPictureSide: refused
    std::string comment;    // text of the COM marker, empty when none
    std::string error;      // the decoder's message when not ok
    int width = 0;          // the picture's size, also when too large
    int height = 0;
    bool truncated = false;  // the data ended before the end-of-image marker
};

// Decodes `jpeg` into `picture` (rows bottom first, blue-green-red). With
// `grey` the decoder gives one grey channel, copied to blue, green and red.
// On failure `picture` may hold a partial picture of the new size.
DecodeResult DecodeJpeg(std::span<const std::uint8_t> jpeg, bool grey, DisplayBuffer& picture);

// "<comment>    Dimensions : <w> x <h>"
std::string PictureDescription(const std::string& comment, int width, int height);

}  // namespace vorlix::client
