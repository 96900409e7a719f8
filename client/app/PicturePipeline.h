// From JPEG bytes to the picture the window draws: decode (grey for "black
// and white"), then the effects in their fixed order. Also the saved images.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "client/effects/DisplayBuffer.h"
#include "client/effects/Effects.h"

namespace vorlix::client {

// "<dir>/<LANG>/filetemp.jpg", or "<dir>/filetemp.jpg" without a language:
// the picture drawn when there is no live one.
std::string PlaceholderPath(const std::string& startDir, const std::string& language);

class PicturePipeline {
public:
    explicit PicturePipeline(std::string placeholderPath) : placeholder_(std::move(placeholderPath)) {}

    // Decodes `jpeg` (the placeholder file when it is empty) into `picture`
    // and applies the effects. Returns the picture's description (its
    // comment and dimensions), or none when it cannot be decoded: the
    // failure is traced and `picture` keeps what it held.
    std::optional<std::string> Render(std::span<const std::uint8_t> jpeg, const EffectSettings& effects,
                                      DisplayBuffer& picture);

    [[nodiscard]] const std::string& Placeholder() const { return placeholder_; }

private:
    std::string placeholder_;
    DisplayBuffer scratch_;
};

// "&Save image": "<dir>/files/cl_vorlix_save_<n>.jpg" with n = 0..9 in
// turn. The "files" directory is not created; when the file cannot be
// written the writer says so on the error output.
class ImageSaver {
public:
    explicit ImageSaver(std::string startDir) : dir_(std::move(startDir)) {}
    [[nodiscard]] std::string NextPath() const;
    // Saves `picture` at its own size, quality 100, with the comment
    // `commentFormat` ("Vorlix ==> %s Quality : %d%%", translated) filled with
    // "client" and 100. Nothing is saved (and the turn does not move) while
    // no picture has been drawn.
    bool Save(const DisplayBuffer& picture, const std::string& commentFormat);
    [[nodiscard]] int Count() const { return count_; }

private:
    std::string dir_;
    int count_ = 0;
};

}  // namespace vorlix::client
