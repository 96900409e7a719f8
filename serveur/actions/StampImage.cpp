#include "serveur/actions/StampImage.h"

#include <cstdio>

#include "serveur/actions/Font6x6.h"

namespace vorlix {

std::string StampText(std::string_view name, int number, const std::tm& local)
{
    char clock[48];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    std::string text(name);
    text += ' ';
    text += clock;
    if (number != 0) {
        text += '-';
        text += std::to_string(number);
    }
    return text;
}

int StampColumn(int width, std::size_t length)
{
    if (width / 2 < width - 10) {
        const long column = static_cast<long>(width) - 10 - 6 * static_cast<long>(length);
        return column < 0 ? 0 : static_cast<int>(column);
    }
    return width - 10;
}

void StampImage(std::span<std::uint8_t> image, int width, int height, std::string_view name, int number,
                const std::tm& local)
{
    const std::string text = StampText(name, number, local);
    DrawText6x6(image, width, height, StampColumn(width, text.size()), height - 20, text);
}

void StampImageI420(std::span<std::uint8_t> image, int width, int height, std::string_view name, int number,
                    const std::tm& local)
{
    const std::string text = StampText(name, number, local);
    DrawText6x6I420(image, width, height, StampColumn(width, text.size()), height - 20, text);
}

void StampImage(std::span<std::uint8_t> image, int width, int height, std::string_view name, int number)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    StampImage(image, width, height, name, number, local);
}

}  // namespace vorlix
