#include "libsorrel/LevelSwitches.h"

namespace sorrel {

void SwitchBank::Enable(int level) noexcept
{
    if (Valid(level)) {
        on_[static_cast<unsigned>(level)].store(1, std::memory_order_relaxed);
    }
}

void SwitchBank::Disable(int level) noexcept
{
    if (Valid(level)) {
        on_[static_cast<unsigned>(level)].store(0, std::memory_order_relaxed);
        saved_[static_cast<unsigned>(level)] = 0;
    }
}

void SwitchBank::DisableAll() noexcept
{
    for (auto& on : on_) {
        on.store(0, std::memory_order_relaxed);
    }
}

void SwitchBank::Suspend(int level) noexcept
{
    if (Valid(level)) {
        const auto index = static_cast<unsigned>(level);
        saved_[index] = on_[index].load(std::memory_order_relaxed);
        on_[index].store(0, std::memory_order_relaxed);
    }
}

void SwitchBank::Resume(int level) noexcept
{
    if (Valid(level)) {
        const auto index = static_cast<unsigned>(level);
        on_[index].store(saved_[index], std::memory_order_relaxed);
    }
}

}  // namespace sorrel
