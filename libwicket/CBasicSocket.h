// A TCP stream socket owned by an object: created, connected, closed with it.
#pragma once

#include <sys/socket.h>

namespace wicket {

class CBasicSocket {
public:
    CBasicSocket() = default;
    virtual ~CBasicSocket();
    CBasicSocket(const CBasicSocket&) = delete;
    CBasicSocket& operator=(const CBasicSocket&) = delete;

    // Creates the stream socket of `family` (AF_INET or AF_INET6); nonzero on
    // success, 0 with errno set on failure. A socket already held is closed.
    int Create(int family = AF_INET);
    // Connects to `host`:`port` through an address of the socket's family;
    // nonzero on success, 0 with the error set (errno, or 11001 in the socket
    // slot when the name does not resolve).
    int Connect(const char* host, int port);
    void Close();

    // The handle callers set options on; -1 when none.
    [[nodiscard]] int Handle() const { return fd_; }
    [[nodiscard]] int Family() const { return family_; }

private:
    int fd_ = -1;
    int family_ = AF_INET;
};

}  // namespace wicket
