// The system calls of V4L2 capture behind one seam, so tests can script a device.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace vorlix::capture {

class V4l2Device {
public:
    virtual ~V4l2Device() = default;
    virtual int Open(const std::string& path) = 0;  // 0 or -1 with errno
    virtual void Close() = 0;
    virtual int Ioctl(unsigned long request, void* arg) = 0;  // as ioctl(2)
    virtual void* Map(std::size_t length, long offset) = 0;   // nullptr on failure
    virtual void Unmap(void* address, std::size_t length) = 0;
    // Waits up to `ms` for a filled buffer: 1 ready, 0 timeout, -1 error.
    virtual int Wait(int ms) = 0;
};

// The real device: open(2), ioctl(2), mmap(2), poll(2).
std::unique_ptr<V4l2Device> MakeSystemV4l2Device();

}  // namespace vorlix::capture
