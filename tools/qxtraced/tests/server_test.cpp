// The trace server's loop over real sockets on 127.0.0.1: several clients at
// once, console commands, strangers that send garbage, never log in or
// never read, the client limit, and a prompt stop.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/framework/UniqueFile.h"
#include "libkestrel/testkit/TestKit.h"
#include "libwicket/ProtoRecord.h"
#include "libwicket/RecordItems.h"
#include "tools/qxtraced/TraceServer.h"

namespace {

using namespace std::chrono_literals;
using kestrel::UniqueFd;
using kestrel::test::TempDir;
using kestrel::test::WaitUntil;
using wicket::RecordBuilder;

struct Pipe {
    Pipe()
    {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        read.Reset(fds[0]);
        write.Reset(fds[1]);
    }
    UniqueFd read;
    UniqueFd write;
};

// A trace server on its own thread, its output in files of a scratch directory.
class RunningServer {
public:
    explicit RunningServer(qxtraced::ServerOptions options = {})
    {
        options.port = 0;
        options.logDirectory = dir_.Path();
        lines_.reset(std::fopen(dir_.File("lines.txt").c_str(), "w"));      // NOLINT(cppcoreguidelines-owning-memory)
        notices_.reset(std::fopen(dir_.File("notices.txt").c_str(), "w"));  // NOLINT(cppcoreguidelines-owning-memory)
        server_ = std::make_unique<qxtraced::TraceServer>(options, lines_.get(), notices_.get());
        listening_ = server_->Listen();
        thread_ = std::thread([this] { server_->Run(console_.read.Get(), stop_.read.Get()); });
    }
    ~RunningServer()
    {
        if (thread_.joinable()) {
            Stop();
        }
    }
    RunningServer(const RunningServer&) = delete;
    RunningServer& operator=(const RunningServer&) = delete;

    void Stop()
    {
        static_cast<void>(::write(stop_.write.Get(), "x", 1));
        thread_.join();
    }
    void Console(const std::string& line)
    {
        const std::string text = line + "\n";
        ASSERT_EQ(::write(console_.write.Get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    [[nodiscard]] bool Listening() const { return listening_; }
    [[nodiscard]] int Port() const { return server_->Port(); }
    [[nodiscard]] std::string Lines() const { return dir_.Read("lines.txt"); }
    [[nodiscard]] std::string Notices() const { return dir_.Read("notices.txt"); }
    bool WaitForLine(const std::string& part) const
    {
        return WaitUntil([&] { return Lines().find(part) != std::string::npos; });
    }
    bool WaitForNotice(const std::string& part, std::chrono::milliseconds limit = 5s) const
    {
        return WaitUntil([&] { return Notices().find(part) != std::string::npos; }, limit);
    }
    [[nodiscard]] const TempDir& Dir() const { return dir_; }

private:
    TempDir dir_{"qxtraced_server"};
    kestrel::UniqueFile lines_;
    kestrel::UniqueFile notices_;
    std::unique_ptr<qxtraced::TraceServer> server_;
    bool listening_ = false;
    Pipe console_;
    Pipe stop_;
    std::thread thread_;
};

UniqueFd Connect(int port, int receiveBuffer = 0)
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (receiveBuffer > 0) {
        ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return UniqueFd();
    }
    return fd;
}

void Send(const UniqueFd& fd, const std::string& bytes)
{
    ASSERT_EQ(::send(fd.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

std::string Login(const std::string& name)
{
    return RecordBuilder().Text("LOGIN").Text(" ").Text(name).Framed();
}

std::string Line(const std::string& text)
{
    return RecordBuilder().Char(2).Text(text).Framed();
}

// The one-text records received within `limit`, until `count` of them.
std::vector<std::string> Receive(const UniqueFd& fd, std::size_t count, std::chrono::milliseconds limit = 3s)
{
    wicket::RecordReader reader;
    std::vector<std::string> texts;
    WaitUntil(
        [&] {
            char bytes[4096];
            const ssize_t got = ::recv(fd.Get(), bytes, sizeof bytes, MSG_DONTWAIT);
            if (got > 0) {
                reader.Feed(std::string_view(bytes, static_cast<std::size_t>(got)));
                std::string payload;
                while (reader.Next(payload)) {
                    texts.push_back(wicket::RecordItems(payload).Text());
                }
            }
            return texts.size() >= count;
        },
        limit);
    return texts;
}

// Whether the server has closed the connection.
bool ClosedByServer(const UniqueFd& fd)
{
    return WaitUntil([&] {
        char byte = 0;
        const ssize_t got = ::recv(fd.Get(), &byte, 1, MSG_DONTWAIT);
        return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    });
}

TEST(TraceServerTest, ServesSeveralClientsAtOnce)
{
    RunningServer server;
    ASSERT_TRUE(server.Listening());
    std::vector<UniqueFd> clients;
    for (const char* name : {"Vorlix", "Vorlix_1", "Vorlix_2"}) {
        clients.push_back(Connect(server.Port()));
        Send(clients.back(), Login(name));
        EXPECT_EQ(Receive(clients.back(), 1), std::vector<std::string>{"ACK"});
    }
    for (int i = 0; i < 3; ++i) {
        for (std::size_t c = 0; c < clients.size(); ++c) {
            Send(clients[c], Line("line " + std::to_string(i)));
        }
    }
    ASSERT_TRUE(server.WaitForLine("Vorlix_2: line 2"));
    const std::string lines = server.Lines();
    for (const char* name : {"Vorlix", "Vorlix_1", "Vorlix_2"}) {
        const std::string prefix = std::string("\n") + name + ": line ";
        const std::string all = "\n" + lines;
        EXPECT_LT(all.find(prefix + "0"), all.find(prefix + "1")) << name;
        EXPECT_LT(all.find(prefix + "1"), all.find(prefix + "2")) << name;
    }
    EXPECT_TRUE(server.WaitForNotice("Vorlix_1 connected from 127.0.0.1:"));
}

TEST(TraceServerTest, GarbageTruncatedAndOversizedRecordsAreRefusedWhileOthersGoOn)
{
    RunningServer server;
    UniqueFd good = Connect(server.Port());
    Send(good, Login("good"));
    ASSERT_EQ(Receive(good, 1).size(), 1u);

    UniqueFd huge = Connect(server.Port());
    Send(huge, Login("huge") + std::string("\x00\x00\x40\x06", 4) + std::string(4096, 'x'));
    EXPECT_TRUE(ClosedByServer(huge));
    UniqueFd garbage = Connect(server.Port());
    Send(garbage, "GET / HTTP/1.1\r\nHost: camera\r\n\r\n");
    EXPECT_TRUE(ClosedByServer(garbage));
    UniqueFd liar = Connect(server.Port());
    // A line whose text announces 16 bytes in a record of 4.
    Send(liar, Login("liar") + std::string("\x04\x00\x00\x00\x02\xff\x10\x00", 8));
    EXPECT_TRUE(ClosedByServer(liar));
    {
        UniqueFd cut = Connect(server.Port());
        const std::string line = Line("never finished");
        Send(cut, Login("cut") + line.substr(0, line.size() - 3));
    }  // closed by the client mid-record

    Send(good, Line("still served"));
    EXPECT_TRUE(server.WaitForLine("good: still served"));
    EXPECT_TRUE(server.WaitForNotice("huge (127.0.0.1:"));
    EXPECT_TRUE(server.WaitForNotice("refused: record of 104857600 bytes"));
    EXPECT_TRUE(server.WaitForNotice("cut (127.0.0.1:"));
    EXPECT_EQ(server.Lines().find("never finished"), std::string::npos);
}

TEST(TraceServerTest, ConsoleCommandsReachTheClientsNamed)
{
    RunningServer server;
    UniqueFd a = Connect(server.Port());
    UniqueFd b = Connect(server.Port());
    Send(a, Login("a"));
    Send(b, Login("b"));
    ASSERT_EQ(Receive(a, 1).size(), 1u);
    ASSERT_EQ(Receive(b, 1).size(), 1u);
    server.Console("enable 241");
    server.Console("disablelog 100 b");
    server.Console("list a");
    server.Console("enable 300");
    server.Console("frobnicate");
    EXPECT_EQ(Receive(a, 2), (std::vector<std::string>{"ENABLETRACE\x03"
                                                       "241",
                                                       "LISTLEVELDESC"}));
    EXPECT_EQ(Receive(b, 2), (std::vector<std::string>{"ENABLETRACE\x03"
                                                       "241",
                                                       "DISABLELOG\x03"
                                                       "100"}));
    EXPECT_TRUE(server.WaitForNotice("usage: enable LEVEL [NAME]"));
    EXPECT_TRUE(server.WaitForNotice("unknown command \"frobnicate\""));
    server.Console("clients");
    EXPECT_TRUE(server.WaitForNotice("2 clients"));
}

TEST(TraceServerTest, CommandsOfTheCommandLineGoToEveryClientAtLogin)
{
    qxtraced::ServerOptions options;
    options.loginCommands = {{"ENABLETRACE", "242"}, {"LISTLEVELDESC", ""}};
    RunningServer server(options);
    UniqueFd client = Connect(server.Port());
    Send(client, Login("late"));
    EXPECT_EQ(Receive(client, 3), (std::vector<std::string>{"ACK",
                                                            "ENABLETRACE\x03"
                                                            "242",
                                                            "LISTLEVELDESC"}));
}

TEST(TraceServerTest, StrangersAreBounded)
{
    qxtraced::ServerOptions options;
    options.maxClients = 2;
    options.loginTimeout = 300ms;
    options.outputLimit = 4096;
    options.clientSendBuffer = 4096;
    RunningServer server(options);
    // One that never logs in is closed after the timeout.
    UniqueFd silent = Connect(server.Port());
    EXPECT_TRUE(ClosedByServer(silent));
    EXPECT_TRUE(server.WaitForNotice("did not log in"));
    // Beyond the limit, connections are closed at once.
    UniqueFd one = Connect(server.Port(), 4096);
    UniqueFd two = Connect(server.Port());
    Send(one, Login("one"));
    Send(two, Login("two"));
    ASSERT_EQ(Receive(two, 1).size(), 1u);
    UniqueFd three = Connect(server.Port());
    EXPECT_TRUE(ClosedByServer(three));
    EXPECT_TRUE(server.WaitForNotice("already 2 clients"));
    // One that never reads what it is sent is dropped; the other stays.
    std::thread typist([&] {
        for (int i = 0; i < 20000 && server.Notices().find("does not read") == std::string::npos; ++i) {
            server.Console("enable " + std::to_string(i % 256) + " one");
        }
    });
    EXPECT_TRUE(server.WaitForNotice("one (127.0.0.1:", 15s));
    typist.join();
    EXPECT_TRUE(server.WaitForNotice("does not read what it is sent"));
    Send(two, Line("still here"));
    EXPECT_TRUE(server.WaitForLine("two: still here"));
}

TEST(TraceServerTest, StopsWithinASecondWithClientsConnected)
{
    RunningServer server;
    UniqueFd client = Connect(server.Port());
    Send(client, Login("x"));
    ASSERT_EQ(Receive(client, 1).size(), 1u);
    const auto start = std::chrono::steady_clock::now();
    server.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_TRUE(ClosedByServer(client));
}

TEST(TraceServerTest, ColourMarkupIsLeftOutOrShownAsColours)
{
    for (const bool colour : {false, true}) {
        qxtraced::ServerOptions options;
        options.colour = colour;
        RunningServer server(options);
        UniqueFd client = Connect(server.Port());
        Send(client, Login("c") + Line("<COLOR 7>[WARN ] careful</COLOR>"));
        ASSERT_TRUE(server.WaitForLine("careful"));
        EXPECT_EQ(server.Lines(), colour ? "c: \x1b[33m[WARN ] careful\x1b[0m\n" : "c: [WARN ] careful\n");
    }
}

}  // namespace
