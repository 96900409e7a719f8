#include "serveur/actions/PictureHealth.h"

#include <cstring>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/actions/FireEvent.h"

namespace vorlix {

void PictureHealth::Written(const std::string& path)
{
    int lost = 0;
    {
        const std::lock_guard guard(lock_);
        if (lost_ == 0) {
            return;
        }
        lost = lost_;
        lost_ = 0;
        trouble_.clear();
    }
    TRACE_WARN("Pictures are written again (%s); %d picture(s) were lost", path.c_str(), lost);
    Tell("Pictures written again (" + std::to_string(lost) + " lost)");
}

void PictureHealth::Failed(const std::string& path, int error)
{
    const std::string reason = std::strerror(error);
    {
        const std::lock_guard guard(lock_);
        ++lost_;
        if (lost_ > 1) {
            return;
        }
        trouble_ = reason;
    }
    TRACE_WARN("Pictures are not written: can't open %s for writing (%s); said again once one is written", path.c_str(),
               reason.c_str());
    Tell("Pictures not written: " + reason);
}

std::string PictureHealth::Trouble() const
{
    const std::lock_guard guard(lock_);
    return trouble_;
}

int PictureHealth::Lost() const
{
    const std::lock_guard guard(lock_);
    return lost_;
}

void PictureHealth::Tell(const std::string& line)
{
    if (events_ != nullptr) {
        events_->AddToEventsWindow(line);
    }
}

}  // namespace vorlix
