// The shared listening socket: binding, peers' addresses, and the pause when
// the process runs out of descriptors.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include <gtest/gtest.h>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/testkit/TestKit.h"
#include "libwicket/CListener.h"

namespace {

using kestrel::UniqueFd;
using wicket::AcceptedPeer;
using wicket::CListener;

UniqueFd ConnectTo(int port)
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!fd || ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return UniqueFd();
    }
    return fd;
}

CListener::AcceptResult AcceptWithin(CListener& listener, AcceptedPeer& peer)
{
    CListener::AcceptResult result = CListener::AcceptResult::kNoneWaiting;
    kestrel::test::WaitUntil([&] {
        result = listener.Accept(peer);
        return result != CListener::AcceptResult::kNoneWaiting;
    });
    return result;
}

TEST(Listener, AcceptsPeersWithTheirAddressAndPort)
{
    CListener listener;
    ASSERT_TRUE(listener.Listen(0, "127.0.0.1"));
    ASSERT_GT(listener.Port(), 0);
    AcceptedPeer peer;
    EXPECT_EQ(listener.Accept(peer), CListener::AcceptResult::kNoneWaiting);

    UniqueFd client = ConnectTo(listener.Port());
    ASSERT_TRUE(client.Valid());
    ASSERT_EQ(AcceptWithin(listener, peer), CListener::AcceptResult::kAccepted);
    EXPECT_EQ(peer.address, "127.0.0.1");
    sockaddr_in local{};
    socklen_t length = sizeof local;
    ASSERT_EQ(::getsockname(client.Get(), reinterpret_cast<sockaddr*>(&local), &length), 0);
    EXPECT_EQ(peer.port, ntohs(local.sin_port));
    EXPECT_NE(::fcntl(peer.fd.Get(), F_GETFL) & O_NONBLOCK, 0) << "accepted sockets never block the server's thread";
    EXPECT_NE(::fcntl(peer.fd.Get(), F_GETFD) & FD_CLOEXEC, 0)
        << "children started by the server must not inherit viewers";
}

TEST(Listener, RefusesBadPortsAndBusyPortsSayingWhichStepFailed)
{
    CListener listener;
    errno = 0;
    EXPECT_FALSE(listener.Listen(70000));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(listener.Listen(-5));
    EXPECT_FALSE(listener.Listening());

    CListener first;
    ASSERT_TRUE(first.Listen(0, "127.0.0.1"));
    CListener second;
    errno = 0;
    EXPECT_FALSE(second.Listen(first.Port(), "127.0.0.1"));
    EXPECT_EQ(errno, EADDRINUSE);
    EXPECT_EQ(second.FailedStep(), CListener::Step::kBind);
    EXPECT_EQ(second.Port(), 0);
}

TEST(Listener, ListensOnIpv6Loopback)
{
    CListener listener;
    if (!listener.Listen(0, "::1")) {
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    }
    UniqueFd client(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(static_cast<std::uint16_t>(listener.Port()));
    address.sin6_addr = in6addr_loopback;
    ASSERT_EQ(::connect(client.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    AcceptedPeer peer;
    ASSERT_EQ(AcceptWithin(listener, peer), CListener::AcceptResult::kAccepted);
    EXPECT_EQ(peer.address, "::1");
}

// With every descriptor in use, a waiting connection is taken off the queue
// and closed (the socket no longer polls readable forever), accepting pauses,
// and once descriptors are free again connections are accepted as before.
TEST(Listener, DescriptorShortageDrainsTheQueueAndPauses)
{
    CListener listener;
    ASSERT_TRUE(listener.Listen(0, "127.0.0.1"));
    UniqueFd stranger = ConnectTo(listener.Port());
    ASSERT_TRUE(stranger.Valid());

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    std::vector<UniqueFd> fillers;
    rlimit lowered = saved;
    lowered.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    for (;;) {
        UniqueFd fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (!fd) {
            break;
        }
        fillers.push_back(std::move(fd));
    }
    AcceptedPeer peer;
    const auto result = listener.Accept(peer);
    const int error = errno;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(result, CListener::AcceptResult::kOutOfDescriptors);
    EXPECT_EQ(error, EMFILE);
    EXPECT_FALSE(listener.AcceptAllowed());
    EXPECT_EQ(listener.Shortages(), 1);

    pollfd ready{listener.Fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&ready, 1, 0), 0) << "the refused connection must leave the queue";
    char byte = 0;
    EXPECT_LE(::recv(stranger.Get(), &byte, 1, 0), 0) << "the refused peer is closed, not left hanging";

    fillers.clear();
    EXPECT_TRUE(kestrel::test::WaitUntil([&] { return listener.AcceptAllowed(); }, std::chrono::seconds(3)));
    UniqueFd next = ConnectTo(listener.Port());
    ASSERT_EQ(AcceptWithin(listener, peer), CListener::AcceptResult::kAccepted);
}

}  // namespace
