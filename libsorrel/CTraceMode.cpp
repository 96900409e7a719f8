#include "libsorrel/CTraceMode.h"

#include <fcntl.h>

#include <commoncpp/thread.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>

#include "libkestrel/error/QXError.h"
#include "libkestrel/framework/FileIo.h"
#include "libkestrel/framework/QXException.h"
#include "libkestrel/framework/QXString.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "libsorrel/CAutoMutex.h"
#include "libsorrel/LineEscape.h"
#include "libsorrel/SorrelTrace.h"
#include "libsorrel/TraceSlots.h"

namespace sorrel {

namespace detail {
std::atomic<CTraceMode*> g_slots[2] = {nullptr, nullptr};
}  // namespace detail

using detail::g_slots;

namespace {

constexpr unsigned long kRetryIntervals[] = {0, 0, 10, 30, 60, 300};
constexpr const char* kDefaultLogName = "application_log";

std::int64_t SystemClock()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n =
        std::vsnprintf(nullptr, 0, format, copy);  // NOLINT(clang-analyzer-valist.Uninitialized): copied above
    va_end(copy);
    std::string text;
    if (n > 0) {
        text.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<std::size_t>(n));
    }
    va_end(args);
    return text;
}

// The last resort of the error mode: a file that the user created on
// purpose. Never created here; appended to, so earlier reports stay.
void WriteErrorFile(const std::string& report)
{
    char name[32];
    std::snprintf(name, sizeof name, "ERROR-%x.txt", QXThreadId());
    const kestrel::UniqueFd fd(::open(name, O_WRONLY | O_APPEND | O_CLOEXEC));
    if (!fd) {
        return;
    }
    // A failure here has nowhere left to go.
    static_cast<void>(kestrel::WriteAll(fd.Get(), report + "\n"));
}

}  // namespace

CTraceMode* GetTraceMode()
{
    return g_slots[CTraceMode::kTraceSlot].load(std::memory_order_acquire);
}

CTraceMode* GetErrorMode()
{
    return g_slots[CTraceMode::kErrorSlot].load(std::memory_order_acquire);
}

CTraceMode::CTraceMode(int slot) : clock_(&SystemClock), slot_(slot), lock_(std::make_unique<ost::Mutex>())
{
    if (slot_ == kTraceSlot) {
        SetTraceFunction(&SorTrace);
        SetTracelnFunction(&SorTraceln);
        SetCheckLevelFunction(&SorCheckLevel);
    } else if (slot_ == kErrorSlot) {
        SetErrorFunction(&SorError);
    }
    SetTraceLockFunctions(&LockTrace, &UnlockTrace);
    SetEnableTraceFunction(&::EnableTrace);
    SetDisableTraceFunction(&::DisableTrace);
    SetEnableLogFunction(&::EnableLog);
    SetDisableLogFunction(&::DisableLog);
    SetDisableOneTraceFunction(&::DisableOneTrace);
    SetDisableOneLogFunction(&::DisableOneLog);
    SetResetTraceAndLogFunction(&ResetTraceAndLog);
    SetLogFileFunction(&::SetLogFile);
    SetTraceTitleFunction(&SetTraceTitle);
    buffer_.assign(kFormatBufferSize, '\0');
    if (slot_ == kTraceSlot || slot_ == kErrorSlot) {
        g_slots[slot_].store(this, std::memory_order_release);
    }
}

CTraceMode::~CTraceMode()
{
    if (slot_ == kTraceSlot || slot_ == kErrorSlot) {
        CTraceMode* self = this;
        g_slots[slot_].compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
    }
}

// -- the overridable base ---------------------------------------------------

bool CTraceMode::SetLogFile(const char* name, int slices, bool force)
{
    CAutoMutex guard(lock_.get());
    if (!force && logFile_ == (name != nullptr ? name : kDefaultLogName) && slices == slices_) {
        return false;
    }
    if (name != nullptr) {
        kestrel::QXString expanded(name);
        expanded.extractEnvVar();
        logFile_ = expanded;
    } else {
        logFile_ = kDefaultLogName;
    }
    slices_ = slices;
    return true;
}

void CTraceMode::OnError(const kestrel::CFrameworkException* exception, const char* text, const char* file, int line)
{
    if (exception == nullptr) {
        return;
    }
    char message[512];
    if (!exception->GetErrorMessage(message, sizeof message)) {
        message[0] = '\0';
    }
    static constexpr const char* kWords[] = {"No", "Trace", "Log", "Trace and Log"};
    const char* word = kWords[FailureState() & kBothFailing];
    const std::string report =
        Printf("%s problem --> %s%sReported from %s(%d):%s%s%s", word, text != nullptr ? text : "", "\r\n",
               QXBasename(file != nullptr ? file : ""), line, "\r\n", message, "\r\n");
    if (slot_ == kErrorSlot) {
        try {
            DoTrace(kestrel::kLevelUnclassified, report.c_str());
        } catch (...) {
            std::fprintf(stderr, "%s\n", report.c_str());
            WriteErrorFile(report);
        }
        return;
    }
    QXError("%s %s(%d) 0x%X  %s", QXDateAndTime(), QXBasename(__FILE__), __LINE__, QXThreadId(),
            "STD_EXH    Handled exception\n");
    QXError("%s\n", report.c_str());
}

void CTraceMode::InitLevels() {}
void CTraceMode::ResetOutput(bool /*reopen*/, bool /*report*/) {}
void CTraceMode::DoTrace(int /*level*/, const char* /*line*/) {}
void CTraceMode::DoLog(int /*level*/, const char* /*line*/) {}

void CTraceMode::DoTraceAndLog(int level, const char* line)
{
    DoTrace(level, line);
    DoLog(level, line);
}

unsigned long CTraceMode::GetRetryInterval(int retries)
{
    CAutoMutex guard(lock_.get());
    const auto index = static_cast<unsigned int>(retries);
    return index < std::size(kRetryIntervals) ? kRetryIntervals[index]
                                              : kRetryIntervals[std::size(kRetryIntervals) - 1];
}

void CTraceMode::WaitForEnd(unsigned long /*milliseconds*/) {}

void CTraceMode::SetLevelDescription(int level, const char* name, const char* description)
{
    CAutoMutex guard(lock_.get());
    std::string value = name != nullptr ? name : "";
    value += '\x03';
    value += description != nullptr ? description : "";
    descriptions_[std::to_string(level)] = std::move(value);
}

void CTraceMode::CloseOutput() {}

bool CTraceMode::SetTitle(const char* /*title*/)
{
    return true;
}

TraceWindowHandle CTraceMode::hWnd()
{
    return nullptr;
}

void CTraceMode::Lock()
{
    lock_->enterMutex();
}

void CTraceMode::Unlock()
{
    lock_->leaveMutex();
}

// -- tracing ----------------------------------------------------------------

void CTraceMode::Trace(int level, const char* format, va_list args, bool line)
{
    if (!Wants(level)) {
        return;
    }
    if (inTrace_.exchange(true, std::memory_order_acq_rel)) {
        return;
    }
    CAutoMutex guard(lock_.get());
    if (inside_) {
        // Back from inside one of our own outputs: the format buffer and
        // the pending line are in use further up this thread's stack.
        return;
    }
    inside_ = true;
    try {
        TraceLocked(level, format, args, line);
    } catch (...) {  // NOLINT(bugprone-empty-catch): no exception leaves a trace call
    }
    inside_ = false;
    inTrace_.store(false, std::memory_order_release);
}

void CTraceMode::TraceLocked(int level, const char* format, va_list args, bool line)
{
    const std::int64_t now = clock_.load(std::memory_order_relaxed)();
    if (static_cast<std::uint32_t>(now - lastLevelRefresh_.load(std::memory_order_relaxed)) >=
        levelRefreshInterval_.load(std::memory_order_relaxed)) {
        lastLevelRefresh_.store(now, std::memory_order_relaxed);
        try {
            InitLevels();
        } catch (...) {  // NOLINT(bugprone-empty-catch): a failed reload keeps the old levels
        }
    }
    if (!IsLevelOn(level)) {
        return;
    }
    if (failure_ != 0) {
        const auto gap = static_cast<std::uint32_t>(now - lastRetryCheck_);
        lastRetryCheck_ = now;
        if (gap >= GetRetryInterval(retries_)) {
            ++retries_;
            try {
                ResetOutput(true, true);
            } catch (...) {
                if (failure_ == kBothFailing) {
                    return;
                }
            }
        } else if (failure_ == kBothFailing) {
            return;
        }
    }
    if (format == nullptr) {
        return;
    }
    char* const buffer = buffer_.data();
    int n = std::vsnprintf(buffer, kFormatBufferSize, format, args);
    if (n < 0) {
        buffer[0] = '\0';
        n = 0;
    } else if (n > kMaxLineLength) {
        n = kMaxLineLength;  // vsnprintf cut and terminated it there
    }
    if (line) {
        if (n > 0 && buffer[n - 1] == '\n') {
            buffer[n - 1] = '\0';
        }
        if (!pending_.empty()) {
            DeliverPending(level);
        }
        ProcessBuffer(level, buffer);
        return;
    }
    int position = 0;
    while (FormatString(buffer, position)) {
        DeliverPending(level);
    }
}

void CTraceMode::DeliverPending(int level)
{
    const std::string done = std::move(pending_);
    pending_.clear();
    ProcessBuffer(level, done.c_str());
}

bool CTraceMode::FormatString(const char* text, int& position)
{
    return AppendEscapedLine(text, position, pending_);
}

void CTraceMode::ProcessBuffer(int level, const char* text)
{
    CAutoMutex guard(lock_.get());
    try {
        const bool traceOn = IsTraceEnabled(level) != 0;
        const bool logOn = IsLogEnabled(level) != 0;
        if (traceOn && logOn) {
            _doTraceAndLogErr(level, text);
        } else if (traceOn) {
            _doTraceErr(level, text);
        } else if (logOn) {
            _doLogErr(level, text);
        } else {
            return;
        }
        if (failure_ == 0) {
            retries_ = 0;
        }
        inTrace_.store(false, std::memory_order_release);
    } catch (const kestrel::CFrameworkException& e) {
        OnError(&e, "CTraceMode::Trace  An error occured", __FILE__, __LINE__);
    } catch (const std::exception& e) {
        const kestrel::CGeneralException wrapped(0, e.what(), __FILE__, __LINE__);
        OnError(&wrapped, "CTraceMode::Trace  An error occured", __FILE__, __LINE__);
    } catch (...) {
        const kestrel::CGeneralException wrapped(0, "unknown exception", __FILE__, __LINE__);
        OnError(&wrapped, "CTraceMode::Trace  An error occured", __FILE__, __LINE__);
    }
}

void CTraceMode::_doTraceErr(int level, const char* line)
{
    if ((failure_ & kTraceFailing) != 0) {
        return;
    }
    failure_ |= kTraceFailing;
    DoTrace(level, line);
    failure_ &= ~kTraceFailing;
}

void CTraceMode::_doLogErr(int level, const char* line)
{
    if ((failure_ & kLogFailing) != 0) {
        return;
    }
    failure_ |= kLogFailing;
    DoLog(level, line);
    failure_ &= ~kLogFailing;
}

void CTraceMode::_doTraceAndLogErr(int level, const char* line)
{
    switch (failure_) {
        case kBothFailing:
            return;
        case kTraceFailing:
            failure_ = kBothFailing;
            DoLog(level, line);
            failure_ &= ~kLogFailing;
            return;
        case kLogFailing:
            _doTraceErr(level, line);
            return;
        default:
            failure_ = kBothFailing;
            DoTraceAndLog(level, line);
            failure_ = 0;
            return;
    }
}

void CTraceMode::SetFailureState(int state)
{
    CAutoMutex guard(lock_.get());
    failure_ = state & kBothFailing;
}

// -- switches ---------------------------------------------------------------

void CTraceMode::Change(SwitchBank& bank, void (SwitchBank::*operation)(int) noexcept, int level)
{
    CAutoMutex guard(lock_.get());
    (bank.*operation)(level);
}

void CTraceMode::DisableTrace()
{
    CAutoMutex guard(lock_.get());
    trace_.DisableAll();
}

void CTraceMode::DisableLog()
{
    CAutoMutex guard(lock_.get());
    log_.DisableAll();
}

// -- settings and life ------------------------------------------------------

void CTraceMode::InitLevelsInterval(unsigned long seconds)
{
    CAutoMutex guard(lock_.get());
    levelRefreshInterval_.store(static_cast<std::uint32_t>(seconds), std::memory_order_relaxed);
}

void CTraceMode::InitLevelsStatic()
{
    InitLevelsInterval(kStaticLevels);
}

void CTraceMode::AutoDelete(bool autoDelete)
{
    CAutoMutex guard(lock_.get());
    autoDelete_ = autoDelete;
}

bool CTraceMode::IsAutoDelete()
{
    CAutoMutex guard(lock_.get());
    return autoDelete_;
}

void CTraceMode::Delete()
{
    bool free = false;
    {
        CAutoMutex guard(lock_.get());
        DisableTrace();
        DisableLog();
        free = !autoDelete_;
    }
    // Calls already past their switch test finish meanwhile.
    QXSleepms(10);
    if (free) {
        delete this;  // NOLINT(cppcoreguidelines-owning-memory): Delete ends modes made by the C interface
    }
}

int CTraceMode::FailureState()
{
    CAutoMutex guard(lock_.get());
    return failure_;
}

int CTraceMode::RetryCount()
{
    CAutoMutex guard(lock_.get());
    return retries_;
}

std::string CTraceMode::LogFileName()
{
    CAutoMutex guard(lock_.get());
    return logFile_;
}

int CTraceMode::LogSlices()
{
    CAutoMutex guard(lock_.get());
    return slices_;
}

std::map<std::string, std::string> CTraceMode::LevelDescriptions()
{
    CAutoMutex guard(lock_.get());
    return descriptions_;
}

void CTraceMode::SetClock(Clock clock)
{
    CAutoMutex guard(lock_.get());
    clock_.store(clock != nullptr ? clock : &SystemClock, std::memory_order_relaxed);
}

}  // namespace sorrel
