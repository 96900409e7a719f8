// The packed "Schedule" word: days in bits 0-6 (bit 0 Sunday), bit 7 "out of
// the time selection", end minutes in bits 9-19, begin minutes in bits 20-30.
#pragma once

#include <string>
#include <string_view>

namespace vorlix {

inline constexpr int kDefaultSchedule = 737407;

struct ScheduleWord {
    int days = 0x7F;        // bit d = day d of the C library (0 Sunday)
    bool outside = false;   // camera runs outside [begin, end)
    int beginMinutes = 0;   // 0..1440
    int endMinutes = 1440;  // 0..1440
    bool operator==(const ScheduleWord&) const = default;
};

ScheduleWord DecodeScheduleWord(int packed);
// Minutes beyond 1440 are stored as 1440.
int EncodeScheduleWord(const ScheduleWord& word);
// "%.02d:%.02d".
std::string ScheduleTimeText(int minutes);
// "h:mm" or "h" (minutes missing) into minutes, at most 1440.
int ParseScheduleTime(std::string_view text);

}  // namespace vorlix
