#include "serveur/capture/v4l2/V4l2Device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

namespace vorlix::capture {
namespace {

class SystemDevice final : public V4l2Device {
public:
    ~SystemDevice() override { Close(); }
    int Open(const std::string& path) override
    {
        Close();
        fd_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        return fd_ < 0 ? -1 : 0;
    }
    void Close() override
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    int Ioctl(unsigned long request, void* arg) override
    {
        int r = 0;
        do
            r = ::ioctl(fd_, request, arg);
        while (r < 0 && errno == EINTR);
        return r;
    }
    void* Map(std::size_t length, long offset) override
    {
        void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, offset);
        return p == MAP_FAILED ? nullptr : p;
    }
    void Unmap(void* address, std::size_t length) override { ::munmap(address, length); }
    int Wait(int ms) override
    {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, ms);
        if (r < 0)
            return errno == EINTR ? 0 : -1;
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            errno = ENODEV;
            return -1;
        }
        return r > 0 ? 1 : 0;
    }

private:
    int fd_ = -1;
};

}  // namespace

std::unique_ptr<V4l2Device> MakeSystemV4l2Device()
{
    return std::make_unique<SystemDevice>();
}

}  // namespace vorlix::capture
