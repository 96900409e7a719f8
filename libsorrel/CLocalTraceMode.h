// A trace mode with outputs on this machine: trace lines to a trace window
// (kind 1) or to the standard error stream (any other kind), log lines to a
// rotating log file (524288-byte slices). Every line ends with CR LF.
#pragma once

#include <memory>
#include <string>

#include "libkestrel/archive/COutTextArchive.h"
#include "libkestrel/logfile/CLogFile.h"
#include "libkestrel/logfile/CWndFile.h"
#include "libsorrel/CArchiveTraceMode.h"

namespace sorrel {

class CLocalTraceMode : public CArchiveTraceMode {
public:
    static constexpr int kWindowKind = 1;
    static constexpr unsigned long kSliceSize = 524288;

    // kind 1 asks for a window titled `title` ("Application" when none);
    // where no window can be shown (no window library, no display) the trace
    // lines go to the standard error stream instead. The log file is opened
    // here; when that fails the mode runs without a log output.
    CLocalTraceMode(int slot, const char* title, const char* logFile, int slices, int kind);
    ~CLocalTraceMode() override;

    CLocalTraceMode(const CLocalTraceMode&) = delete;
    CLocalTraceMode& operator=(const CLocalTraceMode&) = delete;

    // Reopens the log file under the (expanded) name; false when nothing
    // changed. A file that cannot be opened sets the log failure bit, is
    // reported and throws.
    bool SetLogFile(const char* name, int slices, bool force) override;
    // Reopens the log file (reopen true).
    void ResetOutput(bool reopen, bool report) override;
    // Waits for "Dismiss" of the trace window; the mode's lock is not held
    // meanwhile, so other threads go on tracing.
    void WaitForEnd(unsigned long milliseconds) override;
    // Closes the log output; the trace output stays.
    void CloseOutput() override;
    TraceWindowHandle hWnd() override;

    [[nodiscard]] int Kind() const { return kind_; }
    [[nodiscard]] const std::string& Title() const { return title_; }
    [[nodiscard]] bool HasWindow() const { return window_ != nullptr; }
    [[nodiscard]] bool HasLogOutput();

private:
    void OpenLog();

    int kind_;
    std::string title_;
    std::shared_ptr<kestrel::CWndFile> window_;
    std::unique_ptr<kestrel::CFile> stderrFile_;
    std::unique_ptr<kestrel::COutTextArchive> traceOut_;
    std::unique_ptr<kestrel::CLogFile> logFile_;
    std::unique_ptr<kestrel::COutTextArchive> logOut_;
};

}  // namespace sorrel
