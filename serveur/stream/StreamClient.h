// One accepted viewer connection. The record owns the socket: it is closed
// when the last holder (the client list or a send in progress) lets go.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "serveur/stream/SharedImage.h"

namespace vorlix {

struct StreamClient {
    explicit StreamClient(int fd) : socket(fd) {}
    ~StreamClient()
    {
        if (socket >= 0) {
            ::close(socket);
        }
    }
    StreamClient(const StreamClient&) = delete;
    StreamClient& operator=(const StreamClient&) = delete;

    const int socket;
    // Guarded by the server's lock:
    std::shared_ptr<const SharedImage> image;  // header sent, bytes still to send
    std::uint32_t lastFrameTick = 0;           // ms; 0 after a failed header
    int passwordState = 0;                     // 0 admitted; n >= 1: n - 1 wrong answers so far
    std::int32_t challenge = 0;
    bool removed = false;
    std::size_t offset = 0;  // bytes of the image in flight already sent
    // Stream thread only:
    bool peerClosed = false;  // an orderly close was read: nothing more will come
};

}  // namespace vorlix
