#include "serveur/core/ZoneTable.h"

#include <algorithm>

namespace vorlix {

void ZoneTable::Store(int slot, const ZoneCorners& z)
{
    auto& a = zones_[static_cast<std::size_t>(slot)];
    a.x0.store(z.x0, std::memory_order_release);
    a.y0.store(z.y0, std::memory_order_release);
    a.x1.store(z.x1, std::memory_order_release);
    a.y1.store(z.y1, std::memory_order_release);
    a.whole.store(z.whole, std::memory_order_release);
}

ZoneCorners ZoneTable::Load(int slot) const
{
    const auto& a = zones_[static_cast<std::size_t>(slot)];
    return {a.x0.load(std::memory_order_acquire), a.y0.load(std::memory_order_acquire),
            a.x1.load(std::memory_order_acquire), a.y1.load(std::memory_order_acquire),
            a.whole.load(std::memory_order_acquire)};
}

void ZoneTable::SetZone(int slot, const ZoneCorners& zone)
{
    if (slot < 0 || slot >= kZoneSlots) {
        return;
    }
    std::lock_guard lock(writers_);
    seq_.fetch_add(1, std::memory_order_acq_rel);
    Store(slot, zone);
    seq_.fetch_add(1, std::memory_order_release);
}

void ZoneTable::SetCount(int count)
{
    std::lock_guard lock(writers_);
    seq_.fetch_add(1, std::memory_order_acq_rel);
    count_.store(std::clamp(count, 0, kMaxZones), std::memory_order_release);
    seq_.fetch_add(1, std::memory_order_release);
}

void ZoneTable::SetAll(const ZoneSnapshot& table)
{
    std::lock_guard lock(writers_);
    seq_.fetch_add(1, std::memory_order_acq_rel);
    for (int i = 0; i < kZoneSlots; ++i) {
        Store(i, table.slots[static_cast<std::size_t>(i)]);
    }
    count_.store(std::clamp(table.count, 0, kMaxZones), std::memory_order_release);
    seq_.fetch_add(1, std::memory_order_release);
}

ZoneSnapshot ZoneTable::Snapshot() const
{
    ZoneSnapshot s;
    for (;;) {
        const unsigned before = seq_.load(std::memory_order_acquire);
        if (before & 1u) {
            continue;
        }
        s.count = count_.load(std::memory_order_acquire);
        for (int i = 0; i < kZoneSlots; ++i) {
            s.slots[static_cast<std::size_t>(i)] = Load(i);
        }
        if (seq_.load(std::memory_order_relaxed) == before) {
            return s;
        }
    }
}

ZoneCorners ZoneTable::Zone(int slot) const
{
    if (slot < 0 || slot >= kZoneSlots) {
        return {};
    }
    for (;;) {
        const unsigned before = seq_.load(std::memory_order_acquire);
        if (before & 1u) {
            continue;
        }
        const ZoneCorners z = Load(slot);
        if (seq_.load(std::memory_order_relaxed) == before) {
            return z;
        }
    }
}

}  // namespace vorlix
