// One bank of per-level switches (the trace bank or the log bank of a trace
// mode) with the copies that Suspend keeps. The switches are read without
// any lock: a trace call at a level that is off costs two relaxed loads, not
// a mutex. Writers hold the owning mode's lock, so a Suspend/Resume pair and
// the saved copies stay consistent.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace sorrel {

class SwitchBank {
public:
    static constexpr int kLevels = 256;

    [[nodiscard]] static bool Valid(int level) noexcept { return static_cast<unsigned>(level) < kLevels; }

    // Every operation ignores a level outside 0..255.
    void Enable(int level) noexcept;
    // The switch and its saved copy off.
    void Disable(int level) noexcept;
    // Every switch off; the saved copies stay.
    void DisableAll() noexcept;
    // Saved copy := switch; switch := off.
    void Suspend(int level) noexcept;
    // Switch := saved copy.
    void Resume(int level) noexcept;

    [[nodiscard]] bool IsOn(int level) const noexcept
    {
        return Valid(level) && on_[static_cast<unsigned>(level)].load(std::memory_order_relaxed) != 0;
    }

private:
    std::array<std::atomic<std::uint8_t>, kLevels> on_{};
    // Touched by writers only, under the mode's lock.
    std::array<std::uint8_t, kLevels> saved_{};
};

}  // namespace sorrel
