#include "serveur/capture/gstreamer/GstKeptBuffers.h"

namespace vorlix::capture {

GstKeptBuffers::~GstKeptBuffers()
{
    Clear();
}

void GstKeptBuffers::Drop(Kept& kept)
{
    if (kept.buffer != nullptr) {
        gst_buffer_unmap(kept.buffer, &kept.map);
        gst_buffer_unref(kept.buffer);
    }
    kept = Kept{};
}

std::span<const std::uint8_t> GstKeptBuffers::Keep(int slot, std::span<const std::uint8_t> jpeg)
{
    Kept& kept = kept_.at(static_cast<std::size_t>(slot));
    Drop(kept);
    GstBuffer* const buffer = offered_;
    offered_ = nullptr;
    if (buffer != nullptr) {
        gst_buffer_ref(buffer);
        if (gst_buffer_map(buffer, &kept.map, GST_MAP_READ)) {
            kept.buffer = buffer;
            return {kept.map.data, kept.map.size};
        }
        gst_buffer_unref(buffer);
        kept.map = GstMapInfo{};
    }
    return copies_.Keep(slot, jpeg);
}

void GstKeptBuffers::Release(int slot)
{
    Drop(kept_.at(static_cast<std::size_t>(slot)));
}

void GstKeptBuffers::Clear()
{
    for (Kept& kept : kept_) {
        Drop(kept);
    }
    copies_.Clear();
    offered_ = nullptr;
}

int GstKeptBuffers::HeldCount() const
{
    int count = 0;
    for (const Kept& kept : kept_) {
        count += kept.buffer != nullptr ? 1 : 0;
    }
    return count;
}

}  // namespace vorlix::capture
