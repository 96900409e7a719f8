#include "libsorrel/CAutoMutex.h"

#include <commoncpp/thread.h>

namespace sorrel {

CAutoMutex::CAutoMutex(ost::Mutex* mutex) : mutex_(mutex)
{
    if (mutex_ != nullptr) {
        mutex_->enterMutex();
    }
}

CAutoMutex::~CAutoMutex()
{
    if (mutex_ != nullptr) {
        mutex_->leaveMutex();
    }
}

}  // namespace sorrel
