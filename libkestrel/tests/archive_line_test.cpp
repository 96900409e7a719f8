// The line protocol archive: "&" escaping on write, terminator matching on
// read, incomplete lines kept for the next call, and the duplex of two.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "libkestrel/archive/CLineArchive.h"
#include "libkestrel/framework/QXException.h"
#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/TraceLevels.h"

namespace {

using kestrel::CArchive;
using kestrel::CFile;
using kestrel::CLineArchive;
using kestrel::CQueue;

// A pipe: the test writes raw bytes into one end, the archive reads the other.
class LineArchiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        readEnd_ = std::make_unique<CFile>(fds[0], true);
        writeEnd_ = std::make_unique<CFile>(fds[1], true);
    }
    // The packet lines traced so far.
    [[nodiscard]] std::vector<std::string> Packets() const { return trace_.AtLevel(kestrel::kLevelPacket); }

    void Feed(const std::string& bytes) { writeEnd_->Write(bytes.data(), bytes.size()); }
    // Everything written into the pipe so far (the write end is closed).
    std::string Drain()
    {
        writeEnd_->Close();
        std::string all;
        char buffer[256];
        for (;;) {
            const std::size_t n = readEnd_->Read(buffer, sizeof buffer);
            if (n == 0) {
                return all;
            }
            all.append(buffer, n);
        }
    }

    std::unique_ptr<CFile> readEnd_;
    std::unique_ptr<CFile> writeEnd_;
    kestrel::test::TraceCapture trace_;
};

TEST_F(LineArchiveTest, WritesEscapedTextAndTheTerminator)
{
    {
        CLineArchive ar(writeEnd_.get(), CArchive::store);
        ar << std::string("a&b\rc");
        const std::vector<std::string> packets = Packets();
        ASSERT_EQ(packets.size(), 1u);
        EXPECT_NE(packets[0].find("PACK << Sent (not coded): a&b\rc"), std::string::npos);
    }
    EXPECT_EQ(Drain(), "a&&b&\rc\r\n");
}

TEST_F(LineArchiveTest, NumbersGoAsTextLines)
{
    {
        CLineArchive ar(writeEnd_.get(), CArchive::store, nullptr, "\n");
        ar << 42 << static_cast<char>('Z') << 2.5 << static_cast<unsigned char>(7) << std::string("x\ny");
    }
    EXPECT_EQ(Drain(), "42\nZ\n2.5\n7\nx&\ny\n");
}

TEST_F(LineArchiveTest, ReadingUnescapesAndDropsALoneTerminatorStart)
{
    Feed(std::string("a&c\r\n") + "\rx\r\n" + "p&&q&\r\r\n");
    CLineArchive ar(readEnd_.get(), CArchive::load);
    std::string line;
    ar >> line;
    EXPECT_TRUE(ar.FullPacket());
    EXPECT_EQ(line, "ac");
    ar >> line;
    EXPECT_EQ(line, "x");
    ar >> line;
    EXPECT_EQ(line, "p&q\r");
    EXPECT_EQ(ar.Backlog(), 0u);
}

TEST_F(LineArchiveTest, TerminatorSplitAcrossTwoReads)
{
    CLineArchive ar(readEnd_.get(), CArchive::load);
    Feed("hello\r");
    std::string line = "stale";
    ar >> line;
    EXPECT_FALSE(ar.FullPacket());
    EXPECT_EQ(line, "");
    EXPECT_EQ(ar.Backlog(), 6u);  // nothing taken from the queue
    ASSERT_FALSE(Packets().empty());
    EXPECT_NE(Packets().back().find("PACK >> Packet not complete"), std::string::npos);

    Feed("\nnext");
    ar >> line;
    EXPECT_TRUE(ar.FullPacket());
    EXPECT_EQ(line, "hello");
    EXPECT_EQ(ar.Backlog(), 4u);
    EXPECT_NE(Packets().back().find("PACK (5)>> hello"), std::string::npos);
}

TEST_F(LineArchiveTest, EscapeSplitAcrossTwoReadsKeepsTheEscapedByte)
{
    CLineArchive ar(readEnd_.get(), CArchive::load);
    Feed("a&");
    std::string line;
    ar >> line;
    EXPECT_FALSE(ar.FullPacket());
    Feed("\r\r\n");
    ar >> line;
    EXPECT_TRUE(ar.FullPacket());
    EXPECT_EQ(line, "a\r");
}

TEST_F(LineArchiveTest, EndOfFileThrowsAndKeepsThePartialLine)
{
    CLineArchive ar(readEnd_.get(), CArchive::load);
    Feed("par");
    std::string line;
    ar >> line;
    EXPECT_FALSE(ar.FullPacket());
    writeEnd_->Close();
    EXPECT_THROW(ar >> line, kestrel::CFileException);
    EXPECT_EQ(ar.Backlog(), 3u);
}

TEST_F(LineArchiveTest, OneFileReadPerCall)
{
    CLineArchive ar(readEnd_.get(), CArchive::load);
    Feed("one\r\ntwo\r\n");
    std::string line;
    ar >> line;
    EXPECT_EQ(line, "one");
    // "two" is already queued: no read needed, so a closed pipe does not matter.
    writeEnd_->Close();
    ar >> line;
    EXPECT_EQ(line, "two");
}

TEST_F(LineArchiveTest, BackspacesRemoveTheByteBeforeThem)
{
    Feed(
        "\babx\b\bc\r\n"
        "ab\b\r\n");
    CLineArchive ar(readEnd_.get(), CArchive::load);
    ar.RemoveBackspace(true);
    std::string line;
    ar >> line;
    EXPECT_EQ(line, "ac");
    ar.RemoveBackspace(false);
    ar >> line;
    EXPECT_EQ(line, "ab\b");
}

TEST_F(LineArchiveTest, SingleCharacterTerminatorEndsAtOnce)
{
    Feed("ab|c&|d|");
    CLineArchive ar(readEnd_.get(), CArchive::load, nullptr, "|");
    std::string line;
    ar >> line;
    EXPECT_EQ(line, "ab");
    ar >> line;
    EXPECT_EQ(line, "c|d");
}

TEST_F(LineArchiveTest, ReadsNumbersAndRejectsALongCharLine)
{
    Feed("-17\r\n4000000000\r\n2.25\r\nQ\r\nQR\r\n");
    CLineArchive ar(readEnd_.get(), CArchive::load);
    int i = 0;
    unsigned int u = 0;
    double d = 0;
    char c = 0;
    ar >> i >> u >> d >> c;
    EXPECT_EQ(i, -17);
    EXPECT_EQ(u, 4000000000u);
    EXPECT_EQ(d, 2.25);
    EXPECT_EQ(c, 'Q');
    try {
        ar >> c;
        FAIL() << "two characters cast into a char";
    } catch (const kestrel::CGeneralException& e) {
        EXPECT_EQ(e.Code(), 5);
        EXPECT_EQ(e.Text(), "String too long to be casted into char");
    }
}

TEST_F(LineArchiveTest, NumberIsLeftAloneUntilItsLineIsComplete)
{
    Feed("12");
    CLineArchive ar(readEnd_.get(), CArchive::load);
    int value = 99;
    ar >> value;
    EXPECT_FALSE(ar.FullPacket());
    EXPECT_EQ(value, 99);
    Feed("3\r\n");
    ar >> value;
    EXPECT_EQ(value, 123);
}

TEST_F(LineArchiveTest, SharedQueueHoldsTheReadAhead)
{
    CQueue queue(64);
    Feed("first\r\nsecond");
    CLineArchive ar(readEnd_.get(), CArchive::load, &queue);
    std::string line;
    ar >> line;
    EXPECT_EQ(line, "first");
    EXPECT_EQ(queue.peek(), "second");
}

TEST(DuplexLineArchive, TalksBothWaysOverASocketPair)
{
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    CFile left(fds[0], true);
    CFile right(fds[1], true);
    kestrel::CDuplexLineArchive a(&left, nullptr, nullptr);
    kestrel::CDuplexLineArchive b(&right, nullptr, nullptr);
    a << std::string("ping&") << 5;
    std::string text;
    int number = 0;
    b >> text >> number;
    EXPECT_TRUE(b.FullPacket());
    EXPECT_EQ(text, "ping&");
    EXPECT_EQ(number, 5);
    b << "pong" << kestrel::arendl;
    a >> text;
    EXPECT_EQ(text, "pong");
    a >> text;  // arendl's "\r\n" string is an empty line of its own
    EXPECT_EQ(text, "\r\n");
}

}  // namespace
