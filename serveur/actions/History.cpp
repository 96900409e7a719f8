#include "serveur/actions/History.h"

#include <cstdio>

namespace vorlix {

std::string EventEntry(const std::tm& local, int pictureNumber, std::string_view label)
{
    // asctime's form: "Sun Dec 06 08:26:20 2026"
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int day = local.tm_wday >= 0 && local.tm_wday < 7 ? local.tm_wday : 0;
    const int month = local.tm_mon >= 0 && local.tm_mon < 12 ? local.tm_mon : 0;
    char when[64];
    std::snprintf(when, sizeof when, "%s %s %02d %02d:%02d:%02d %d", kDays[day], kMonths[month], local.tm_mday,
                  local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
    std::string entry = when;
    entry += " Events(" + std::to_string(pictureNumber) + ")=\"";
    entry += label;
    entry += '"';
    return entry;
}

void AddToHistory(std::string& history, std::time_t& lastEventTime, std::time_t now, int noEventsSeconds,
                  std::string_view entry)
{
    if (now - lastEventTime > noEventsSeconds) {
        history.assign(entry);
    } else {
        history.append(entry);
    }
    history += "\r\n";
    lastEventTime = now;
}

}  // namespace vorlix
