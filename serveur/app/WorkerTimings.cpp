#include "serveur/app/WorkerTimings.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "libkestrel/env/QXGetenv.h"
#include "libkestrel/trace/TraceLevels.h"

namespace vorlix::app {

MailTimings MailTimingsOfEnvironment()
{
    MailTimings timings;
    const char* text = QXGetenv(kMailCheckVariable);
    if (text == nullptr || *text == '\0') {
        return timings;
    }
    const std::string_view value(text);
    long long ms = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), ms);
    if (error != std::errc() || end != value.data() + value.size() || ms <= 0) {
        TRACE_WARN("%s=%s is no number of milliseconds: mail checks every 30 s", kMailCheckVariable, text);
        return timings;
    }
    // Never busier than ten checks a second, never slower than the default.
    const std::chrono::milliseconds check(std::clamp<long long>(ms, 100, timings.checkPeriod.count()));
    timings.checkPeriod = check;
    // The pause lets a burst's pictures be written: a third of a period at most.
    timings.passDelay = std::min(timings.passDelay, check / 3);
    TRACE_INFO("Mail checks every %lld ms", static_cast<long long>(check.count()));
    return timings;
}

}  // namespace vorlix::app
