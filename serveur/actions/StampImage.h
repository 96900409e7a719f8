// The time stamp drawn into every written picture.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

namespace vorlix {

// name, a blank, "%02d:%02d:%02d" of `local`, and "-%d" when number is not 0
// (for example "Vorlix 14:05:09-17").
std::string StampText(std::string_view name, int number, const std::tm& local);

// The column of the first character: right-aligned 10 pixels from the edge.
int StampColumn(int width, std::size_t length);

// Draws the stamp at row height - 20 of an RGB image (row 0 is the top).
void StampImage(std::span<std::uint8_t> image, int width, int height, std::string_view name, int number,
                const std::tm& local);
// The same stamp in a tight I420 frame.
void StampImageI420(std::span<std::uint8_t> image, int width, int height, std::string_view name, int number,
                    const std::tm& local);
// The same with the current local time.
void StampImage(std::span<std::uint8_t> image, int width, int height, std::string_view name, int number);

}  // namespace vorlix
