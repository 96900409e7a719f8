// The zone table: 10 slots (9 zones and a scratch slot). Writers (main thread
// drawing, capture thread rescaling) publish a change under a sequence
// counter; the capture thread takes one consistent snapshot per frame, so
// the per-pixel loops read plain copies and never lock. The fields are
// stored with release and loaded with acquire: a reader that sees any new
// field also sees the odd counter before it and retries.
#pragma once

#include <array>
#include <atomic>
#include <mutex>

namespace vorlix {

inline constexpr int kZoneSlots = 10;
inline constexpr int kMaxZones = 9;

struct ZoneCorners {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // x1, y1 exclusive
    bool whole = false;                  // "xy_%d": the whole picture
    bool operator==(const ZoneCorners&) const = default;
};

struct ZoneSnapshot {
    int count = 0;
    std::array<ZoneCorners, kZoneSlots> slots{};
};

class ZoneTable {
public:
    // Four corners first, then the count: a reader never sees a count that
    // covers a half-written zone.
    void SetZone(int slot, const ZoneCorners& zone);
    void SetCount(int count);
    // Several zones and the count in one step.
    void SetAll(const ZoneSnapshot& table);
    ZoneSnapshot Snapshot() const;
    ZoneCorners Zone(int slot) const;
    int Count() const { return count_.load(std::memory_order_acquire); }

private:
    struct AtomicZone {
        std::atomic<int> x0{0}, y0{0}, x1{0}, y1{0};
        std::atomic<bool> whole{false};
    };
    void Store(int slot, const ZoneCorners& z);
    ZoneCorners Load(int slot) const;

    std::mutex writers_;  // writers only; readers use the sequence counter
    std::atomic<unsigned> seq_{0};
    std::atomic<int> count_{0};
    std::array<AtomicZone, kZoneSlots> zones_{};
};

}  // namespace vorlix
