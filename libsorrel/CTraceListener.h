// The listener thread of a QXPRemoteTraceMode (a GNU Common C++ thread):
// connects, reads the trace server's commands, reconnects with back-off.
// Every wait is bounded or ended by Stop, so the thread ends within about a
// second of it.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include <commoncpp/thread.h>

#include "libsorrel/QXPRemoteTraceMode.h"

namespace sorrel {

class CTraceListener : public ost::Thread {
public:
    explicit CTraceListener(QXPRemoteTraceMode& mode);
    ~CTraceListener() override;

    CTraceListener(const CTraceListener&) = delete;
    CTraceListener& operator=(const CTraceListener&) = delete;

    // Starts the thread.
    void Start();
    // Ends the loop and waits for the thread.
    void Stop();

    // While the command loop reads, the answers to LOGFILE sent from other
    // threads are taken by it: true when one is now expected.
    bool ExpectLogFileReply();
    [[nodiscard]] bool Reading() const { return reading_.load(); }
    [[nodiscard]] bool Running() const { return running_.load(); }

protected:
    void run() override;

private:
    // Reads and carries out commands until the connection ends or Stop.
    void Serve();
    bool Sleep(std::chrono::milliseconds delay);

    QXPRemoteTraceMode& mode_;
    std::atomic<bool> running_{false};
    std::atomic<bool> reading_{false};
    std::atomic<std::thread::id> readerId_{};
    std::atomic<int> expectedReplies_{0};
    // Touched by the owning thread only (Start, Stop).
    bool started_ = false;
    bool joined_ = false;
};

}  // namespace sorrel
