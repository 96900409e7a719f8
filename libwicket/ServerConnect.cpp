#include "libwicket/ServerConnect.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "libkestrel/error/QXError.h"
#include "libkestrel/framework/UniqueFd.h"
#include "libwicket/SocketMode.h"

namespace wicket {

namespace {
constexpr unsigned int kHostNotFound = 11001;

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
    if (noDelay) {
        const int on = 1;
        ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    if (nonBlocking && !SetBlocking(fd.Get(), false)) {
        return -1;
    }
    return fd.Release();
}
}  // namespace

int ServerConnect(const char* host, int port, bool nonBlocking, bool noDelay)
{
    if (host == nullptr || port <= 0 || port > 65535) {
        errno = EINVAL;
        return -1;
    }
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
        return -1;
    }
    int fd = -1;
    int lastError = ECONNREFUSED;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        fd = ConnectOne(*a, nonBlocking, noDelay);
        if (fd >= 0) {
            break;
        }
        lastError = errno;
    }
    ::freeaddrinfo(found);
    if (fd < 0) {
        errno = lastError;
        return -1;
    }
    errno = 0;
    return fd;
}

}  // namespace wicket
