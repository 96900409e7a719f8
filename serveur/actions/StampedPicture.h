// A picture of the detection path in one pass: the frame is copied into the
// annotated image, stamped and compressed band by band, so every row is
// compressed while it is still in the cache. The annotated image ends up
// exactly as after a full copy followed by the stamp.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

namespace vorlix {

struct StampRequest {
    std::string_view name = "Vorlix";
    int number = 0;
    std::tm local{};
};

// `stamp` null writes the copy without stamp (the saved pictures).
// False when the picture was not written, with the reason in `*error`.
bool WriteFramePicture(std::span<const std::uint8_t> frame, std::span<std::uint8_t> annotated, int width, int height,
                       const StampRequest* stamp, const std::string& path, int quality, std::string_view comment,
                       int* error = nullptr);
// The same for a tight I420 frame: the annotated image becomes the stamped
// I420 copy, compressed from its planes (it must hold 16 bytes more).
bool WriteI420Picture(std::span<const std::uint8_t> frame, std::span<std::uint8_t> annotated, int width, int height,
                      const StampRequest* stamp, const std::string& path, int quality, std::string_view comment,
                      int* error = nullptr);

}  // namespace vorlix
