// Records and protocol archives without a socket: framing, items in the
// archives' encoding, records arriving in pieces, and garbage, truncated and
// oversized records refused without a crash or a large allocation.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "libkestrel/archive/CArchive.h"
#include "libwicket/CNetException.h"
#include "libwicket/CQXProtoArchive.h"
#include "libwicket/CQXProtoDuplexArchive.h"
#include "libwicket/MemoryFile.h"
#include "libwicket/ProtoRecord.h"
#include "libwicket/RecordItems.h"

namespace {

using kestrel::CArchiveException;
using wicket::CNetException;
using wicket::CQXProtoArchive;
using wicket::MemoryFile;
using wicket::RecordReader;

std::string Record(std::string_view payload)
{
    std::string out;
    wicket::AppendRecord(out, payload);
    return out;
}

std::string Header(std::uint32_t length)
{
    std::string out;
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((length >> (8 * i)) & 0xFF);
    }
    return out;
}

// A file that hands out its bytes one at a time, as a slow peer would.
class TrickleFile : public MemoryFile {
public:
    using MemoryFile::MemoryFile;
    std::size_t Read(std::span<std::byte> buffer) override
    {
        ++reads;
        return MemoryFile::Read(buffer.first(std::min<std::size_t>(buffer.size(), 1)));
    }
    using MemoryFile::Read;
    int reads = 0;
};

int RefusedCode(const std::function<void()>& call)
{
    try {
        call();
    } catch (const CNetException& e) {
        return e.Code();
    }
    return -1;
}

TEST(RecordReaderTest, RecordsComeWholeWhateverThePieces)
{
    const std::string stream = Record("first") + Record("") + Record(std::string(5000, 'x'));
    for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4096}, stream.size()}) {
        RecordReader reader;
        std::vector<std::string> records;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            reader.Feed(std::string_view(stream).substr(at, piece));
            std::string payload;
            while (reader.Next(payload)) {
                records.push_back(payload);
            }
        }
        ASSERT_EQ(records.size(), 3u) << "pieces of " << piece;
        EXPECT_EQ(records[0], "first");
        EXPECT_EQ(records[1], "");
        EXPECT_EQ(records[2], std::string(5000, 'x'));
        EXPECT_EQ(reader.Buffered(), 0u);
    }
}

TEST(RecordReaderTest, NeededNeverGoesBeyondTheRecordBegun)
{
    RecordReader reader;
    EXPECT_EQ(reader.Needed(), 4u);
    reader.Feed(Header(10).substr(0, 2));
    EXPECT_EQ(reader.Needed(), 2u);
    reader.Feed(Header(10).substr(2));
    EXPECT_EQ(reader.Needed(), 10u);
    reader.Feed("0123456");
    EXPECT_EQ(reader.Needed(), 3u);
    EXPECT_FALSE(reader.HasRecord());
    reader.Feed("789");
    EXPECT_EQ(reader.Needed(), 0u);
    EXPECT_TRUE(reader.HasRecord());
}

TEST(RecordReaderTest, AHundredMegabyteLengthIsRefusedBeforeAnyPayloadIsKept)
{
    RecordReader reader;
    EXPECT_EQ(RefusedCode([&] { reader.Feed(Header(100u * 1024 * 1024)); }), CNetException::kRecordRefused);
    EXPECT_LE(reader.Buffered(), 4u);
    std::string payload;
    EXPECT_EQ(RefusedCode([&] { reader.Next(payload); }), CNetException::kRecordRefused);
    EXPECT_TRUE(payload.empty());
}

TEST(RecordReaderTest, TheLimitItselfIsAcceptedOneMoreIsNot)
{
    RecordReader small(16);
    small.Feed(Record(std::string(16, 'a')));
    std::string payload;
    EXPECT_TRUE(small.Next(payload));
    RecordReader smaller(16);
    EXPECT_EQ(RefusedCode([&] { smaller.Feed(Header(17)); }), CNetException::kRecordRefused);
}

TEST(ProtoArchiveTest, ARecordHoldsItsItemsInTheArchiveEncoding)
{
    MemoryFile wire;
    CQXProtoArchive out(&wire, 0);
    out.Startp();
    out << std::string("LOGFILE") << std::string("\x03") << 4 << std::string("\x03") << std::string("traces/Vorlix");
    out.Endp();
    EXPECT_TRUE(wire.Bytes().empty()) << "nothing leaves before the flush";
    out.Flush();
    const std::string items =
        std::string("\x07LOGFILE") + "\x01\x03" + std::string("\x04\x00\x00\x00", 4) + "\x01\x03" + "\x0Dtraces/Vorlix";
    EXPECT_EQ(wire.Bytes(), Record(items));

    CQXProtoArchive in(&wire, 1);
    std::string command;
    std::string etx;
    int slices = 0;
    std::string name;
    in.Startp();
    in >> command >> etx >> slices >> etx >> name;
    in.Endp();
    EXPECT_EQ(command, "LOGFILE");
    EXPECT_EQ(slices, 4);
    EXPECT_EQ(name, "traces/Vorlix");
}

TEST(ProtoArchiveTest, LongTextsKeepTheirLengthPrefix)
{
    MemoryFile wire;
    CQXProtoArchive out(&wire, 0);
    out << std::string(300, 'q') << kestrel::arflush;
    const std::string& bytes = wire.Bytes();
    ASSERT_EQ(bytes.size(), 4u + 3u + 300u);
    EXPECT_EQ(bytes.substr(4, 3), std::string("\xFF\x2C\x01", 3));
}

TEST(ProtoArchiveTest, AnItemWrittenOutsideARecordIsARecordOfItsOwn)
{
    MemoryFile wire;
    CQXProtoArchive out(&wire, 0);
    out << std::string("ACK") << 'k' << kestrel::arflush;
    EXPECT_EQ(wire.Bytes(), Record("\x03"
                                   "ACK") +
                                Record("k"));
}

TEST(ProtoArchiveTest, ABlockingReadTakesOneRecordAndNotAByteMore)
{
    MemoryFile wire(Record("\x03"
                           "ACK") +
                    Record("\x0B"
                           "ENABLETRACE"));
    CQXProtoArchive in(&wire, 1);
    std::string reply;
    in >> reply;
    in.Endp();
    EXPECT_EQ(reply, "ACK");
    EXPECT_EQ(wire.Remaining(), Record("\x0B"
                                       "ENABLETRACE")
                                    .size());
}

TEST(ProtoArchiveTest, RecordsArrivingByteByByteAreReadWhole)
{
    TrickleFile wire(Record("\x05hello") + Record("\x05world"));
    CQXProtoArchive in(&wire, 1);
    std::string a;
    std::string b;
    in >> a;
    in.Endp();
    in >> b;
    EXPECT_EQ(a, "hello");
    EXPECT_EQ(b, "world");
    EXPECT_GE(wire.reads, 20);
}

TEST(ProtoArchiveTest, PollingReadsAheadAndTellsWhenARecordIsWhole)
{
    TrickleFile wire(Record("\x04ping") + Record("\x04pong"));
    CQXProtoArchive in(&wire, 1, nullptr, 4096);
    in.Blocking(false);
    int reads = 0;
    while (!in.FullPacket()) {
        ASSERT_TRUE(in.ReceiveSome());
        ++reads;
    }
    EXPECT_EQ(reads, 9);  // header and payload of the first record
    std::string text;
    in.Startp();
    in >> text;
    in.Endp();
    EXPECT_EQ(text, "ping");
    EXPECT_FALSE(in.FullPacket());
    EXPECT_THROW(in.Startp(), CArchiveException);  // not blocking: nothing whole yet
    while (in.ReceiveSome()) {
    }
    EXPECT_TRUE(in.FullPacket());
}

TEST(ProtoArchiveTest, AnItemRunningPastItsRecordIsRefused)
{
    // A text whose prefix announces 200 bytes in a record of 10.
    MemoryFile wire(Record(std::string("\xC8", 1) + "abcdefghi") + Record("\x02ok"));
    CQXProtoArchive in(&wire, 1);
    std::string text;
    EXPECT_THROW(in >> text, CArchiveException);
    in.Endp();
    // The stream stays in step: the next record reads fine.
    in >> text;
    EXPECT_EQ(text, "ok");
}

TEST(ProtoArchiveTest, ATruncatedRecordEndsInEndOfFile)
{
    const std::string whole = Record("\x0Bhello world");
    MemoryFile wire(whole.substr(0, whole.size() - 3));
    CQXProtoArchive in(&wire, 1);
    std::string text;
    try {
        in >> text;
        ADD_FAILURE() << "a truncated record was read";
    } catch (const CArchiveException& e) {
        EXPECT_EQ(e.GetCause(), CArchiveException::endOfFile);
    }
}

TEST(ProtoArchiveTest, AHundredMegabyteRecordLengthIsRefused)
{
    MemoryFile wire(Header(100u * 1024 * 1024) + "garbage that never ends");
    CQXProtoArchive in(&wire, 1);
    std::string text;
    EXPECT_EQ(RefusedCode([&] { in >> text; }), CNetException::kRecordRefused);
    EXPECT_LT(in.Backlog(), 64u);
}

TEST(ProtoArchiveTest, DirectionsAndModesAreChecked)
{
    MemoryFile wire;
    CQXProtoArchive out(&wire, 0);
    CQXProtoArchive in(&wire, 1);
    std::string text;
    EXPECT_THROW(out >> text, CArchiveException);
    EXPECT_THROW(in << std::string("x"), CArchiveException);
    EXPECT_NO_THROW(out.SetCoded(false));
    EXPECT_EQ(RefusedCode([&] { out.SetCoded(true); }), CNetException::kRecordRefused);
    EXPECT_FALSE(out.IsCoded());
}

TEST(ProtoDuplexArchiveTest, BothHalvesOnOneFile)
{
    MemoryFile wire;
    wicket::CQXProtoDuplexArchive duplex;
    duplex.AllocArchives(&wire, &wire);
    ASSERT_NE(duplex.StoreProto(), nullptr);
    ASSERT_NE(duplex.LoadProto(), nullptr);
    duplex.Startp();
    duplex << '\x02' << std::string("a trace line");
    duplex.Endp();
    duplex << kestrel::arflush;
    char kind = 0;
    std::string line;
    duplex >> kind >> line;
    EXPECT_EQ(kind, '\x02');
    EXPECT_EQ(line, "a trace line");
    EXPECT_STREQ(wicket::CQXProtoDuplexArchive::GetThisClass(), "CQXProtoDuplexArchive");

    // Borrowed halves stay their owner's.
    MemoryFile other;
    CQXProtoArchive store(&other, 0);
    CQXProtoArchive load(&other, 1);
    {
        wicket::CQXProtoDuplexArchive borrowed(&store, &load);
        borrowed << std::string("kept") << kestrel::arflush;
    }
    std::string kept;
    load >> kept;
    EXPECT_EQ(kept, "kept");
}

TEST(RecordItemsTest, BuilderAndReaderAgreeWithTheProtocolArchive)
{
    wicket::RecordBuilder builder;
    builder.Char('\x03').Text("line").Int(-7);
    MemoryFile wire(builder.Framed());
    CQXProtoArchive in(&wire, 1);
    char kind = 0;
    std::string text;
    int number = 0;
    in >> kind >> text >> number;
    EXPECT_EQ(kind, '\x03');
    EXPECT_EQ(text, "line");
    EXPECT_EQ(number, -7);

    wicket::RecordItems items(builder.Payload());
    EXPECT_EQ(items.Char(), '\x03');
    EXPECT_EQ(items.Text(), "line");
    EXPECT_EQ(items.Int(), -7);
    EXPECT_THROW(items.Text(), CArchiveException);
}

}  // namespace
