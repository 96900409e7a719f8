// The packed "Schedule" value and the question the schedule timer asks of it.
#pragma once

#include <ctime>

namespace vorlix::app {

struct ScheduleRange {
    unsigned days = 0;  // bit 0 Sunday .. bit 6 Saturday
    bool outside = false;
    int begin = 0;  // minutes after midnight
    int end = 0;
};

ScheduleRange DecodeSchedule(int packed);
int EncodeSchedule(const ScheduleRange& range);

// True when the camera should run at the given local time.
bool CameraWanted(int packed, const std::tm& local);

}  // namespace vorlix::app
