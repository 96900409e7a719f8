// The stream reader against a scripted server on 127.0.0.1: every result
// code, the password answer, history frames, frames too large, frames that
// arrive back to back, and headers cut between two reads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "client/reader/StreamReader.h"
#include "client/reader/tests/ScriptedPeer.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix::client {
namespace {

using namespace std::chrono_literals;
using kestrel::test::TraceCapture;
using testing::Body;
using testing::HistoryFrame;
using testing::LiveFrame;
using testing::ResponseHead;
using testing::ScriptedPeer;

std::string Text(const std::vector<std::uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

std::string AllLines(const TraceCapture& trace)
{
    std::string all;
    for (const TraceCapture::Line& line : trace.Lines()) {
        all += line.text + "\n";
    }
    return all;
}

class StreamReaderTest : public ::testing::Test {
protected:
    void Connect(StreamReader::Limits limits = {})
    {
        reader_ = StreamReader(limits);
        socket_ = reader_.ConnectToServer("127.0.0.1", peer_.Port());
        ASSERT_TRUE(socket_.Valid());
        ASSERT_TRUE(peer_.Accept());
    }
    // Reads until a result other than "nothing", at most `limit`.
    int ReadSomething(std::chrono::milliseconds limit = 3s)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int result = kReadNothing;
        while (result == kReadNothing && std::chrono::steady_clock::now() < deadline) {
            result = reader_.ReadFrame(socket_.Get(), frame_);
        }
        return result;
    }

    TraceCapture trace_;
    ScriptedPeer peer_;
    StreamReader reader_;
    kestrel::UniqueFd socket_;
    std::vector<std::uint8_t> frame_;
};

TEST_F(StreamReaderTest, HeadHeaderAndBodyStartInTheFirstReadYieldTheFrame)
{
    Connect();
    const std::string body = Body(3000, 1);
    const std::string frame = LiveFrame(body);
    const std::size_t headerSize = frame.size() - body.size() - 2;
    peer_.Send(ResponseHead() + frame.substr(0, headerSize + 100));
    EXPECT_EQ(reader_.ReadFrame(socket_.Get(), frame_), kReadNothing);  // the rest is not there yet
    peer_.Send(frame.substr(headerSize + 100));
    ASSERT_EQ(ReadSomething(), 3000);
    EXPECT_EQ(Text(frame_), body);
    EXPECT_FALSE(reader_.AwaitingPassword());
    EXPECT_EQ(trace_.Count("Content-Length found (3000)"), 1);
    EXPECT_EQ(trace_.Count("lu (icurr=3000, nsize=3000 , nsize-j=2900)"), 1) << AllLines(trace_);
    EXPECT_EQ(trace_.Count("no Content-Length"), 0);
}

TEST_F(StreamReaderTest, PasswordRequestGivesTheChallenge)
{
    Connect();
    EXPECT_EQ(trace_.Count("Connect Ok(127.0.0.1:" + std::to_string(peer_.Port()) + ")"), 1);
    EXPECT_TRUE(reader_.AwaitingPassword());
    peer_.Send(ResponseHead() + "AskPassword: 123\r\n");
    EXPECT_EQ(ReadSomething(), kReadPasswordRequest);
    EXPECT_EQ(reader_.Challenge(), 123);
}

TEST_F(StreamReaderTest, NegativeChallengeIsAnsweredWithItsSignedText)
{
    Connect();
    peer_.Send(ResponseHead() + "AskPassword: -5\r\n");
    ASSERT_EQ(ReadSomething(), kReadPasswordRequest);
    EXPECT_EQ(reader_.Challenge(), -5);

    reader_.SendPasswordAnswer(socket_.Get(), "secret");
    std::string expected;
    ASSERT_TRUE(ScramblePassword("secret", "-5", expected));
    const std::string line = peer_.Receive(10 + expected.size() + 2);
    EXPECT_EQ(line, "Password: " + expected + "\r\n");
    std::string plain;
    EXPECT_TRUE(UnscramblePassword(line.substr(10, expected.size()), "-5", plain));
    EXPECT_EQ(plain, "secret");

    // A right answer brings the picture; a later request is not one any more.
    peer_.Send(LiveFrame("pic") + "AskPassword: -5\r\n");
    EXPECT_EQ(ReadSomething(), 3);
    EXPECT_EQ(ReadSomething(200ms), kReadNothing);
}

TEST_F(StreamReaderTest, TrailerAloneIsNothingAndNotTraced)
{
    Connect();
    const std::string first = LiveFrame("abc");
    peer_.Send(first.substr(0, first.size() - 2));
    ASSERT_EQ(ReadSomething(), 3);
    trace_.Clear();
    peer_.Send("\r\n");
    std::this_thread::sleep_for(20ms);  // let the two bytes arrive on their own
    EXPECT_EQ(reader_.ReadFrame(socket_.Get(), frame_), kReadNothing);
    EXPECT_EQ(reader_.ReadFrame(socket_.Get(), frame_), kReadNothing);
    EXPECT_EQ(trace_.Count("no Content-Length"), 0) << AllLines(trace_);
    // The next frame behind the kept trailer is read whole.
    const std::string second = LiveFrame("defg");
    peer_.Send(second.substr(2));
    ASSERT_EQ(ReadSomething(), 4);
    EXPECT_EQ(Text(frame_), "defg");
}

TEST_F(StreamReaderTest, BodyCompleteInTheFirstReadNeedsNoMoreReads)
{
    Connect();
    const std::string body = Body(200, 2);
    peer_.Send(LiveFrame(body));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(reader_.ReadFrame(socket_.Get(), frame_), 200);
    EXPECT_EQ(Text(frame_), body);
    EXPECT_EQ(trace_.Count("lu (icurr=200, nsize=200 , nsize-j=0)"), 1);
}

TEST_F(StreamReaderTest, HistoryFramesUpdateIndiceModuloAndTime)
{
    Connect();
    peer_.Send(HistoryFrame(12, 500, "Wed Jan 02 02:03:55 1980", "older picture"));
    ASSERT_EQ(ReadSomething(), -13);
    EXPECT_EQ(Text(reader_.HistoryPicture()), "older picture");
    EXPECT_EQ(reader_.IndiceLast(), 12);
    EXPECT_EQ(reader_.Modulo(), 500);
    EXPECT_EQ(reader_.Time(), "Wed Jan 02 02:03:55 1980");

    // Without "Time: " the previous time stays.
    peer_.Send(HistoryFrame(13, 400, "", "next"));
    ASSERT_EQ(ReadSomething(), -4);
    EXPECT_EQ(reader_.IndiceLast(), 13);
    EXPECT_EQ(reader_.Modulo(), 400);
    EXPECT_EQ(reader_.Time(), "Wed Jan 02 02:03:55 1980");
    EXPECT_TRUE(frame_.empty());  // the live frame buffer is not touched
}

TEST_F(StreamReaderTest, FrameOneByteOverTheCapacityIsRefusedAndTheNextOneComes)
{
    Connect();
    const std::string big = Body(kFrameCapacity + 1, 3);
    const std::string next = Body(500, 4);
    peer_.SendInBackground(LiveFrame(big) + LiveFrame(next));
    std::vector<int> results;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        const int result = reader_.ReadFrame(socket_.Get(), frame_);
        if (result != kReadNothing) {
            results.push_back(result);
            break;
        }
    }
    EXPECT_EQ(trace_.Count("Content-Length too large (1228801)"), 1);
    ASSERT_EQ(results, std::vector<int>{500});
    EXPECT_EQ(Text(frame_), next);
    EXPECT_EQ(trace_.Count("no Content-Length"), 0);
}

TEST_F(StreamReaderTest, FrameOfExactlyTheCapacityIsTaken)
{
    Connect();
    const std::string body = Body(kFrameCapacity, 5);
    peer_.SendInBackground(LiveFrame(body));
    ASSERT_EQ(ReadSomething(5s), static_cast<int>(kFrameCapacity));
    EXPECT_TRUE(Text(frame_) == body);
}

TEST_F(StreamReaderTest, BackToBackFramesInOneReadAreAllDelivered)
{
    Connect();
    peer_.Send(ResponseHead() + LiveFrame("one") + HistoryFrame(9, 10, "now", "two!") + LiveFrame("three"));
    std::this_thread::sleep_for(20ms);
    // Every frame is already here: one call each, nothing more to wait for.
    EXPECT_EQ(reader_.ReadFrame(socket_.Get(), frame_), 3);
    EXPECT_EQ(Text(frame_), "one");
    EXPECT_EQ(reader_.ReadFrame(socket_.Get(), frame_), -4);
    EXPECT_EQ(Text(reader_.HistoryPicture()), "two!");
    EXPECT_EQ(reader_.ReadFrame(socket_.Get(), frame_), 5);
    EXPECT_EQ(Text(frame_), "three");
    EXPECT_EQ(reader_.ReadFrame(socket_.Get(), frame_), kReadNothing);
}

TEST_F(StreamReaderTest, HeaderCutBetweenTwoReadsIsJoined)
{
    Connect();
    const std::string body = Body(1234, 6);
    const std::string frame = LiveFrame(body);
    const std::size_t cut = frame.find("34\r\n");  // "Content-Length: 12" | "34..."
    peer_.Send(frame.substr(0, cut));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(reader_.ReadFrame(socket_.Get(), frame_), kReadNothing);
    peer_.Send(frame.substr(cut));
    ASSERT_EQ(ReadSomething(), 1234);
    EXPECT_EQ(Text(frame_), body);
}

TEST_F(StreamReaderTest, InvalidLengthIsSkippedAndTheStreamGoesOn)
{
    Connect();
    peer_.Send("\r\n--BoundaryString\r\nContent-type: image/jpeg\r\nContent-Length: -7\r\n\r\n" + LiveFrame("ok"));
    EXPECT_EQ(ReadSomething(), 2);
    EXPECT_EQ(Text(frame_), "ok");
    EXPECT_EQ(trace_.Count("Content-Length invalid (-7)"), 1);
}

TEST_F(StreamReaderTest, PeerClosingIsALostConnection)
{
    Connect();
    peer_.CloseConnection();
    EXPECT_EQ(ReadSomething(), kReadLost);
}

TEST_F(StreamReaderTest, SilenceInsideABodyEndsTheConnectionWithTheFailureLines)
{
    StreamReader::Limits limits;
    limits.bodySilence = 200ms;
    Connect(limits);
    const std::string frame = LiveFrame(Body(1000, 7));
    peer_.Send(frame.substr(0, 300));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadSomething(), kReadLost);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
    EXPECT_EQ(trace_.Count("versserveur_read, unable to recv socket"), 1);
    EXPECT_EQ(trace_.Count("      ("), 1);
}

TEST_F(StreamReaderTest, NoCallWaitsLongWhileABodyIsMissing)
{
    Connect();
    peer_.Send(LiveFrame(Body(1000, 8)).substr(0, 300));
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(reader_.ReadFrame(socket_.Get(), frame_), kReadNothing);
        // Bounded by the call budget (10 ms); a wide margin for a busy machine.
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    }
}

TEST_F(StreamReaderTest, HistoryRequestIsOneLine)
{
    Connect();
    StreamReader::SendHistoryRequest(socket_.Get(), "newer");
    EXPECT_EQ(peer_.Receive(16), "History: newer\r\n");
}

TEST(StreamReaderConnectTest, RefusedConnectionIsTracedAndEmpty)
{
    const TraceCapture trace;
    int port = 0;
    {
        const ScriptedPeer closed;  // a port that was just free
        port = closed.Port();
    }
    StreamReader reader;
    const kestrel::UniqueFd socket = reader.ConnectToServer("127.0.0.1", port);
    EXPECT_FALSE(socket.Valid());
    EXPECT_EQ(reader.HostName(), "127.0.0.1");
    EXPECT_EQ(trace.Count("Connect KO (127.0.0.1:" + std::to_string(port) + ")=6f", 0), 1) << AllLines(trace);
}

TEST(StreamReaderConnectTest, WithStandardInputClosedTheConnectionIsNotDescriptorZero)
{
    const TraceCapture trace;
    ScriptedPeer peer;
    const kestrel::UniqueFd input(::fcntl(0, F_DUPFD_CLOEXEC, 3));
    ::close(0);  // NOLINT(android-cloexec-dup): put back below
    StreamReader reader;
    const kestrel::UniqueFd socket = reader.ConnectToServer("127.0.0.1", peer.Port());
    if (input) {
        ::dup2(input.Get(), 0);
    }
    ASSERT_TRUE(socket.Valid()) << AllLines(trace);
    EXPECT_GE(socket.Get(), 3) << "0 reads as not connected";
    ASSERT_TRUE(peer.Accept());
    const std::string body = Body(500, 3);
    peer.Send(ResponseHead() + LiveFrame(body));
    std::vector<std::uint8_t> frame;
    int result = kReadNothing;
    EXPECT_TRUE(kestrel::test::WaitUntil([&] {
        result = reader.ReadFrame(socket.Get(), frame);
        return result != kReadNothing;
    }));
    EXPECT_EQ(result, 500) << "the moved connection carries the stream";
    EXPECT_EQ(Text(frame), body);
    EXPECT_EQ(trace.Count("Connect Ok(127.0.0.1:", 0), 1);
}

}  // namespace
}  // namespace vorlix::client
