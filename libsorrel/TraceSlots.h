// The two registration slots of the trace library (slot 0 the trace mode,
// slot 1 the error mode), inside the library only: the C interface reads
// them inline on every trace call.
#pragma once

#include <atomic>

namespace sorrel {
class CTraceMode;

namespace detail {

// Written at a mode's construction and destruction, read on every call.
extern std::atomic<CTraceMode*> g_slots[2] __attribute__((visibility("hidden")));

inline CTraceMode* SlotMode(int slot) noexcept
{
    return g_slots[slot].load(std::memory_order_acquire);
}

}  // namespace detail
}  // namespace sorrel
