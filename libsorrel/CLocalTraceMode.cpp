#include "libsorrel/CLocalTraceMode.h"

#include <unistd.h>

#include <exception>

#include "libkestrel/logfile/TraceWindow.h"
#include "libsorrel/CAutoMutex.h"
#include "libsorrel/SorrelTrace.h"

namespace sorrel {

namespace {

constexpr std::size_t kArchiveBuffer = 4096;

// ProcessTraceWndMessages: the window library serves the windows' events.
int PumpTraceWindows(void* /*traceWindow*/, void* /*errorWindow*/)
{
    kestrel::PumpTraceWindows();
    return 0;  // nothing is left waiting
}

}  // namespace

CLocalTraceMode::CLocalTraceMode(int slot, const char* title, const char* logFile, int slices, int kind)
    : CArchiveTraceMode(slot, nullptr, nullptr, nullptr), kind_(kind), title_(title != nullptr ? title : "Application")
{
    if (kind == kWindowKind) {
        try {
            window_ = std::make_shared<kestrel::CWndFile>(title_.c_str(), true);
            SetTraceWindowPump(&PumpTraceWindows);
        } catch (const std::exception&) {  // NOLINT(bugprone-empty-catch): no window here; stderr below
        }
    }
    kestrel::CFile* out = window_.get();
    if (out == nullptr) {
        stderrFile_ = std::make_unique<kestrel::CFile>(STDERR_FILENO, false);
        out = stderrFile_.get();
    }
    traceOut_ = std::make_unique<kestrel::COutTextArchive>(out, kestrel::CArchive::store, kArchiveBuffer);
    SetTraceArchives(traceOut_.get(), nullptr, nullptr);
    // The log file is opened even when its name is the default one, which
    // the unforced SetLogFile would take for "nothing changed".
    try {
        CLocalTraceMode::SetLogFile(logFile, slices, true);
    } catch (...) {  // NOLINT(bugprone-empty-catch): reported by SetLogFile; the mode runs without a log
    }
    AutoCR(true);
}

CLocalTraceMode::~CLocalTraceMode()
{
    SetTraceArchives(nullptr, nullptr, nullptr);
}

bool CLocalTraceMode::SetLogFile(const char* name, int slices, bool force)
{
    CAutoMutex guard(GetMutex());
    if (!CTraceMode::SetLogFile(name, slices, force)) {
        return false;
    }
    logOut_.reset();
    logFile_.reset();
    SetTraceArchives(TraceArchive(), nullptr, nullptr);
    try {
        OpenLog();
    } catch (const kestrel::CFrameworkException& e) {
        SetFailureState(FailureState() | kLogFailing);
        OnError(&e, "CLocalTraceMode::SetLogFile  An error occured", __FILE__, __LINE__);
        CloseOutput();
        throw;
    }
    SetFailureState(FailureState() & ~kLogFailing);
    return true;
}

void CLocalTraceMode::OpenLog()
{
    const std::string name = LogFileName();
    auto file = std::make_unique<kestrel::CLogFile>(name.c_str(), kSliceSize, static_cast<unsigned long>(LogSlices()));
    logOut_ = std::make_unique<kestrel::COutTextArchive>(file.get(), kestrel::CArchive::store, kArchiveBuffer);
    logFile_ = std::move(file);
    SetTraceArchives(TraceArchive(), logOut_.get(), nullptr);
}

void CLocalTraceMode::ResetOutput(bool reopen, bool /*report*/)
{
    CAutoMutex guard(GetMutex());
    if (!reopen) {
        return;
    }
    CloseOutput();
    const std::string name = LogFileName();
    SetLogFile(name.c_str(), LogSlices(), true);
}

void CLocalTraceMode::CloseOutput()
{
    CAutoMutex guard(GetMutex());
    SetTraceArchives(TraceArchive(), nullptr, nullptr);
    logOut_.reset();
    logFile_.reset();
}

bool CLocalTraceMode::HasLogOutput()
{
    CAutoMutex guard(GetMutex());
    return logOut_ != nullptr;
}

void CLocalTraceMode::WaitForEnd(unsigned long milliseconds)
{
    std::shared_ptr<kestrel::CWndFile> window;
    {
        CAutoMutex guard(GetMutex());
        window = window_;
    }
    if (window) {
        window->WaitForEnd(milliseconds);
    }
}

TraceWindowHandle CLocalTraceMode::hWnd()
{
    return window_ ? window_->WindowHandle() : nullptr;
}

}  // namespace sorrel
