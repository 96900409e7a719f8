// The socket calls over real TCP on the loopback addresses.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "libkestrel/error/QXError.h"
#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/testkit/Children.h"
#include "libwicket/CBasicSocket.h"
#include "libwicket/CBasicSocketFile.h"
#include "libwicket/CNetException.h"
#include "libwicket/GetPortEx.h"
#include "libwicket/ServerConnect.h"
#include "libwicket/SockAvail.h"
#include "libwicket/SocketMode.h"

namespace {

// A listening socket on an ephemeral loopback port.
class Listener {
public:
    explicit Listener(int family = AF_INET)
    {
        fd_.Reset(::socket(family, SOCK_STREAM, 0));
        sockaddr_storage address{};
        socklen_t length = 0;
        if (family == AF_INET6) {
            auto* a6 = reinterpret_cast<sockaddr_in6*>(&address);
            a6->sin6_family = AF_INET6;
            a6->sin6_addr = in6addr_loopback;
            length = sizeof *a6;
        } else {
            auto* a4 = reinterpret_cast<sockaddr_in*>(&address);
            a4->sin_family = AF_INET;
            a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof *a4;
        }
        ok_ =
            fd_ && ::bind(fd_.Get(), reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(fd_.Get(), 8) == 0;
        length = sizeof address;
        ::getsockname(fd_.Get(), reinterpret_cast<sockaddr*>(&address), &length);
        port_ = family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                                   : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    [[nodiscard]] bool Ok() const { return ok_; }
    [[nodiscard]] int Port() const { return port_; }
    [[nodiscard]] kestrel::UniqueFd Accept() const { return kestrel::UniqueFd(::accept(fd_.Get(), nullptr, nullptr)); }

private:
    kestrel::UniqueFd fd_;
    int port_ = 0;
    bool ok_ = false;
};

TEST(ServerConnect, ConnectsOverIpv4AndIpv6AndCarriesBytesBothWays)
{
    for (const auto& [family, host] : {std::pair{AF_INET, "127.0.0.1"}, std::pair{AF_INET6, "::1"}}) {
        Listener listener(family);
        if (!listener.Ok()) {
            GTEST_SKIP() << "no loopback address for family " << family;
        }
        const kestrel::UniqueFd fd(wicket::ServerConnect(host, listener.Port(), false, true));
        ASSERT_TRUE(fd) << host << ": " << std::strerror(errno);
        const kestrel::UniqueFd peer = listener.Accept();
        ASSERT_TRUE(peer);
        ASSERT_EQ(::send(fd.Get(), "ping", 4, 0), 4);
        std::array<char, 8> got{};
        ASSERT_EQ(::recv(peer.Get(), got.data(), got.size(), 0), 4);
        EXPECT_EQ(std::string(got.data(), 4), "ping");
        ASSERT_EQ(::send(peer.Get(), "pong", 4, 0), 4);
        ASSERT_EQ(::recv(fd.Get(), got.data(), got.size(), 0), 4);  // blocking: waits for the reply
        EXPECT_EQ(std::string(got.data(), 4), "pong");
    }
}

TEST(ServerConnect, ResolvesLocalhostByName)
{
    Listener listener;
    ASSERT_TRUE(listener.Ok());
    const kestrel::UniqueFd fd(wicket::ServerConnect("localhost", listener.Port(), false, true));
    ASSERT_TRUE(fd) << std::strerror(errno);
}

TEST(ServerConnect, FailuresAreNegativeWithTheErrorSet)
{
    errno = 0;
    EXPECT_LT(wicket::ServerConnect("127.0.0.1", kestrel::test::FreeLoopbackPort(), false, true), 0);
    EXPECT_EQ(ErrorLast(), static_cast<unsigned>(ECONNREFUSED));

    errno = 0;
    SocketErrorSet(0);
    EXPECT_LT(wicket::ServerConnect("no-such-host.invalid", 80, false, true), 0);
    EXPECT_EQ(ErrorLast(), 11001U);
    EXPECT_STREQ(ErrorDescription(ErrorLast()), "Host not found");

    EXPECT_LT(wicket::ServerConnect("127.0.0.1", 0, false, true), 0);
    EXPECT_LT(wicket::ServerConnect("127.0.0.1", 70000, false, true), 0);
    EXPECT_LT(wicket::ServerConnect(nullptr, 80, false, true), 0);
    SocketErrorSet(0);
}

TEST(SockAvailReadMs, ZeroWhenQuietPositiveForDataAndForAClosedPeer)
{
    Listener listener;
    ASSERT_TRUE(listener.Ok());
    const kestrel::UniqueFd fd(wicket::ServerConnect("127.0.0.1", listener.Port(), false, true));
    ASSERT_TRUE(fd);
    kestrel::UniqueFd peer = listener.Accept();

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(wicket::SockAvailReadMs(fd.Get(), 50), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));

    // Data arriving during the wait ends it early.
    std::thread writer([peer = peer.Get()] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ::send(peer, "x", 1, 0);
    });
    EXPECT_GT(wicket::SockAvailReadMs(fd.Get(), 5000), 0);
    writer.join();
    char byte = 0;
    EXPECT_EQ(::recv(fd.Get(), &byte, 1, 0), 1);

    peer.Reset();  // an orderly close: the receive returns 0 without blocking
    EXPECT_GT(wicket::SockAvailReadMs(fd.Get(), 1000), 0);
    EXPECT_EQ(::recv(fd.Get(), &byte, 1, 0), 0);

    EXPECT_LT(wicket::SockAvailReadMs(-1, 1), 0);
}

TEST(SocketMode, SwitchesBetweenBlockingAndNonBlocking)
{
    Listener listener;
    const kestrel::UniqueFd fd(wicket::ServerConnect("127.0.0.1", listener.Port(), false, true));
    ASSERT_TRUE(fd);
    const kestrel::UniqueFd peer = listener.Accept();
    ASSERT_TRUE(wicket::SetBlocking(fd.Get(), false));
    char byte = 0;
    EXPECT_EQ(::recv(fd.Get(), &byte, 1, 0), -1);
    EXPECT_TRUE(wicket::IsWouldBlock(errno));
    ASSERT_TRUE(wicket::SetBlocking(fd.Get(), true));
    ::send(peer.Get(), "y", 1, 0);
    EXPECT_EQ(::recv(fd.Get(), &byte, 1, 0), 1);
    EXPECT_FALSE(wicket::SetBlocking(-1, true));
    EXPECT_FALSE(wicket::IsWouldBlock(ECONNRESET));
}

TEST(CBasicSocket, CreateConnectAndCloseOnDestruction)
{
    Listener listener;
    int handle = -1;
    {
        wicket::CBasicSocket socket;
        EXPECT_EQ(socket.Handle(), -1);
        EXPECT_EQ(socket.Connect("127.0.0.1", listener.Port()), 0);  // not created yet
        ASSERT_NE(socket.Create(), 0);
        handle = socket.Handle();
        ASSERT_GE(handle, 0);
        const int on = 1;  // callers set their own options on the handle
        EXPECT_EQ(::setsockopt(handle, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on), 0);
        ASSERT_NE(socket.Connect("localhost", listener.Port()), 0) << std::strerror(errno);
        const kestrel::UniqueFd peer = listener.Accept();
        EXPECT_TRUE(peer);
    }
    // The destructor closed the descriptor.
    errno = 0;
    EXPECT_EQ(::fcntl(handle, F_GETFD), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST(CBasicSocket, ConnectFailureIsZero)
{
    wicket::CBasicSocket socket;
    ASSERT_NE(socket.Create(), 0);
    EXPECT_EQ(socket.Connect("127.0.0.1", kestrel::test::FreeLoopbackPort()), 0);
    EXPECT_EQ(errno, ECONNREFUSED);
}

TEST(CBasicSocketFile, ReadsAndWritesGoToTheSocket)
{
    Listener listener;
    wicket::CBasicSocket socket;
    ASSERT_NE(socket.Create(), 0);
    ASSERT_NE(socket.Connect("127.0.0.1", listener.Port()), 0);
    kestrel::UniqueFd peer = listener.Accept();
    wicket::CBasicSocketFile file(socket, 1);

    const std::string record(100000, 'r');  // larger than one receive brings
    std::thread echo([peer = peer.Get(), n = record.size()] {
        std::string buffer(n, '\0');
        std::size_t got = 0;
        while (got < n) {
            const ssize_t r = ::recv(peer, buffer.data() + got, n - got, 0);
            if (r <= 0) {
                return;
            }
            got += static_cast<std::size_t>(r);
        }
        for (std::size_t sent = 0; sent < n;) {  // back in small pieces
            const ssize_t s = ::send(peer, buffer.data() + sent, std::min<std::size_t>(777, n - sent), 0);
            if (s <= 0) {
                return;
            }
            sent += static_cast<std::size_t>(s);
        }
        ::shutdown(peer, SHUT_WR);
    });
    file.Write(record.data(), record.size());
    std::string back(record.size(), '\0');
    EXPECT_EQ(file.Read(back.data(), back.size()), record.size());  // full reads gather the pieces
    EXPECT_EQ(back, record);
    char extra = 0;
    EXPECT_EQ(file.Read(&extra, 1), 0U);  // peer closed
    echo.join();
    EXPECT_THROW(file.Seek(0, kestrel::CFile::begin), kestrel::CFileException);
    peer.Reset();
    EXPECT_GE(socket.Handle(), 0);  // the file does not close the socket
}

TEST(CBasicSocketFile, WriteToAResetPeerThrowsInsteadOfKillingTheProcess)
{
    Listener listener;
    wicket::CBasicSocket socket;
    ASSERT_NE(socket.Create(), 0);
    ASSERT_NE(socket.Connect("127.0.0.1", listener.Port()), 0);
    kestrel::UniqueFd peer = listener.Accept();
    const linger reset{1, 0};
    ::setsockopt(peer.Get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    peer.Reset();
    wicket::CBasicSocketFile file(socket, 0);
    const std::string chunk(65536, 'z');
    EXPECT_THROW(
        {
            for (int i = 0; i < 64; ++i) {
                file.Write(chunk.data(), chunk.size());
            }
        },
        kestrel::CFileException);
}

TEST(GetPortEx, ServiceDatabaseThenNumberThenTraceServerDefault)
{
    EXPECT_EQ(wicket::GetPortEx("6666"), 6666);
    EXPECT_EQ(wicket::GetPortEx("65535"), 65535);
    EXPECT_EQ(wicket::GetPortEx("0"), 0);
    EXPECT_EQ(wicket::GetPortEx("65536"), 0);
    EXPECT_EQ(wicket::GetPortEx("12ab"), 0);
    EXPECT_EQ(wicket::GetPortEx(""), 0);
    EXPECT_EQ(wicket::GetPortEx(nullptr), 0);
    EXPECT_EQ(wicket::GetPortEx("no-such-service-here"), 0);
    const int traced = wicket::GetPortEx("qxtraced");
    if (::getservbyname("qxtraced", "tcp") == nullptr) {
        EXPECT_EQ(traced, wicket::kQxtracedDefaultPort);
    } else {
        EXPECT_GT(traced, 0);
    }
    if (::getservbyname("ftp", "tcp") != nullptr) {
        EXPECT_EQ(wicket::GetPortEx("ftp"), 21);
    }
}

TEST(CNetException, CarriesCodeTextAndPlaceAsAFrameworkException)
{
    try {
        WICKET_THROW_NET(wicket::CNetException::kSocketNotCreated, "In CQXTracedArchive::Connect");
    } catch (const kestrel::CFrameworkException& error) {
        const auto* net = dynamic_cast<const wicket::CNetException*>(&error);
        ASSERT_NE(net, nullptr);
        EXPECT_EQ(net->Code(), 9);
        EXPECT_EQ(net->Text(), "In CQXTracedArchive::Connect");
        EXPECT_NE(net->File().find("wicket_socket_test.cpp"), std::string::npos);
        EXPECT_GT(net->Line(), 0);
        EXPECT_NE(error.Message().find("socket not created"), std::string::npos) << error.Message();
        char out[16];
        EXPECT_TRUE(error.GetErrorMessage(out, sizeof out));
        EXPECT_EQ(std::strlen(out), sizeof out - 1);  // cut, never overrun
    }
    EXPECT_STREQ(wicket::CNetException::CauseMsg(1), "connection failed");
    EXPECT_STREQ(wicket::CNetException::CauseMsg(9), "socket not created");
    EXPECT_STREQ(wicket::CNetException::CauseMsg(42), "network error");
}

}  // namespace
