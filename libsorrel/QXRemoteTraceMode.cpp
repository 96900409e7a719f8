#include "libsorrel/QXRemoteTraceMode.h"

#include <sys/socket.h>

#include <cstdlib>
#include <exception>

#include "libkestrel/framework/QXException.h"
#include "libsorrel/CAutoMutex.h"
#include "libsorrel/TraceConnect.h"
#include "libwicket/CNetException.h"
#include "libwicket/CQXProtoArchive.h"
#include "libwicket/GetPortEx.h"

namespace sorrel {

namespace {
const std::string kEtx("\x03");
const std::string kEot("\x04");

// A level in decimal; what is no number counts as 0, as the commands want.
int LevelOf(const char* text)
{
    char* end = nullptr;
    const long level = std::strtol(text, &end, 10);
    if (end == text) {
        return 0;
    }
    return level >= 0 && level <= 255 ? static_cast<int>(level) : -1;  // -1: ignored by the switches
}
}  // namespace

QXRemoteTraceMode::QXRemoteTraceMode(int slot, const char* title, const char* logFile, int slices, const char* host,
                                     const char* service, const char* extra, bool connect, const RemoteTiming& timing)
    : CArchiveTraceMode(slot, nullptr, nullptr, nullptr),
      title_(title != nullptr ? title : "Application"),
      extra_(extra != nullptr ? extra : ""),
      host_(host != nullptr ? host : "localhost"),
      port_(wicket::GetPortEx(service != nullptr ? service : "qxtraced")),
      timing_(timing)
{
    CTraceMode::SetLogFile(logFile, slices, false);
    if (connect) {
        try {
            QXRemoteTraceMode::ResetOutput(true, true);
        } catch (const kestrel::CFrameworkException& e) {
            OnError(&e, "QXRemoteTraceMode::QXRemoteTraceMode  ResetOutput failed", __FILE__, __LINE__);
        }
    }
}

QXRemoteTraceMode::~QXRemoteTraceMode()
{
    QXRemoteTraceMode::CloseOutput();
}

namespace {

// Releases a held lock for a while (the recursive mode lock once).
class Unlocked {
public:
    explicit Unlocked(CTraceMode& mode) : mode_(mode) { mode_.Unlock(); }
    ~Unlocked() { mode_.Lock(); }
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;

private:
    CTraceMode& mode_;
};

}  // namespace

QXRemoteTraceMode::Connection QXRemoteTraceMode::Connect(bool report)
{
    Connection made;
    made.socket = std::make_shared<wicket::CBasicSocket>();
    wicket::CBasicSocket& socket = *made.socket;
    if (socket.Create() == 0) {
        WICKET_THROW_NET(wicket::CNetException::kSocketNotCreated, "In QXRemoteTraceMode");
    }
    bool connected = false;
    for (int attempt = 0; attempt < timing_.connectAttempts && !connected; ++attempt) {
        connected = ConnectWithin(socket, host_, port_, timing_.connectTimeout, &stop_);
        // From the constructor this is the base's own, as meant.
        ConnectAttempted(connected);  // NOLINT(clang-analyzer-optin.cplusplus.VirtualCall)
        if (!connected && attempt + 1 < timing_.connectAttempts && !stop_.SleepFor(timing_.attemptPause)) {
            break;
        }
    }
    if (!connected) {
        if (report || stop_.Stopped()) {
            WICKET_THROW_NET(wicket::CNetException::kConnectionFailed, "In QXRemoteTraceMode");
        }
        // Not reporting: the login below fails on the unconnected socket.
        socket.Create();
    }
    SetTraceSocketOptions(socket.Handle(), timing_.ioTimeout);
    if (connected) {
        const std::lock_guard guard(wakeLock_);
        wakeSocket_ = made.socket;
    }
    made.file = std::make_unique<wicket::CBasicSocketFile>(socket, 1);
    made.trace = std::make_unique<CQXTracedArchive>(CQXTracedArchive::kTrace, title_.c_str(), made.file.get());
    made.log = std::make_unique<CQXTracedArchive>(CQXTracedArchive::kLog, made.trace.get());
    made.both = std::make_unique<CQXTracedArchive>(CQXTracedArchive::kBoth, made.trace.get());
    wicket::CBasicSocket* via = made.socket.get();
    for (CQXTracedArchive* archive : {made.trace.get(), made.log.get(), made.both.get()}) {
        archive->SetReplyTaker([this] { return TakeLogFileReply(); });
        archive->SetCommandRunner([this, via](const std::string& text) { return RunCommand(text, via); });
    }
    const std::string logFile = LogFileName();
    if (!logFile.empty()) {
        made.log->SetLogFile(logFile.c_str(), LogSlices());
    }
    return made;
}

void QXRemoteTraceMode::ResetOutput(bool reopen, bool report)
{
    CAutoMutex guard(GetMutex());
    if (!reopen) {
        return;
    }
    QXRemoteTraceMode::CloseOutput();
    try {
        Connection made;
        {
            // Connecting and logging in may take seconds: the lock is given
            // up meanwhile, so other threads' trace calls do not wait (their
            // lines are dropped: no output is installed).
            const Unlocked unlocked(*this);
            made = Connect(report);
        }
        QXRemoteTraceMode::CloseOutput();  // another reset may have connected meanwhile
        socket_ = std::move(made.socket);
        socketFile_ = std::move(made.file);
        traceOut_ = std::move(made.trace);
        logOut_ = std::move(made.log);
        bothOut_ = std::move(made.both);
        {
            const std::lock_guard wake(wakeLock_);
            wakeSocket_ = socket_;
        }
        SetTraceArchives(traceOut_.get(), logOut_.get(), bothOut_.get());
        // Whatever failed before, the outputs are new and working.
        SetFailureState(0);
    } catch (const kestrel::CFrameworkException& e) {
        if (report) {
            OnError(&e, "QXRemoteTraceMode::ResetOutput An error occured", __FILE__, __LINE__);
        }
        QXRemoteTraceMode::CloseOutput();
        throw;
    }
}

bool QXRemoteTraceMode::SetLogFile(const char* name, int slices, bool force)
{
    CAutoMutex guard(GetMutex());
    if (!CTraceMode::SetLogFile(name, slices, force)) {
        return false;
    }
    if (logOut_ == nullptr) {
        SetFailureState(0);
        return true;
    }
    try {
        const std::string logFile = LogFileName();
        logOut_->SetLogFile(logFile.c_str(), LogSlices());
        SetFailureState(0);
    } catch (const kestrel::CFrameworkException& e) {
        OnError(&e, "Cannot set log file", __FILE__, __LINE__);
        SetFailureState(kBothFailing);
    }
    return true;
}

bool QXRemoteTraceMode::SetTitle(const char* title)
{
    CAutoMutex guard(GetMutex());
    if (traceOut_ == nullptr) {
        return true;
    }
    try {
        logOut_->SetTitle(title);
        SetFailureState(0);
        return true;
    } catch (const kestrel::CFrameworkException& e) {
        OnError(&e, "Cannot set title", __FILE__, __LINE__);
        SetFailureState(kBothFailing);
        return false;
    }
}

void QXRemoteTraceMode::DoTrace(int level, const char* line)
{
    CAutoMutex guard(GetMutex());
    CArchiveTraceMode::DoTrace(level, line);
}

void QXRemoteTraceMode::DoLog(int level, const char* line)
{
    CAutoMutex guard(GetMutex());
    CArchiveTraceMode::DoLog(level, line);
}

void QXRemoteTraceMode::DoTraceAndLog(int level, const char* line)
{
    CAutoMutex guard(GetMutex());
    CArchiveTraceMode::DoTraceAndLog(level, line);
}

void QXRemoteTraceMode::OnError(const kestrel::CFrameworkException* exception, const char* text, const char* file,
                                int line)
{
    CArchiveTraceMode::OnError(exception, text, file, line);
    CloseOutput();
}

void QXRemoteTraceMode::CloseOutput()
{
    CAutoMutex guard(GetMutex());
    SetTraceArchives(nullptr, nullptr, nullptr);
    // Dropping the archives flushes nothing of value to a broken peer.
    try {
        bothOut_.reset();
        logOut_.reset();
        traceOut_.reset();
    } catch (...) {  // NOLINT(bugprone-empty-catch): closing never fails the caller
    }
    socketFile_.reset();
    {
        const std::lock_guard wake(wakeLock_);
        wakeSocket_.reset();
    }
    if (socket_) {
        // Wakes a listener blocked on the socket; the descriptor closes with
        // its last owner.
        ::shutdown(socket_->Handle(), SHUT_RDWR);
        socket_.reset();
    }
}

void QXRemoteTraceMode::WakeBlockedReads()
{
    const std::lock_guard guard(wakeLock_);
    if (wakeSocket_) {
        ::shutdown(wakeSocket_->Handle(), SHUT_RDWR);
    }
}

bool QXRemoteTraceMode::RunCommand(const std::string& text, wicket::CBasicSocket* via)
{
    const std::size_t cut = text.find('\x03');
    const std::string command = text.substr(0, cut);
    const int level = cut == std::string::npos ? 0 : LevelOf(text.c_str() + cut + 1);
    if (command == "ENABLETRACE") {
        EnableTrace(level);
    } else if (command == "DISABLETRACE") {
        DisableTrace(level);
    } else if (command == "ENABLELOG") {
        EnableLog(level);
    } else if (command == "DISABLELOG") {
        DisableLog(level);
    } else if (command == "LISTLEVELDESC") {
        SendLevelList(via);
    } else {
        return false;
    }
    return true;
}

void QXRemoteTraceMode::SendLevelList(wicket::CBasicSocket* via)
{
    CAutoMutex guard(GetMutex());
    const std::shared_ptr<wicket::CBasicSocket> socket = SharedSocket();
    wicket::CBasicSocket* target = via != nullptr ? via : socket.get();
    if (target == nullptr) {
        return;
    }
    wicket::CBasicSocketFile file(*target, 1);
    wicket::CQXProtoArchive out(&file, 0);
    out.Startp();
    for (const auto& [key, value] : LevelDescriptions()) {
        const int level = LevelOf(key.c_str());
        out << std::string("LEVELDESC") << kEtx << level << kEtx << IsTraceEnabled(level) << kEtx << IsLogEnabled(level)
            << kEtx << value << kEot;
    }
    out.Endp();
    out.Flush();
}

wicket::CBasicSocket* QXRemoteTraceMode::GetBasicSocket()
{
    CAutoMutex guard(GetMutex());
    return socket_.get();
}

std::shared_ptr<wicket::CBasicSocket> QXRemoteTraceMode::SharedSocket()
{
    CAutoMutex guard(GetMutex());
    return socket_;
}

bool QXRemoteTraceMode::Connected()
{
    CAutoMutex guard(GetMutex());
    return traceOut_ != nullptr;
}

}  // namespace sorrel
