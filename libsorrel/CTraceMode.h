// The trace mode: decides per level whether a traced text goes to the trace
// output, the log output, both or nowhere; formats it, cuts it into lines
// and hands each line to the outputs of a subclass. An output that throws is
// marked failing and skipped, and reset on a growing interval, so tracing
// never stops the program and never lets an exception out.
//
// One mode may be registered as the trace mode (slot 0) and one as the
// error mode (slot 1); constructing a mode installs the trace library's C
// functions into the tools library's hooks, which act on the registered
// modes.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "libsorrel/LevelSwitches.h"

namespace ost {
class Mutex;
}
namespace kestrel {
class CFrameworkException;
}

namespace sorrel {

// A native window of a local trace output; none elsewhere.
using TraceWindowHandle = void*;

class CTraceMode {
public:
    enum Slot : int { kTraceSlot = 0, kErrorSlot = 1, kUnregistered = 2 };
    // Failure state bits: the output is failing, or busy inside a call.
    enum Failure : int { kTraceFailing = 1, kLogFailing = 2, kBothFailing = 3 };

    static constexpr int kLevelCount = 256;
    static constexpr std::size_t kFormatBufferSize = 32768;
    static constexpr int kMaxLineLength = 32767;
    static constexpr unsigned long kStaticLevels = 0xFFFFFFFFul;

    // Seconds of a clock; the default is the C library's time().
    using Clock = std::int64_t (*)();

    explicit CTraceMode(int slot);
    // Clears its own registration slot (unless another mode has taken it).
    virtual ~CTraceMode();

    CTraceMode(const CTraceMode&) = delete;
    CTraceMode& operator=(const CTraceMode&) = delete;

    // The overridable operations, in this order.
    // Records the (expanded) log name and slice count; false when nothing
    // changes. Subclasses then reopen their log output.
    virtual bool SetLogFile(const char* name, int slices, bool force);
    // Reports a failure of the trace library itself (to the error mode, or
    // for the error mode to stderr and an existing "ERROR-<tid>.txt").
    virtual void OnError(const kestrel::CFrameworkException* exception, const char* text, const char* file, int line);
    virtual void InitLevels();
    virtual void ResetOutput(bool reopen, bool report);
    virtual void DoTrace(int level, const char* line);
    virtual void DoLog(int level, const char* line);
    virtual void DoTraceAndLog(int level, const char* line);
    // 0, 0, 10, 30, 60, then 300 seconds.
    virtual unsigned long GetRetryInterval(int retries);
    virtual void WaitForEnd(unsigned long milliseconds);
    virtual void SetLevelDescription(int level, const char* name, const char* description);
    virtual void CloseOutput();
    virtual bool SetTitle(const char* title);
    virtual TraceWindowHandle hWnd();
    virtual void Lock();
    virtual void Unlock();

    // The entry of every traced text. A call made while another trace call
    // of this mode is in progress, on any thread, is dropped. A call at a
    // level that is off returns before the lock (see Wants).
    void Trace(int level, const char* format, va_list args, bool line);
    // Whether a trace call at `level` has anything to do: a switch of the
    // level is on, or the level reload is due. Takes no lock.
    [[nodiscard]] bool Wants(int level) const noexcept
    {
        if (trace_.IsOn(level) || log_.IsOn(level)) {
            return true;
        }
        const std::uint32_t interval = levelRefreshInterval_.load(std::memory_order_relaxed);
        if (interval == kStaticLevels) {
            return false;
        }
        const std::int64_t now = clock_.load(std::memory_order_relaxed)();
        return static_cast<std::uint32_t>(now - lastLevelRefresh_.load(std::memory_order_relaxed)) >= interval;
    }
    // Sends one line to the outputs whose switch is on.
    void ProcessBuffer(int level, const char* text);
    // Appends text from `position` to the pending line until a line ends
    // (true, position past the line feed) or the text ends (false).
    bool FormatString(const char* text, int& position);

    // Level switches; a level outside 0..255 is ignored. Changes take the
    // lock; the tests read without it.
    void EnableTrace(int level) { Change(trace_, &SwitchBank::Enable, level); }
    void DisableTrace();
    void DisableTrace(int level) { Change(trace_, &SwitchBank::Disable, level); }
    void SuspendTrace(int level) { Change(trace_, &SwitchBank::Suspend, level); }
    void ResumeTrace(int level) { Change(trace_, &SwitchBank::Resume, level); }
    [[nodiscard]] int IsTraceEnabled(int level) const noexcept { return trace_.IsOn(level) ? 1 : 0; }
    void EnableLog(int level) { Change(log_, &SwitchBank::Enable, level); }
    void DisableLog();
    void DisableLog(int level) { Change(log_, &SwitchBank::Disable, level); }
    void SuspendLog(int level) { Change(log_, &SwitchBank::Suspend, level); }
    void ResumeLog(int level) { Change(log_, &SwitchBank::Resume, level); }
    [[nodiscard]] int IsLogEnabled(int level) const noexcept { return log_.IsOn(level) ? 1 : 0; }
    // Either switch of the level is on.
    [[nodiscard]] bool IsLevelOn(int level) const noexcept { return trace_.IsOn(level) || log_.IsOn(level); }

    [[nodiscard]] unsigned long InitLevelsInterval() const noexcept
    {
        return levelRefreshInterval_.load(std::memory_order_relaxed);
    }
    void InitLevelsInterval(unsigned long seconds);
    void InitLevelsStatic();
    // The empty level reload, for subclasses that have none.
    void NO_DYNAMIC() {}
    void AutoDelete(bool autoDelete);
    // Switches every level off, waits 10 ms for calls in flight, then frees
    // the object unless its auto-delete flag is set. The object must come
    // from new.
    void Delete();
    [[nodiscard]] ost::Mutex* GetMutex() const { return lock_.get(); }

    [[nodiscard]] int Slot() const { return slot_; }
    [[nodiscard]] int FailureState();
    [[nodiscard]] int RetryCount();
    [[nodiscard]] std::string LogFileName();
    [[nodiscard]] int LogSlices();
    [[nodiscard]] bool IsAutoDelete();
    // Key: the level in decimal; value: name, ETX (0x03), description.
    [[nodiscard]] std::map<std::string, std::string> LevelDescriptions();
    void SetClock(Clock clock);

protected:
    // Guarded outputs: skipped while their failure bit is set; the bit is
    // set around the call and stays set when the output throws.
    void _doTraceErr(int level, const char* line);
    void _doLogErr(int level, const char* line);
    void _doTraceAndLogErr(int level, const char* line);

    // For subclasses rebuilding their outputs (under the lock).
    void SetFailureState(int state);

private:
    // One switch operation on one bank, under the lock.
    void Change(SwitchBank& bank, void (SwitchBank::*operation)(int) noexcept, int level);
    void TraceLocked(int level, const char* format, va_list args, bool line);
    void DeliverPending(int level);

    std::vector<char> buffer_;
    std::map<std::string, std::string> descriptions_;
    SwitchBank trace_;
    SwitchBank log_;
    // Read by Wants without the lock; written under it.
    std::atomic<std::int64_t> lastLevelRefresh_{0};
    std::atomic<std::uint32_t> levelRefreshInterval_{10};
    std::atomic<Clock> clock_;
    std::int64_t lastRetryCheck_ = 0;
    bool autoDelete_ = true;
    // Test-and-set without the lock: a second concurrent call is dropped.
    std::atomic<bool> inTrace_{false};
    // Set under the lock while Trace runs: a call coming back into the mode
    // from inside its own output (same thread) is dropped too.
    bool inside_ = false;
    int failure_ = 0;
    int retries_ = 0;
    std::string logFile_ = "application_log";
    int slices_ = 2;
    int slot_;
    std::string pending_;
    std::unique_ptr<ost::Mutex> lock_;
};

// The registered modes, or null.
CTraceMode* GetTraceMode();
CTraceMode* GetErrorMode();

}  // namespace sorrel
