#include "libwicket/ServerConnect.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "libkestrel/error/QXError.h"
#include "libkestrel/framework/UniqueFd.h"
#include "libwicket/SocketMode.h"

namespace wicket {

namespace {
constexpr unsigned int kHostNotFound = 11001;
// How often a timed connection asks whether to go on waiting.
constexpr int kAbandonPollMs = 100;

using Clock = std::chrono::steady_clock;

struct AddressListDeleter {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
using AddressList = std::unique_ptr<addrinfo, AddressListDeleter>;

// The addresses of `host`:`port`, or null with the error set as ServerConnect tells.
AddressList Resolve(const char* host, int port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    int status = ::getaddrinfo(host, service.c_str(), &hints, &found);
    if (status == EAI_NONAME || status == EAI_ADDRFAMILY) {
        // AI_ADDRCONFIG hides loopback-only families on hosts without a configured address.
        hints.ai_flags = AI_NUMERICSERV;
        status = ::getaddrinfo(host, service.c_str(), &hints, &found);
    }
    if (status != 0) {
        const int error = (status == EAI_SYSTEM) ? errno : 0;
        errno = error;
        if (error == 0) {
            SocketErrorSet(kHostNotFound);
        }
        return nullptr;
    }
    return AddressList(found);
}

// Options and mode of a connected socket; the descriptor on success.
int Finish(kestrel::UniqueFd fd, bool nonBlocking, bool noDelay)
{
    if (noDelay) {
        const int on = 1;
        ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    if (!SetBlocking(fd.Get(), !nonBlocking)) {
        return -1;
    }
    return fd.Release();
}

int ConnectOne(const addrinfo& address, bool nonBlocking, bool noDelay)
{
    kestrel::UniqueFd fd(::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC, address.ai_protocol));
    if (!fd) {
        return -1;
    }
    int result = 0;
    do {
        result = ::connect(fd.Get(), address.ai_addr, address.ai_addrlen);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        return -1;
    }
    return Finish(std::move(fd), nonBlocking, noDelay);
}

// One address within `deadline`: a non-blocking connect and a sliced wait.
int ConnectOneBy(const addrinfo& address, bool nonBlocking, bool noDelay, Clock::time_point deadline,
                 const std::function<bool()>& abandon)
{
    kestrel::UniqueFd fd(
        ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, address.ai_protocol));
    if (!fd) {
        return -1;
    }
    if (::connect(fd.Get(), address.ai_addr, address.ai_addrlen) == 0) {
        return Finish(std::move(fd), nonBlocking, noDelay);
    }
    if (errno != EINPROGRESS && errno != EINTR) {
        return -1;
    }
    for (;;) {
        if (abandon && abandon()) {
            errno = ECANCELED;
            return -1;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        const int slice =
            abandon ? static_cast<int>(std::min<long long>(left, kAbandonPollMs)) : static_cast<int>(left);
        pollfd entry{fd.Get(), POLLOUT, 0};
        const int ready = ::poll(&entry, 1, slice);
        if (ready < 0 && errno != EINTR) {
            return -1;
        }
        if (ready > 0) {
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                return -1;
            }
            if (error != 0) {
                errno = error;
                return -1;
            }
            return Finish(std::move(fd), nonBlocking, noDelay);
        }
    }
}

bool ValidTarget(const char* host, int port)
{
    if (host == nullptr || port <= 0 || port > 65535) {
        errno = EINVAL;
        return false;
    }
    return true;
}

template <class Attempt>
int TryEach(const addrinfo* list, bool timed, Attempt attempt)
{
    int lastError = ECONNREFUSED;
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        const int fd = attempt(*a);
        if (fd >= 0) {
            errno = 0;
            return fd;
        }
        lastError = errno;
        if (timed && (lastError == ETIMEDOUT || lastError == ECANCELED)) {
            break;  // the time is spent: further addresses get none
        }
    }
    errno = lastError;
    return -1;
}
}  // namespace

int ServerConnect(const char* host, int port, bool nonBlocking, bool noDelay)
{
    if (!ValidTarget(host, port)) {
        return -1;
    }
    const AddressList found = Resolve(host, port);
    if (!found) {
        return -1;
    }
    return TryEach(found.get(), false, [&](const addrinfo& a) { return ConnectOne(a, nonBlocking, noDelay); });
}

int ServerConnect(const char* host, int port, bool nonBlocking, bool noDelay, int timeoutMs,
                  const std::function<bool()>& abandon)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    if (!ValidTarget(host, port)) {
        return -1;
    }
    const AddressList found = Resolve(host, port);
    if (!found) {
        return -1;
    }
    return TryEach(found.get(), true,
                   [&](const addrinfo& a) { return ConnectOneBy(a, nonBlocking, noDelay, deadline, abandon); });
}

}  // namespace wicket
