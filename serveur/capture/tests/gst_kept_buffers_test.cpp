// The pictures of scaled frames kept as references to GStreamer's buffers:
// the bytes where the source wrote them (no copy), one reference per slot,
// let go when the frame is measured, when the slot is kept again or at stop.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "serveur/capture/gstreamer/GstKeptBuffers.h"

namespace vorlix::capture {
namespace {

class Buffers : public ::testing::Test {
protected:
    void SetUp() override { gst_init(nullptr, nullptr); }
    void TearDown() override
    {
        for (GstBuffer* buffer : made_) {
            gst_buffer_unref(buffer);
        }
    }
    // A buffer of `size` bytes, each `value`; the test holds one reference.
    GstBuffer* Make(std::size_t size, std::uint8_t value)
    {
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
        gst_buffer_memset(buffer, 0, value, size);
        made_.push_back(buffer);
        return buffer;
    }
    static int Refs(GstBuffer* buffer) { return GST_MINI_OBJECT_REFCOUNT_VALUE(buffer); }
    // The bytes of the buffer as the streaming thread maps them.
    static std::span<const std::uint8_t> Bytes(GstBuffer* buffer, GstMapInfo& map)
    {
        EXPECT_TRUE(gst_buffer_map(buffer, &map, GST_MAP_READ));
        return {map.data, map.size};
    }

    std::vector<GstBuffer*> made_;
};

TEST_F(Buffers, AnOfferedBufferIsKeptByReferenceWhereItsBytesAre)
{
    GstKeptBuffers kept;
    GstBuffer* buffer = Make(1000, 7);
    GstMapInfo map;
    const std::span<const std::uint8_t> bytes = Bytes(buffer, map);
    kept.Offer(buffer);
    const std::span<const std::uint8_t> held = kept.Keep(1, bytes);
    gst_buffer_unmap(buffer, &map);
    EXPECT_EQ(held.data(), bytes.data()) << "not a copy";
    EXPECT_EQ(held.size(), 1000U);
    EXPECT_EQ(Refs(buffer), 2);
    EXPECT_EQ(kept.HeldCount(), 1);
    EXPECT_EQ(held[999], 7);

    kept.Release(1);
    EXPECT_EQ(Refs(buffer), 1) << "let go once its frame was measured";
    EXPECT_EQ(kept.HeldCount(), 0);
}

TEST_F(Buffers, KeepingASlotAgainLetsItsBufferGoAndClearLetsEveryOneGo)
{
    GstKeptBuffers kept;
    GstBuffer* first = Make(10, 1);
    GstBuffer* second = Make(20, 2);
    GstBuffer* third = Make(30, 3);
    GstMapInfo map;
    kept.Offer(first);
    kept.Keep(0, Bytes(first, map));
    gst_buffer_unmap(first, &map);
    kept.Offer(second);
    kept.Keep(2, Bytes(second, map));
    gst_buffer_unmap(second, &map);
    kept.Offer(third);
    const std::span<const std::uint8_t> held = kept.Keep(0, Bytes(third, map));
    gst_buffer_unmap(third, &map);
    EXPECT_EQ(Refs(first), 1) << "its slot was filled again";
    EXPECT_EQ(Refs(second), 2);
    EXPECT_EQ(Refs(third), 2);
    EXPECT_EQ(held.size(), 30U);
    EXPECT_EQ(held[0], 3);
    EXPECT_EQ(kept.HeldCount(), 2);
    kept.Clear();
    EXPECT_EQ(Refs(second), 1);
    EXPECT_EQ(Refs(third), 1);
    EXPECT_EQ(kept.HeldCount(), 0);

    // Gone with the keeper too.
    {
        GstKeptBuffers scoped;
        scoped.Offer(second);
        scoped.Keep(1, Bytes(second, map));
        gst_buffer_unmap(second, &map);
        EXPECT_EQ(Refs(second), 2);
    }
    EXPECT_EQ(Refs(second), 1);
}

TEST_F(Buffers, BytesWithoutAnOfferedBufferAreCopied)
{
    GstKeptBuffers kept;
    std::vector<std::uint8_t> bytes(64, 9);
    const std::span<const std::uint8_t> held = kept.Keep(0, bytes);
    std::fill(bytes.begin(), bytes.end(), std::uint8_t{0});
    ASSERT_EQ(held.size(), 64U);
    EXPECT_NE(held.data(), bytes.data());
    EXPECT_EQ(held[63], 9);
    EXPECT_EQ(kept.HeldCount(), 0);

    // An offer is for one Keep only.
    GstBuffer* buffer = Make(16, 4);
    GstMapInfo map;
    kept.Offer(buffer);
    kept.Keep(1, Bytes(buffer, map));
    gst_buffer_unmap(buffer, &map);
    const std::span<const std::uint8_t> next = kept.Keep(2, bytes);
    EXPECT_EQ(next[0], 0) << "copied, not taken from the earlier offer";
    EXPECT_EQ(Refs(buffer), 2);
}

}  // namespace
}  // namespace vorlix::capture
