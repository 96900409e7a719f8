// The events list entry and the history text the mail sender sends.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace vorlix {

// "%s Events(%d)=\"%s\"": asctime of `local` without its line end, the
// picture number, the event label.
std::string EventEntry(const std::tm& local, int pictureNumber, std::string_view label);

// Starts a new history when more than `noEventsSeconds` passed since the
// last event, else appends; then "\r\n". Sets `lastEventTime` to now.
void AddToHistory(std::string& history, std::time_t& lastEventTime, std::time_t now, int noEventsSeconds,
                  std::string_view entry);

}  // namespace vorlix
