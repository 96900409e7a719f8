// A trace mode whose outputs are a remote trace server over TCP: each line
// travels as one record with its kind (trace, log or both); the title and
// the log file that the server should write are sent at connection. There
// is no local fallback: while disconnected, lines are dropped.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "libsorrel/CArchiveTraceMode.h"
#include "libsorrel/CQXTracedArchive.h"
#include "libsorrel/RemoteTiming.h"
#include "libwicket/CBasicSocket.h"
#include "libwicket/CBasicSocketFile.h"

namespace sorrel {

class QXRemoteTraceMode : public CArchiveTraceMode {
public:
    // Defaults: title "Application", host "localhost", service "qxtraced".
    // With `connect`, connects at once (ResetOutput: up to 10 attempts a
    // second apart); a failure is reported and leaves the mode disconnected.
    QXRemoteTraceMode(int slot, const char* title, const char* logFile, int slices, const char* host,
                      const char* service, const char* extra, bool connect, const RemoteTiming& timing = {});
    ~QXRemoteTraceMode() override;

    QXRemoteTraceMode(const QXRemoteTraceMode&) = delete;
    QXRemoteTraceMode& operator=(const QXRemoteTraceMode&) = delete;

    // Records the log file and sends LOGFILE when connected: failure state
    // 0 on success, 3 when the sending fails.
    bool SetLogFile(const char* name, int slices, bool force) override;
    // The report of the trace mode, then the connection is closed.
    void OnError(const kestrel::CFrameworkException* exception, const char* text, const char* file, int line) override;
    // Reconnects (reopen true): close, connect (up to the attempts of the
    // timing, the lock released during each pause), log in, send LOGFILE,
    // install the three archives. Throws CNetException when `report` is set
    // and no attempt succeeded; any failure leaves the mode disconnected.
    void ResetOutput(bool reopen, bool report) override;
    void DoTrace(int level, const char* line) override;
    void DoLog(int level, const char* line) override;
    void DoTraceAndLog(int level, const char* line) override;
    // Drops the archives and the connection (unsent data included).
    void CloseOutput() override;
    // Sends TITLE when connected; false when that fails.
    bool SetTitle(const char* title) override;

    // Carries out one command text from the trace server (ENABLETRACE,
    // DISABLETRACE, ENABLELOG, DISABLELOG with a level after ETX, 0 without;
    // LISTLEVELDESC); false for a text that is no command.
    // `via`: the connection being made, for a command met while it logs in.
    bool RunCommand(const std::string& text, wicket::CBasicSocket* via = nullptr);
    // The level list record: for each described level "LEVELDESC", ETX,
    // level, ETX, trace switch, ETX, log switch, ETX, name ETX description,
    // EOT. Sent under the mode's lock.
    void SendLevelList(wicket::CBasicSocket* via = nullptr);

    [[nodiscard]] wicket::CBasicSocket* GetBasicSocket();
    [[nodiscard]] std::shared_ptr<wicket::CBasicSocket> SharedSocket();
    [[nodiscard]] bool Connected();
    [[nodiscard]] const std::string& Title() const { return title_; }
    [[nodiscard]] const std::string& Host() const { return host_; }
    [[nodiscard]] int Port() const { return port_; }
    [[nodiscard]] const std::string& Extra() const { return extra_; }
    [[nodiscard]] const RemoteTiming& Timing() const { return timing_; }

protected:
    // Ends the pauses and connection attempts of a reset in progress.
    void StopConnecting() { stop_.Stop(); }
    // Shuts the connected socket down without the mode's lock, so a read
    // that waits for the trace server (a login answer) ends at once.
    void WakeBlockedReads();
    StopSignal& Stop() { return stop_; }
    // Called after each connection attempt of a reset.
    virtual void ConnectAttempted(bool /*connected*/) {}
    // Who takes the answers to LOGFILE (see CQXTracedArchive).
    virtual bool TakeLogFileReply() { return false; }

private:
    // A connection made and logged in, not yet installed.
    struct Connection {
        std::shared_ptr<wicket::CBasicSocket> socket;
        std::unique_ptr<wicket::CBasicSocketFile> file;
        std::unique_ptr<CQXTracedArchive> trace;
        std::unique_ptr<CQXTracedArchive> log;
        std::unique_ptr<CQXTracedArchive> both;
    };
    // Connects (attempts and pauses as the timing says), logs in and asks
    // for the log file; runs without the mode's lock.
    Connection Connect(bool report);

    std::string title_;
    std::string extra_;
    std::string host_;
    int port_;
    RemoteTiming timing_;
    StopSignal stop_;
    // Shared with the listener of a listening mode, which reads it; closing
    // shuts it down, which wakes that reader, and the descriptor goes with
    // the last owner.
    std::shared_ptr<wicket::CBasicSocket> socket_;
    // The same socket once connected, for WakeBlockedReads.
    std::mutex wakeLock_;
    std::shared_ptr<wicket::CBasicSocket> wakeSocket_;
    std::unique_ptr<wicket::CBasicSocketFile> socketFile_;
    std::unique_ptr<CQXTracedArchive> traceOut_;
    std::unique_ptr<CQXTracedArchive> logOut_;
    std::unique_ptr<CQXTracedArchive> bothOut_;
};

}  // namespace sorrel
