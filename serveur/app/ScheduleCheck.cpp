#include "serveur/app/ScheduleCheck.h"

#include <algorithm>

namespace vorlix::app {

ScheduleRange DecodeSchedule(int packed)
{
    const auto bits = static_cast<unsigned>(packed);
    ScheduleRange r;
    r.days = bits & 0x7Fu;
    r.outside = (bits & 0x80u) != 0;
    r.end = static_cast<int>((bits >> 9) & 0x7FFu);
    r.begin = static_cast<int>((bits >> 20) & 0x7FFu);
    return r;
}

int EncodeSchedule(const ScheduleRange& range)
{
    const auto end = static_cast<unsigned>(std::clamp(range.end, 0, 1440));
    const auto begin = static_cast<unsigned>(std::clamp(range.begin, 0, 1440));
    return static_cast<int>((begin << 20) | (end << 9) | (range.outside ? 0x80u : 0u) | (range.days & 0x7Fu));
}

bool CameraWanted(int packed, const std::tm& local)
{
    const ScheduleRange r = DecodeSchedule(packed);
    if ((r.days & (1u << (local.tm_wday & 7))) == 0) {
        return false;
    }
    const int m = local.tm_hour * 60 + local.tm_min;
    if (r.outside) {
        return m < r.begin || m > r.end;
    }
    return r.begin <= m && m <= r.end;
}

}  // namespace vorlix::app
