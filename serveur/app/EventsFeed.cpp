#include "serveur/app/EventsFeed.h"

#include "libkestrel/trace/TraceLevels.h"

namespace vorlix::app {

void EventsFeed::AddEntry(const std::string& line)
{
    TRACE_LEVEL(kestrel::kLevelUser, "Events: %s", line.c_str());
    const std::lock_guard guard(lock_);
    if (list_ != nullptr) {
        list_->AddEntry(line);
    }
}

void EventsFeed::Attach(EventsWindow* list)
{
    const std::lock_guard guard(lock_);
    list_ = list;
}

}  // namespace vorlix::app
