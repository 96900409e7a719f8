#include "libsorrel/QXPRemoteTraceMode.h"

#include "libsorrel/CAutoMutex.h"
#include "libsorrel/CTraceListener.h"

namespace sorrel {

QXPRemoteTraceMode::QXPRemoteTraceMode(int slot, const char* title, const char* logFile, int slices, const char* host,
                                       const char* service, const char* extra, const RemoteTiming& timing)
    : QXRemoteTraceMode(slot, title, logFile, slices, host, service, extra, false, timing)
{
    listener_ = std::make_unique<CTraceListener>(*this);
    listener_->Start();
    std::unique_lock lock(firstLock_);
    firstChanged_.wait_for(lock, Timing().firstConnectWait, [this] { return firstSettled_; });
}

QXPRemoteTraceMode::~QXPRemoteTraceMode()
{
    listener_->Stop();
    listener_.reset();
}

void QXPRemoteTraceMode::ResetOutput(bool /*reopen*/, bool /*report*/) {}

void QXPRemoteTraceMode::SuperResetOutput(bool reopen)
{
    QXRemoteTraceMode::ResetOutput(reopen, false);
}

void QXPRemoteTraceMode::Settled()
{
    {
        const std::lock_guard guard(firstLock_);
        firstSettled_ = true;
    }
    firstChanged_.notify_all();
}

void QXPRemoteTraceMode::ConnectAttempted(bool connected)
{
    if (!connected) {
        Settled();
    }
}

bool QXPRemoteTraceMode::TakeLogFileReply()
{
    return listener_ && listener_->ExpectLogFileReply();
}

bool QXPRemoteTraceMode::ListenerRunning() const
{
    return listener_ && listener_->Running();
}

}  // namespace sorrel
