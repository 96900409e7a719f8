#include "libsorrel/TraceConnect.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <memory>

#include "libsorrel/RemoteTiming.h"
#include "libwicket/SocketMode.h"

namespace sorrel {

namespace {

struct AddrInfoFree {
    void operator()(addrinfo* info) const { ::freeaddrinfo(info); }
};
using AddrInfo = std::unique_ptr<addrinfo, AddrInfoFree>;

AddrInfo Resolve(const std::string& host, int port, int family)
{
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) {
        return nullptr;
    }
    return AddrInfo(found);
}

constexpr auto kSlice = std::chrono::milliseconds(100);

// A non-blocking connect watched in slices, so a stop ends it quickly.
bool ConnectOne(int fd, const addrinfo& address, std::chrono::milliseconds limit, StopSignal* stop)
{
    if (!wicket::SetBlocking(fd, false)) {
        return false;
    }
    int result = ::connect(fd, address.ai_addr, address.ai_addrlen);
    if (result != 0 && errno == EINPROGRESS) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            if (stop != nullptr && stop->Stopped()) {
                errno = ECANCELED;
                return false;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                errno = ETIMEDOUT;
                return false;
            }
            pollfd watched{fd, POLLOUT, 0};
            const int ready = ::poll(&watched, 1, static_cast<int>(std::min(left, kSlice).count()));
            if (ready < 0 && errno != EINTR) {
                return false;
            }
            if (ready > 0) {
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
                errno = error;
                result = error == 0 ? 0 : -1;
                break;
            }
        }
    }
    if (result != 0) {
        return false;
    }
    return wicket::SetBlocking(fd, true);
}

}  // namespace

bool ConnectWithin(wicket::CBasicSocket& socket, const std::string& host, int port, std::chrono::milliseconds limit,
                   StopSignal* stop)
{
    if (port <= 0 || port > 65535) {
        errno = EINVAL;
        return false;
    }
    int lastError = ECONNREFUSED;
    for (const int family : {AF_INET, AF_INET6}) {
        const AddrInfo found = Resolve(host, port, family);
        for (const addrinfo* a = found.get(); a != nullptr; a = a->ai_next) {
            if (socket.Create(family) == 0) {
                return false;
            }
            if (ConnectOne(socket.Handle(), *a, limit, stop)) {
                return true;
            }
            lastError = errno;
            socket.Close();
            if (lastError == ECANCELED) {
                errno = lastError;
                return false;
            }
        }
    }
    errno = lastError;
    return false;
}

void SetTraceSocketOptions(int fd, std::chrono::milliseconds io)
{
    const linger drop{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &drop, sizeof drop);
    const int sendBuffer = 65536;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(io.count() / 1000);
    timeout.tv_usec = static_cast<suseconds_t>((io.count() % 1000) * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

}  // namespace sorrel
