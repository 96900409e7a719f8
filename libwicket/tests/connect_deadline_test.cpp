// Connecting with a deadline: a connection that is never answered ends on
// time, and the caller can give up early.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "libkestrel/framework/UniqueFd.h"
#include "libwicket/ServerConnect.h"

namespace {

using Clock = std::chrono::steady_clock;
using kestrel::UniqueFd;

// A loopback listener that accepts nothing; `backlog` 0 lets the kernel
// queue one connection, so further ones are never answered.
struct SilentListener {
    UniqueFd fd;
    int port = 0;

    explicit SilentListener(int backlog)
    {
        fd.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd.Get(), backlog) != 0) {
            fd.Reset();
            return;
        }
        socklen_t length = sizeof address;
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
};

// Fills the listener's queue; true when a further connection stays unanswered.
bool FillQueue(const SilentListener& listener, std::vector<UniqueFd>& held)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(listener.port));
    for (int i = 0; i < 4; ++i) {
        UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        (void)::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);  // in progress
        held.push_back(std::move(fd));
    }
    const int probe = wicket::ServerConnect("127.0.0.1", listener.port, false, true, 200);
    if (probe >= 0) {
        UniqueFd closeIt(probe);
        return false;
    }
    return errno == ETIMEDOUT;
}

TEST(ServerConnectDeadline, ConnectsAndHandsBackABlockingSocket)
{
    SilentListener listener(8);
    ASSERT_TRUE(listener.fd);
    UniqueFd fd(wicket::ServerConnect("127.0.0.1", listener.port, false, true, 2000));
    ASSERT_TRUE(fd) << std::strerror(errno);
    EXPECT_EQ(::fcntl(fd.Get(), F_GETFL) & O_NONBLOCK, 0);

    UniqueFd nonBlocking(wicket::ServerConnect("localhost", listener.port, true, true, 2000));
    ASSERT_TRUE(nonBlocking) << std::strerror(errno);
    EXPECT_NE(::fcntl(nonBlocking.Get(), F_GETFL) & O_NONBLOCK, 0);
}

TEST(ServerConnectDeadline, RefusedAndInvalidTargetsFailAtOnce)
{
    int port = 0;
    {
        SilentListener probe(1);
        port = probe.port;
    }
    const auto start = Clock::now();
    EXPECT_LT(wicket::ServerConnect("127.0.0.1", port, false, true, 5000), 0);
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_LT(wicket::ServerConnect("127.0.0.1", 0, false, true, 5000), 0);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
}

TEST(ServerConnectDeadline, AnUnansweredConnectionEndsAtTheDeadlineOrWhenAbandoned)
{
    SilentListener listener(0);
    ASSERT_TRUE(listener.fd);
    std::vector<UniqueFd> held;
    if (!FillQueue(listener, held)) {
        GTEST_SKIP() << "this kernel answers connections beyond the listen queue";
    }

    auto start = Clock::now();
    EXPECT_LT(wicket::ServerConnect("127.0.0.1", listener.port, false, true, 300), 0);
    EXPECT_EQ(errno, ETIMEDOUT);
    auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(290));
    EXPECT_LT(took, std::chrono::seconds(3));

    std::atomic<int> asked{0};
    start = Clock::now();
    EXPECT_LT(wicket::ServerConnect("127.0.0.1", listener.port, false, true, 30000, [&] { return ++asked >= 3; }), 0);
    EXPECT_EQ(errno, ECANCELED);
    took = Clock::now() - start;
    EXPECT_EQ(asked.load(), 3);
    EXPECT_LT(took, std::chrono::seconds(3));  // asked about every 100 ms, far inside the 30 s
}

}  // namespace
