// The picture writer: RGB frames to baseline JPEG files with one comment.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorlix {

// Lets a caller fill rows of the image just before they are compressed, so
// that filling and compressing share the cache.
class RowPreparer {
public:
    virtual ~RowPreparer() = default;
    // Rows [first, first + count) must be final when this returns.
    virtual void PrepareRows(int first, int count) = 0;
};

// The comment text: `format` (the translated "Vorlix ==> %s Quality : %d%%")
// with %s the label, %d the quality and %% a percent sign. Only these three
// are understood, so a translation cannot make the formatting read past its
// arguments; any other "%x" is copied as it is.
std::string JpegComment(std::string_view format, std::string_view label, int quality);

// Compresses width x height RGB pixels (3 bytes each, first row on top) at
// `quality` (clamped to 0..100, baseline tables) with one COM marker holding
// `comment` when it is not empty. Returns false when libjpeg refuses.
bool EncodeJpeg(std::span<const std::uint8_t> rgb, int width, int height, int quality, std::string_view comment,
                std::vector<std::uint8_t>& out);

// Writes the JPEG to `path` through a temporary file in the same directory
// that is renamed into place: readers see the old picture or the new one,
// never half of one, and a failed write leaves the old one intact. Returns
// false when the picture was not written, with the reason (an errno value)
// in `*error` when given, and the caller says it (once per failure streak);
// without `error` a file that cannot be created prints
// "can't open %s for writing. continue\n" to standard error.
bool WriteJpeg(std::span<const std::uint8_t> rgb, const std::string& path, int quality, int width, int height,
               std::string_view comment, RowPreparer* prepare = nullptr, int* error = nullptr);

// Bytes past a tight I420 frame that the compressor may read (each row is
// read up to its 16-pixel block): the buffer handed in must hold them.
inline constexpr std::size_t kI420ReadPast = 16;

// The same from a tight I420 frame (4:2:0 planes one after the other),
// compressed from its planes without colour conversion. `frame` must hold
// kI420ReadPast bytes past the frame.
bool WriteJpegI420(std::span<const std::uint8_t> frame, const std::string& path, int quality, int width, int height,
                   std::string_view comment, int* error = nullptr);

}  // namespace vorlix
