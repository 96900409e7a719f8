// The wall clock the schedule reads; tests put in a fixed day and time.
#pragma once

#include <ctime>

namespace vorlix::app {

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::tm LocalNow() const = 0;
};

class SystemClock : public Clock {
public:
    std::tm LocalNow() const override
    {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        return local;
    }
};

}  // namespace vorlix::app
