#include "serveur/capture/v4l2/V4l2Device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "libkestrel/framework/UniqueFd.h"

namespace vorlix::capture {
namespace {

class SystemDevice final : public V4l2Device {
public:
    int Open(const std::string& path) override
    {
        fd_.Reset(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        return fd_.Valid() ? 0 : -1;
    }
    void Close() override { fd_.Reset(); }
    int Ioctl(unsigned long request, void* arg) override
    {
        int r = 0;
        do {
            r = ::ioctl(fd_.Get(), request, arg);
        } while (r < 0 && errno == EINTR);
        return r;
    }
    void* Map(std::size_t length, long offset) override
    {
        void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_.Get(), offset);
        return p == MAP_FAILED ? nullptr : p;
    }
    void Unmap(void* address, std::size_t length) override { ::munmap(address, length); }
    int Wait(int ms) override
    {
        pollfd p{fd_.Get(), POLLIN, 0};
        const int r = ::poll(&p, 1, ms);
        if (r < 0) {
            return errno == EINTR ? 0 : -1;
        }
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            errno = ENODEV;
            return -1;
        }
        return r > 0 ? 1 : 0;
    }

private:
    kestrel::UniqueFd fd_;
};

}  // namespace

std::unique_ptr<V4l2Device> MakeSystemV4l2Device()
{
    return std::make_unique<SystemDevice>();
}

}  // namespace vorlix::capture
