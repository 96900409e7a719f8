// An owned socket descriptor: closed when its owner goes.
#pragma once

#include <unistd.h>

#include <utility>

namespace vorlix::client {

class UniqueSocket {
public:
    UniqueSocket() = default;
    explicit UniqueSocket(int fd) : fd_(fd) {}
    ~UniqueSocket() { Reset(); }
    UniqueSocket(UniqueSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueSocket& operator=(UniqueSocket&& other) noexcept
    {
        if (this != &other) {
            Reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    UniqueSocket(const UniqueSocket&) = delete;
    UniqueSocket& operator=(const UniqueSocket&) = delete;

    // The descriptor; 0 or less when none (the viewer's "not connected").
    [[nodiscard]] int Get() const { return fd_; }
    [[nodiscard]] bool Valid() const { return fd_ > 0; }
    void Reset(int fd = -1)
    {
        if (fd_ > 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

}  // namespace vorlix::client
