// An owning file descriptor: closes what it holds when it goes away, moves,
// never copies. -1 means "holds nothing".
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kestrel {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    ~UniqueFd() { Reset(); }

    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    [[nodiscard]] int Get() const noexcept { return fd_; }
    [[nodiscard]] bool Valid() const noexcept { return fd_ >= 0; }
    explicit operator bool() const noexcept { return Valid(); }

    // Gives the descriptor up without closing it.
    [[nodiscard]] int Release() noexcept { return std::exchange(fd_, -1); }

    // Closes what is held (errno is kept as it was) and takes `fd`.
    void Reset(int fd = -1) noexcept
    {
        const int old = std::exchange(fd_, fd);
        if (old >= 0) {
            const int saved = errno;
            ::close(old);
            errno = saved;
        }
    }

    // Closes now and tells whether the close succeeded (errno set when not):
    // a write whose data must have reached the file checks this.
    bool Close() noexcept
    {
        const int old = std::exchange(fd_, -1);
        return old < 0 || ::close(old) == 0;
    }

private:
    int fd_ = -1;
};

}  // namespace kestrel
