#include "libsorrel/CTraceListener.h"

#include <poll.h>
#include <pthread.h>

#include <cerrno>
#include <string>

#include "libsorrel/CAutoMutex.h"
#include "libsorrel/CQXTracedArchive.h"
#include "libwicket/CBasicSocketFile.h"
#include "libwicket/CQXProtoArchive.h"

namespace sorrel {

namespace {
// The read loop looks at the stop flag this often.
constexpr int kPollSliceMs = 200;
}  // namespace

CTraceListener::CTraceListener(QXPRemoteTraceMode& mode) : ost::Thread(0, 0), mode_(mode) {}

CTraceListener::~CTraceListener()
{
    Stop();
}

void CTraceListener::Stop()
{
    mode_.StopConnecting();
    mode_.WakeBlockedReads();
    // The thread library's join() skips the join of a thread whose run()
    // has just ended (leaving it unjoined while it still unwinds): the
    // thread is joined here, once, and marked so that nothing joins it again.
    if (started_ && !joined_) {
        ::pthread_join(tid, nullptr);
        running = false;
        joined_ = true;
    }
}

bool CTraceListener::Sleep(std::chrono::milliseconds delay)
{
    const auto& sleeper = mode_.Timing().backoffSleeper;
    if (sleeper) {
        return sleeper(delay) && !mode_.Stop().Stopped();
    }
    return mode_.Stop().SleepFor(delay);
}

bool CTraceListener::ExpectLogFileReply()
{
    // Called under the mode's lock, which Serve takes to start reading.
    if (!reading_.load() || std::this_thread::get_id() == readerId_.load()) {
        return false;
    }
    ++expectedReplies_;
    return true;
}

void CTraceListener::Start()
{
    // Running from now on, not from whenever the thread gets going.
    running_ = true;
    start();
    started_ = true;
}

void CTraceListener::run()
{
    const RemoteTiming& timing = mode_.Timing();
    std::chrono::milliseconds delay = timing.firstBackoff;
    while (!mode_.Stop().Stopped()) {
        if (!mode_.Connected()) {
            try {
                mode_.SuperResetOutput(true);
                mode_.Settled();
            } catch (...) {
                mode_.Settled();
                if (!Sleep(delay)) {
                    break;
                }
                if (delay < timing.doublingLimit) {
                    delay *= 2;
                }
                continue;
            }
        }
        delay = timing.firstBackoff;
        Serve();
        mode_.CloseOutput();
    }
    running_ = false;
}

void CTraceListener::Serve()
{
    const std::shared_ptr<wicket::CBasicSocket> socket = mode_.SharedSocket();
    if (!socket) {
        return;
    }
    wicket::CBasicSocketFile file(*socket, 0);
    wicket::CQXProtoArchive in(&file, 1, nullptr, 4096);
    in.Blocking(false);
    {
        CAutoMutex guard(mode_.GetMutex());
        expectedReplies_ = 0;
        readerId_ = std::this_thread::get_id();
        reading_ = true;
    }
    try {
        while (!mode_.Stop().Stopped()) {
            pollfd watched{socket->Handle(), POLLIN, 0};
            const int ready = ::poll(&watched, 1, kPollSliceMs);
            if (ready == 0 || (ready < 0 && errno == EINTR)) {
                continue;
            }
            if (ready < 0 || !in.ReceiveSome()) {
                break;  // the connection has ended
            }
            while (in.FullPacket()) {
                std::string text;
                in.Startp();
                in >> text;
                in.Endp();
                if (!mode_.RunCommand(text) && expectedReplies_.load() > 0) {
                    --expectedReplies_;
                    CQXTracedArchive::CheckLogFileReply(text);
                }
            }
        }
    } catch (...) {  // NOLINT(bugprone-empty-catch): a broken or garbled connection is made again
    }
    CAutoMutex guard(mode_.GetMutex());
    reading_ = false;
}

}  // namespace sorrel
