#include "serveur/web/GuessGuard.h"

#include <algorithm>

namespace vorlix::web {

void GuessGuard::SetDelays(std::chrono::milliseconds firstDelay, std::chrono::milliseconds mostDelay)
{
    const std::lock_guard lock(mutex_);
    first_ = firstDelay;
    most_ = mostDelay;
}

GuessCost GuessGuard::Wrong(const std::string& address, Clock::time_point now)
{
    const std::lock_guard lock(mutex_);
    if (records_.size() >= kMaxAddresses && records_.find(address) == records_.end()) {
        Prune(now);
    }
    Record& r = records_[address];
    if (r.failures > 0 && now - r.last > kForgetAfter) {
        r.failures = 0;
    }
    r.failures = std::min(r.failures + 1, 1 << 20);
    r.last = now;
    std::chrono::milliseconds delay = first_;
    for (int i = 1; i < r.failures && delay < most_; ++i) {
        delay *= 2;
    }
    return {r.failures, std::min(delay, most_)};
}

std::size_t GuessGuard::Addresses() const
{
    const std::lock_guard lock(mutex_);
    return records_.size();
}

void GuessGuard::Prune(Clock::time_point now)
{
    std::erase_if(records_, [&](const auto& entry) { return now - entry.second.last > kForgetAfter; });
    if (records_.size() < kMaxAddresses) {
        return;
    }
    // Still full: the address quiet for longest goes.
    auto oldest = std::min_element(records_.begin(), records_.end(),
                                   [](const auto& a, const auto& b) { return a.second.last < b.second.last; });
    records_.erase(oldest);
}

}  // namespace vorlix::web
