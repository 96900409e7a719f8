#include "libsorrel/QXPRemoteTraceMode.h"

#include <cstdlib>

#include "libsorrel/CAutoMutex.h"
#include "libsorrel/CTraceListener.h"
#include "libwicket/CBasicSocketFile.h"
#include "libwicket/CQXProtoArchive.h"

namespace sorrel {

namespace {
const std::string kEtx("\x03");
const std::string kEot("\x04");
}  // namespace

QXPRemoteTraceMode::QXPRemoteTraceMode(int slot, const char* title, const char* logFile, int slices, const char* host,
                                       const char* service, const char* extra, const RemoteTiming& timing)
    : QXRemoteTraceMode(slot, title, logFile, slices, host, service, extra, false, timing)
{
    listener_ = std::make_unique<CTraceListener>(*this);
    listener_->start();
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

bool QXPRemoteTraceMode::RunCommand(const std::string& text)
{
    const std::size_t cut = text.find('\x03');
    const std::string command = text.substr(0, cut);
    const int level = cut == std::string::npos ? 0 : std::atoi(text.c_str() + cut + 1);
    if (command == "ENABLETRACE") {
        EnableTrace(level);
    } else if (command == "DISABLETRACE") {
        DisableTrace(level);
    } else if (command == "ENABLELOG") {
        EnableLog(level);
    } else if (command == "DISABLELOG") {
        DisableLog(level);
    } else if (command == "LISTLEVELDESC") {
        SendLevelList();
    } else {
        return false;
    }
    return true;
}

void QXPRemoteTraceMode::SendLevelList()
{
    CAutoMutex guard(GetMutex());
    const std::shared_ptr<wicket::CBasicSocket> socket = SharedSocket();
    if (!socket) {
        return;
    }
    wicket::CBasicSocketFile file(*socket, 1);
    wicket::CQXProtoArchive out(&file, 0);
    out.Startp();
    for (const auto& [key, value] : LevelDescriptions()) {
        const int level = std::atoi(key.c_str());
        out << std::string("LEVELDESC") << kEtx << level << kEtx << IsTraceEnabled(level) << kEtx << IsLogEnabled(level)
            << kEtx << value << kEot;
    }
    out.Endp();
    out.Flush();
}

}  // namespace sorrel
