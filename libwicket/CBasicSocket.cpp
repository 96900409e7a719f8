#include "libwicket/CBasicSocket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "libkestrel/error/QXError.h"

namespace wicket {

CBasicSocket::~CBasicSocket()
{
    Close();
}

int CBasicSocket::Create(int family)
{
    Close();
    fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return 0;
    }
    family_ = family;
    return 1;
}

int CBasicSocket::Connect(const char* host, int port)
{
    if (fd_ < 0 || host == nullptr || port <= 0 || port > 65535) {
        errno = fd_ < 0 ? EBADF : EINVAL;
        return 0;
    }
    addrinfo hints{};
    hints.ai_family = family_;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int status = ::getaddrinfo(host, service.c_str(), &hints, &found);
    if (status != 0) {
        errno = status == EAI_SYSTEM ? errno : 0;
        if (errno == 0) {
            SocketErrorSet(11001);
        }
        return 0;
    }
    int lastError = ECONNREFUSED;
    bool connected = false;
    for (const addrinfo* a = found; a != nullptr && !connected; a = a->ai_next) {
        int result = 0;
        do {
            result = ::connect(fd_, a->ai_addr, a->ai_addrlen);
        } while (result != 0 && errno == EINTR);
        connected = result == 0;
        if (!connected) {
            lastError = errno;
        }
    }
    ::freeaddrinfo(found);
    if (!connected) {
        errno = lastError;
        return 0;
    }
    return 1;
}

void CBasicSocket::Close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace wicket
