#include "serveur/core/ScheduleWord.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vorlix {

ScheduleWord DecodeScheduleWord(int packed)
{
    const auto u = static_cast<unsigned>(packed);
    ScheduleWord w;
    w.days = static_cast<int>(u & 0x7Fu);
    w.outside = (u & 0x80u) != 0;
    w.endMinutes = static_cast<int>((u >> 9) & 0x7FFu);
    w.beginMinutes = static_cast<int>((u >> 20) & 0x7FFu);
    return w;
}

int EncodeScheduleWord(const ScheduleWord& word)
{
    const auto clampMinutes = [](int m) { return static_cast<unsigned>(std::clamp(m, 0, 1440)); };
    unsigned u = static_cast<unsigned>(word.days) & 0x7Fu;
    if (word.outside) {
        u |= 0x80u;
    }
    u |= clampMinutes(word.endMinutes) << 9;
    u |= clampMinutes(word.beginMinutes) << 20;
    return static_cast<int>(u);
}

std::string ScheduleTimeText(int minutes)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.02d:%.02d", minutes / 60, minutes % 60);
    return buf;
}

int ParseScheduleTime(std::string_view text)
{
    const std::string s(text);
    const auto colon = s.find(':');
    const int hours = static_cast<int>(std::strtol(s.substr(0, colon).c_str(), nullptr, 10));
    const int mins =
        colon == std::string::npos ? 0 : static_cast<int>(std::strtol(s.substr(colon + 1).c_str(), nullptr, 10));
    return std::clamp(hours * 60 + mins, 0, 1440);
}

}  // namespace vorlix
