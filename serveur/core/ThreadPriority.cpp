#include "serveur/core/ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "libkestrel/error/QXError.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"

namespace vorlix {

namespace {
constexpr int kAbsent = 98657;
}

int NiceFromPriority(int priority)
{
    // The scale runs from idle to time critical; a lower nice value is a higher priority.
    switch (priority) {
        case 1:
            return 15;
        case 2:
            return 2;
        case 3:
            return 1;
        case 4:
            return 0;
        case 5:
            return -1;
        case 6:
            return -2;
        case 7:
            return -15;
        default:
            return -priority;  // any other number keeps its meaning on the same scale
    }
}

bool SetThreadPriorityFromIni(const std::string& settingsFile, const std::string& section)
{
    const int priority = kestrel::profile::GetInt(settingsFile, section, "Priority", kAbsent);
    if (priority == kAbsent) {
        return true;
    }
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    if (::setpriority(PRIO_PROCESS, tid, NiceFromPriority(priority)) != 0) {
        const int err = errno;
        ErrorSysSet(static_cast<unsigned>(err));
        TRACE_ERROR("Error on ChangeThreadPriority (%d,%s)", err, std::strerror(err));
        return false;
    }
    return true;
}

}  // namespace vorlix
