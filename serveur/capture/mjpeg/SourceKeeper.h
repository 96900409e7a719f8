// The compressed picture of a frame measured at a fraction ("Detection
// scale" 2 or 4), kept readable until the frame is done with, so its whole
// picture can be decoded should the frame be written. One kept picture per
// slot of the handoff: nothing is allocated per frame.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "serveur/capture/FrameHandoff.h"

namespace vorlix::capture {

class SourceKeeper {
public:
    virtual ~SourceKeeper() = default;
    // On the decoding thread, before the frame of `jpeg` is published in
    // `slot`: keeps the picture (whatever `slot` held before is let go) and
    // returns the bytes that stay readable until `slot` is released, kept
    // again, or cleared.
    virtual std::span<const std::uint8_t> Keep(int slot, std::span<const std::uint8_t> jpeg) = 0;
    // On the measuring thread: the frame of `slot` has been measured. The
    // handoff gives each slot to one thread at a time, so Keep and Release
    // never meet on a slot.
    virtual void Release(int /*slot*/) {}
    // Lets everything go (the handoff has stopped).
    virtual void Clear() = 0;
};

// For a source whose buffer goes back at once (a V4L2 buffer is queued to the
// driver again right after the decode): the bytes are copied into a buffer
// of the slot's own, kept from frame to frame.
class CopyingKeeper final : public SourceKeeper {
public:
    std::span<const std::uint8_t> Keep(int slot, std::span<const std::uint8_t> jpeg) override
    {
        std::vector<std::uint8_t>& copy = copies_.at(static_cast<std::size_t>(slot));
        copy.assign(jpeg.begin(), jpeg.end());  // no allocation once the largest picture was seen
        return copy;
    }
    void Clear() override
    {
        for (std::vector<std::uint8_t>& copy : copies_) {
            copy.clear();  // the storage stays for the next start
        }
    }

private:
    std::array<std::vector<std::uint8_t>, FrameHandoff::kSlots> copies_;
};

}  // namespace vorlix::capture
