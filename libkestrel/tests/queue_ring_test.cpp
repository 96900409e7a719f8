// The byte ring buffer: wrap-around, growth, the unread/unwrite limits and
// the traces it writes instead of throwing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "libkestrel/archive/CQueue.h"
#include "libkestrel/testkit/TestKit.h"

namespace {

using kestrel::CQueue;

class QueueTest : public ::testing::Test {
protected:
    [[nodiscard]] int CountContaining(const std::string& needle) const { return trace_.Count(needle); }
    [[nodiscard]] std::vector<kestrel::test::TraceCapture::Line> Traced() const { return trace_.Lines(); }

    kestrel::test::TraceCapture trace_;
};

std::string Pattern(std::size_t n, int seed)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>((i * 7 + static_cast<std::size_t>(seed)) % 251);
    }
    return s;
}

TEST_F(QueueTest, WrapsAroundAndKeepsOrder)
{
    CQueue queue;
    ASSERT_EQ(queue.capacity(), 1024u);
    const std::string first = Pattern(1000, 1);
    EXPECT_EQ(queue.write(first), 1000u);
    std::string skipped(900, '\0');
    EXPECT_EQ(queue.read(skipped), 900u);
    EXPECT_EQ(skipped, first.substr(0, 900));
    const std::string second = Pattern(500, 2);
    EXPECT_EQ(queue.write(second), 500u);
    EXPECT_EQ(queue.count(), 600u);
    EXPECT_EQ(queue.peek(), first.substr(900) + second);

    std::string out(600, '\0');
    EXPECT_EQ(queue.read(out), 600u);
    EXPECT_EQ(out, first.substr(900) + second);
    EXPECT_TRUE(queue.isEmpty());
}

TEST_F(QueueTest, WriteStopsAtCapacityAndTracesAFullQueue)
{
    CQueue queue(16);
    EXPECT_EQ(queue.write(Pattern(20, 3)), 16u);
    EXPECT_TRUE(queue.isFull());
    EXPECT_EQ(queue.availWrite(), 0u);
    EXPECT_EQ(CountContaining("Queue if full !"), 0);
    EXPECT_EQ(queue.write('x'), 0u);
    ASSERT_EQ(CountContaining("Queue if full !"), 1);
    EXPECT_EQ(Traced().back().level, 0);
}

TEST_F(QueueTest, ResizeRoundsAboveTheGrowthStepAndMovesWrappedBytes)
{
    CQueue queue;
    queue.write(Pattern(1000, 4));
    queue.read(nullptr, 900);
    const std::string tail = Pattern(500, 5);
    queue.write(tail);  // now wraps
    const std::string stored = queue.peek();
    EXPECT_TRUE(queue.resize(2048));
    EXPECT_EQ(queue.capacity(), 3072u);
    EXPECT_EQ(queue.peek(), stored);
    EXPECT_TRUE(queue.resize(1000));
    EXPECT_EQ(queue.capacity(), 1024u);  // 600 bytes still fit
    EXPECT_EQ(queue.peek(), stored);
    queue.write(Pattern(424, 6));
    EXPECT_TRUE(queue.FreeExtra());
    EXPECT_EQ(queue.capacity(), 2048u);  // (1024 / 1024 + 1) * 1024
}

TEST_F(QueueTest, ResizeNeverDropsStoredBytes)
{
    CQueue queue(8);
    const std::string bytes = Pattern(12, 10);
    queue.writeAndGrow(bytes);
    ASSERT_EQ(queue.capacity(), 16u);
    EXPECT_FALSE(queue.resize(1));  // 8 bytes could not hold the 12 stored
    EXPECT_EQ(queue.capacity(), 16u);
    EXPECT_EQ(queue.peek(), bytes);
}

TEST_F(QueueTest, WriteAndGrowGrowsOwnedButNeverRemoteQueues)
{
    CQueue queue(100);
    const std::string bytes = Pattern(250, 7);
    EXPECT_EQ(queue.writeAndGrow(bytes), 250u);
    EXPECT_EQ(queue.capacity(), 300u);
    EXPECT_EQ(queue.peek(), bytes);

    char buffer[8] = {};
    CQueue remote(buffer, sizeof buffer, false);
    EXPECT_TRUE(remote.remote());
    EXPECT_TRUE(remote.isEmpty());
    EXPECT_EQ(remote.writeAndGrow(bytes), 8u);
    EXPECT_EQ(remote.capacity(), 8u);
    EXPECT_FALSE(remote.resize(64));
    EXPECT_EQ(std::string(buffer, 8), bytes.substr(0, 8));
}

TEST_F(QueueTest, RemoteQueueCanStartFull)
{
    char buffer[4] = {'a', 'b', 'c', 'd'};
    CQueue remote(buffer, sizeof buffer, true);
    EXPECT_TRUE(remote.isFull());
    char out[4];
    EXPECT_EQ(remote.read(out, 4), 4u);
    EXPECT_EQ(std::string(out, 4), "abcd");
}

TEST_F(QueueTest, UnReadIsLimitedByTheFreeSpace)
{
    CQueue queue(10);
    queue.write(Pattern(10, 8));
    queue.read(nullptr, 4);
    EXPECT_FALSE(queue.unRead(5));
    EXPECT_EQ(CountContaining("Unable to unread"), 1);
    EXPECT_EQ(Traced().back().level, 16);
    EXPECT_EQ(queue.count(), 6u);
    EXPECT_TRUE(queue.unRead(4));
    EXPECT_EQ(queue.peek(), Pattern(10, 8));
}

TEST_F(QueueTest, UnReadWrapsBackOverTheBufferStart)
{
    CQueue queue(8);
    queue.write(std::string("abcdef"));
    queue.read(nullptr, 6);
    queue.write(std::string("ghij"));  // wraps: read index 6, "ghij" at 6,7,0,1
    char out[3];
    EXPECT_EQ(queue.read(out, 3), 3u);  // g h i, read index at 1
    EXPECT_TRUE(queue.unRead(3));
    EXPECT_EQ(queue.peek(), "ghij");
}

TEST_F(QueueTest, UnWriteFailsWhenMoreThanStored)
{
    CQueue queue(8);
    queue.write(std::string("abcdefgh"));
    queue.read(nullptr, 5);
    queue.write(std::string("XY"));  // wraps
    EXPECT_FALSE(queue.unWrite(6));
    EXPECT_EQ(CountContaining("Unable to unwrite"), 1);
    EXPECT_EQ(Traced().back().level, 16);
    EXPECT_TRUE(queue.unWrite(3));
    EXPECT_EQ(queue.peek(), "fg");
    EXPECT_TRUE(queue.unWrite(2));
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_FALSE(queue.unWrite(1));
}

TEST_F(QueueTest, EmptyReadIsTracedOnceUntilASuccessfulRead)
{
    CQueue queue;
    char c = 0;
    EXPECT_EQ(queue.read(&c, 1), 0u);
    EXPECT_EQ(queue.read(&c, 1), 0u);
    EXPECT_EQ(CountContaining("Queue is empty !"), 1);
    EXPECT_EQ(Traced().back().level, 1);
    queue.write('z');
    EXPECT_EQ(queue.read(&c, 1), 1u);
    EXPECT_EQ(c, 'z');
    EXPECT_EQ(queue.read(&c, 1), 0u);
    EXPECT_EQ(CountContaining("Queue is empty !"), 2);
}

TEST_F(QueueTest, GetBufferOrganizesAWrappedQueueAndReleaseCommits)
{
    CQueue queue(16);
    queue.write(std::string("0123456789ABCD"));
    queue.read(nullptr, 4);  // six bytes free: two at the end, four at the start
    std::span<char> room = queue.GetBuffer(6);
    ASSERT_EQ(room.size(), 6u);
    std::memcpy(room.data(), "ijklmn", 6);
    queue.ReleaseBuffer(4);  // only four of them were filled
    EXPECT_EQ(queue.peek(), "456789ABCDijkl");
    const char* view = queue;
    EXPECT_EQ(std::string(view, queue.count()), "456789ABCDijkl");

    room = queue.GetBuffer(32);  // grows
    ASSERT_EQ(room.size(), 32u);
    EXPECT_EQ(queue.capacity(), 48u);
    std::memcpy(room.data(), Pattern(32, 9).data(), 32);
    queue.ReleaseBuffer();  // the whole reservation
    EXPECT_EQ(queue.peek(), std::string("456789ABCDijkl") + Pattern(32, 9));
}

TEST_F(QueueTest, GetBufferOnAFullRemoteQueueGivesNothing)
{
    char buffer[4] = {};
    CQueue remote(buffer, sizeof buffer, true);
    EXPECT_TRUE(remote.GetBuffer(1).empty());
    remote.ReleaseBuffer();
    EXPECT_EQ(remote.count(), 4u);
}

TEST_F(QueueTest, ConcatAppendsWithoutConsumingTheOther)
{
    CQueue left(4);
    left.write(std::string("ab"));
    CQueue right(4);
    right.write(std::string("cdef"));
    right.read(nullptr, 1);
    right.write('g');  // wraps
    left.concat(right);
    EXPECT_EQ(left.peek(), "abdefg");
    EXPECT_EQ(right.peek(), "defg");
}

TEST_F(QueueTest, TraceWarnsAboutAZeroByte)
{
    CQueue queue;
    queue.write(std::string("ab\0cd", 5));
    queue.Trace(5);
    ASSERT_EQ(Traced().size(), 2u);
    EXPECT_EQ(Traced()[0].text, "ab\n");
    EXPECT_EQ(Traced()[1].text, "Warning: Truncated trace because of a '\\0' in the middle !\n");
    EXPECT_EQ(queue.count(), 5u);
    queue.TraceBytes(5);
    ASSERT_EQ(Traced().size(), 3u);
    EXPECT_NE(Traced()[2].text.find("0000  61 62 00 63 64"), std::string::npos);
}

TEST_F(QueueTest, PrintShowsIndexesAndSpace)
{
    CQueue queue(32);
    queue.write(std::string("hello"));
    queue.read(nullptr, 2);
    const std::string text = queue.print();
    EXPECT_NE(text.find("\nPut=5, Get=2, Restant pour ecrire : 29  Restant a lire : 3\n"), std::string::npos);
}

}  // namespace
