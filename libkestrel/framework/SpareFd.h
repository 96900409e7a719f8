// One descriptor held in reserve for a file that must open even when the
// process has run out of descriptors (a picture to write, a picture to send):
// when an open fails for want of descriptors, the spare is given up and the
// open tried once more; the spare is taken back once the file is closed.
#pragma once

#include <fcntl.h>

#include <cerrno>

#include "libkestrel/framework/UniqueFd.h"

namespace kestrel {

class SpareFd {
public:
    SpareFd() { Take(); }

    // Whether `error` (an errno value) means the process or the system has no descriptor left.
    static bool ShortOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

    // Retakes the spare when it is not held (fails quietly while the shortage lasts).
    void Take()
    {
        if (!fd_) {
            const int saved = errno;
            fd_.Reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            errno = saved;
        }
    }
    // Gives the spare up so the next open can use its slot; false when there was none.
    bool Release()
    {
        if (!fd_) {
            return false;
        }
        fd_.Reset();
        return true;
    }
    [[nodiscard]] bool Held() const { return fd_.Valid(); }

    // Runs `open` (returns something testable as bool, errno set on failure);
    // on a shortage, once more with the spare's slot. Take() again after the
    // file is closed.
    template <class Open>
    auto OpenWithSpare(Open open)
    {
        auto result = open();
        if (!result && ShortOfDescriptors(errno) && Release()) {
            result = open();
        }
        return result;
    }

private:
    UniqueFd fd_;
};

}  // namespace kestrel
