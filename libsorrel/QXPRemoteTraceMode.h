// The listening remote trace mode: a listener thread makes the connection,
// makes it again after every loss with a growing back-off (15 s doubling to
// 960 s), and carries out the trace server's commands (ENABLETRACE,
// DISABLETRACE, ENABLELOG, DISABLELOG, LISTLEVELDESC). Tracing never
// reconnects by itself: ResetOutput does nothing.
//
// The listener is the one reader of the connection: the answers to LOGFILE
// sent while it reads are taken by it, so no record goes to the wrong
// reader.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "libsorrel/QXRemoteTraceMode.h"

namespace sorrel {

class CTraceListener;

class QXPRemoteTraceMode : public QXRemoteTraceMode {
public:
    // Starts the listener, then waits (at most timing.firstConnectWait) for
    // its first connection or its first refused attempt.
    QXPRemoteTraceMode(int slot, const char* title, const char* logFile, int slices, const char* host,
                       const char* service, const char* extra, const RemoteTiming& timing = {});
    // Ends the listener (within about a second), then the connection.
    ~QXPRemoteTraceMode() override;

    QXPRemoteTraceMode(const QXPRemoteTraceMode&) = delete;
    QXPRemoteTraceMode& operator=(const QXPRemoteTraceMode&) = delete;

    void ResetOutput(bool reopen, bool report) override;
    // The reconnection of the listener: QXRemoteTraceMode::ResetOutput(reopen, false).
    virtual void SuperResetOutput(bool reopen);

    [[nodiscard]] bool ListenerRunning() const;

protected:
    void ConnectAttempted(bool connected) override;
    bool TakeLogFileReply() override;

private:
    friend class CTraceListener;
    void Settled();

    std::unique_ptr<CTraceListener> listener_;
    std::mutex firstLock_;
    std::condition_variable firstChanged_;
    bool firstSettled_ = false;
};

}  // namespace sorrel
