#include "serveur/capture/FormatNames.h"

#include <array>

#include "serveur/capture/CaptureSystem.h"

namespace vorlix::capture {
namespace {

constexpr std::array<std::string_view, kFormatNameCount> kNames{
    "Unknown", "YVU9",        "Y411",   "Y41P",   "YUY2",  "YVYU",  "UYVY",   "Y211",        "CLJR",
    "IF09",    "CPLA",        "MJPG",   "TVMJ",   "WAKE",  "CFCC",  "IJPG",   "Plum",        "RGB1",
    "RGB4",    "RGB8",        "RGB565", "RGB555", "RGB24", "RGB32", "ARGB32", "Overlay",     "QTMovie",
    "QTRpza",  "QTSmc",       "QTRle",  "QTJpeg", "dvsd",  "dvhd",  "dvsl",   "MPEG1Packet", "MPEG1Payload",
    "VPVideo", "MPEG1 Video", "I420",   "IYUV",   "Y444",  "Y800",  "Y422"};

constexpr std::array<std::string_view, kPropertyCount> kPropertyNames{
    "Brightness",    "Contrast",      "Hue",
    "Saturation",    "Sharpness",     "Gamma",
    "Color Enabled", "White Balance", "Backlight Compensation",
    "Gain"};

}  // namespace

std::string_view FormatName(int number)
{
    if (number < 0 || number >= kFormatNameCount) {
        return kNames[0];
    }
    return kNames[static_cast<std::size_t>(number)];
}

int FormatNumber(std::string_view name)
{
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (kNames[i] == name) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

std::string CaptureSystem::PropertyName(int index)
{
    if (index < 0 || index >= kPropertyCount) {
        return {};
    }
    return std::string(kPropertyNames[static_cast<std::size_t>(index)]);
}

}  // namespace vorlix::capture
