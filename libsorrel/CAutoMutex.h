// The trace library's scope lock over a GNU Common C++ recursive mutex.
#pragma once

namespace ost {
class Mutex;
}

namespace sorrel {

class CAutoMutex {
public:
    // Takes `mutex` when there is one; releases it at destruction.
    explicit CAutoMutex(ost::Mutex* mutex);
    ~CAutoMutex();

    CAutoMutex(const CAutoMutex&) = delete;
    CAutoMutex& operator=(const CAutoMutex&) = delete;

private:
    ost::Mutex* mutex_;
};

}  // namespace sorrel
