#include "libwicket/CListener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace wicket {

namespace {

constexpr std::chrono::milliseconds kFirstPause{100};
constexpr std::chrono::milliseconds kLongestPause{2000};

bool ShortOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace

std::string AddressText(const sockaddr_storage& address, int* port)
{
    char text[INET6_ADDRSTRLEN] = "";
    int number = 0;
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        number = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        number = ntohs(v6.sin6_port);
    }
    if (port != nullptr) {
        *port = number;
    }
    return text;
}

bool CListener::Listen(int port, const std::string& bindAddress, int backlog)
{
    Close();
    sockaddr_storage address{};
    socklen_t length = 0;
    const bool v6 = bindAddress.find(':') != std::string::npos;
    failedStep_ = Step::kBind;
    if (port < 0 || port > 65535) {
        errno = EINVAL;
        return false;
    }
    if (v6) {
        auto& a = reinterpret_cast<sockaddr_in6&>(address);
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(static_cast<std::uint16_t>(port));
        if (::inet_pton(AF_INET6, bindAddress.c_str(), &a.sin6_addr) != 1) {
            errno = EINVAL;
            return false;
        }
        length = sizeof a;
    } else {
        auto& a = reinterpret_cast<sockaddr_in&>(address);
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        if (!bindAddress.empty() && ::inet_pton(AF_INET, bindAddress.c_str(), &a.sin_addr) != 1) {
            errno = EINVAL;
            return false;
        }
        length = sizeof a;
    }
    kestrel::UniqueFd fd(::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        failedStep_ = Step::kSocket;
        return false;
    }
    const int on = 1;  // a restart must not wait for old connections to time out
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        failedStep_ = Step::kBind;
        return false;
    }
    if (::listen(fd.Get(), backlog) != 0) {
        failedStep_ = Step::kListen;
        return false;
    }
    failedStep_ = Step::kNone;
    fd_ = std::move(fd);
    pausedUntil_ = {};
    pause_ = std::chrono::milliseconds(0);
    shortages_ = 0;
    ReserveSpare();
    return true;
}

void CListener::Close()
{
    fd_.Reset();
    spare_.Reset();
}

int CListener::Port() const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (!fd_ || ::getsockname(fd_.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    int port = 0;
    AddressText(address, &port);
    return port;
}

void CListener::ReserveSpare()
{
    if (!spare_) {
        spare_.Reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    }
}

CListener::AcceptResult CListener::Accept(AcceptedPeer& peer)
{
    if (!fd_) {
        errno = EBADF;
        return AcceptResult::kFailed;
    }
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int fd = ::accept4(fd_.Get(), reinterpret_cast<sockaddr*>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
        peer.fd.Reset(fd);
        peer.address = AddressText(address, &peer.port);
        pause_ = std::chrono::milliseconds(0);
        ReserveSpare();
        return AcceptResult::kAccepted;
    }
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR || error == ECONNABORTED) {
        return AcceptResult::kNoneWaiting;
    }
    if (!ShortOfDescriptors(error)) {
        return AcceptResult::kFailed;
    }
    // Spend the spare on the waiting connection so it leaves the queue.
    ++shortages_;
    if (spare_) {
        spare_.Reset();
        kestrel::UniqueFd refused(::accept4(fd_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        refused.Reset();
        ReserveSpare();
    }
    pause_ = pause_.count() == 0 ? kFirstPause : std::min(pause_ * 2, kLongestPause);
    pausedUntil_ = std::chrono::steady_clock::now() + pause_;
    errno = error;
    return AcceptResult::kOutOfDescriptors;
}

}  // namespace wicket
