#include "libwicket/SockAvail.h"

#include <poll.h>

#include <cerrno>
#include <chrono>

namespace wicket {

int SockAvailReadMs(int fd, int milliseconds)
{
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd entry{fd, POLLIN, 0};
        const int result = ::poll(&entry, 1, left > 0 ? static_cast<int>(left) : 0);
        if (result > 0) {
            if ((entry.revents & POLLNVAL) != 0) {
                errno = EBADF;
                return -1;
            }
            return 1;
        }
        if (result == 0) {
            return 0;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

}  // namespace wicket
