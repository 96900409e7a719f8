#include "libsorrel/SorrelTrace.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

#include "libkestrel/error/QXError.h"
#include "libkestrel/trace/TraceLevels.h"
#include "libsorrel/CTraceMode.h"
#include "libsorrel/QXRemoteTraceMode.h"
#include "libsorrel/TraceSlots.h"

namespace sorrel {

namespace {

std::atomic<RemoteTraceFactory> g_remoteFactory{nullptr};
std::atomic<TraceWindowPump> g_windowPump{nullptr};

// Keeps the caller's system and socket last-error values across a trace.
class ErrorSlotsKeeper {
public:
    ErrorSlotsKeeper() : system_(errno), socket_(SocketErrorGet()) {}
    ~ErrorSlotsKeeper()
    {
        SocketErrorSet(socket_);
        errno = system_;
    }
    ErrorSlotsKeeper(const ErrorSlotsKeeper&) = delete;
    ErrorSlotsKeeper& operator=(const ErrorSlotsKeeper&) = delete;

private:
    int system_;
    unsigned int socket_;
};

// The thread's "ANSI code page" of this platform is Latin-1, the set whose
// accented letters the trace modes fold; other characters become "?".
std::optional<std::string> ToAnsi(const wchar_t* text)
{
    if (text == nullptr) {
        return std::nullopt;
    }
    std::string out;
    for (; *text != L'\0'; ++text) {
        // Code points 0..255 are Latin-1 itself.
        const std::uint32_t c = std::char_traits<wchar_t>::to_int_type(*text);
        out += c <= 0xFF ? static_cast<char>(static_cast<unsigned char>(c)) : '?';
    }
    return out;
}

const char* CStr(const std::optional<std::string>& text)
{
    return text ? text->c_str() : nullptr;
}

void TraceOn(CTraceMode* mode, int level, const char* format, va_list args, bool line)
{
    // A level that is off costs two loads: no lock, no last-error save.
    if (mode == nullptr || !mode->Wants(level)) {
        return;
    }
    const ErrorSlotsKeeper keep;
    mode->Trace(level, format, args, line);
}

// The text as the format of a call without arguments.
void TraceText(int level, bool line, const char* text, ...)
{
    va_list args;
    va_start(args, text);
    TraceOn(GetTraceMode(), level, text, args, line);
    va_end(args);
}

CTraceMode* MakeRemoteTrace(const char* title, const char* logFile, int slices, const char* host, const char* service,
                            const char* extra, bool connectNow)
{
    return new QXRemoteTraceMode(CTraceMode::kTraceSlot, title, logFile, slices, host, service, extra, connectNow);
}

std::uint64_t TickCount()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

void SetRemoteTraceFactory(RemoteTraceFactory factory)
{
    g_remoteFactory.store(factory);
}

void SetTraceWindowPump(TraceWindowPump pump)
{
    g_windowPump.store(pump);
}

}  // namespace sorrel

using sorrel::CTraceMode;
using sorrel::GetErrorMode;
using sorrel::GetTraceMode;

extern "C" {

CTraceMode* AllocRemoteTrace(const char* title, const char* logFile, int slices, const char* host, void* /*reserved*/)
{
    sorrel::RemoteTraceFactory factory = sorrel::g_remoteFactory.load();
    if (factory == nullptr) {
        factory = &sorrel::MakeRemoteTrace;
    }
    CTraceMode* mode =
        factory(title != nullptr ? title : "Application", logFile != nullptr ? logFile : "application_log", slices,
                host != nullptr ? host : "localhost", "qxtraced", nullptr, true);
    if (mode != nullptr) {
        mode->AutoDelete(false);
    }
    return mode;
}

void AllocRemoteTraceU(const wchar_t* title, const wchar_t* logFile, int slices, const wchar_t* host, void* reserved)
{
    const auto t = sorrel::ToAnsi(title);
    const auto l = sorrel::ToAnsi(logFile);
    const auto h = sorrel::ToAnsi(host);
    AllocRemoteTrace(sorrel::CStr(t), sorrel::CStr(l), slices, sorrel::CStr(h), reserved);
}

void ReleaseTrace(void)
{
    if (CTraceMode* mode = GetTraceMode()) {
        mode->Delete();
    }
    if (CTraceMode* mode = GetErrorMode()) {
        mode->Delete();
    }
}

void CloseTrace(void)
{
    if (CTraceMode* mode = GetTraceMode()) {
        mode->CloseOutput();
    }
}

void CloseError(void)
{
    if (CTraceMode* mode = GetErrorMode()) {
        mode->CloseOutput();
    }
}

void WaitForEndTrace(unsigned long milliseconds)
{
    constexpr unsigned long kForever = 0xFFFFFFFFul;
    const std::uint64_t deadline = sorrel::TickCount() + milliseconds;
    if (CTraceMode* mode = GetTraceMode()) {
        mode->WaitForEnd(milliseconds);
    }
    CTraceMode* error = GetErrorMode();
    if (error == nullptr) {
        return;
    }
    // "Forever" stays forever for the error mode too.
    if (milliseconds == kForever) {
        error->WaitForEnd(kForever);
        return;
    }
    const std::uint64_t now = sorrel::TickCount();
    if (now < deadline) {
        error->WaitForEnd(static_cast<unsigned long>(deadline - now));
    }
}

// The two hooks every trace line goes through: a level that is off costs
// one slot load and two switch loads, inline.
void SorTrace(int level, const char* format, ...)
{
    CTraceMode* mode = sorrel::detail::SlotMode(CTraceMode::kTraceSlot);
    if (mode == nullptr || !mode->Wants(level)) {
        return;
    }
    va_list args;
    va_start(args, format);
    sorrel::TraceOn(mode, level, format, args, false);
    va_end(args);
}

void SorTraceln(int level, const char* format, ...)
{
    CTraceMode* mode = sorrel::detail::SlotMode(CTraceMode::kTraceSlot);
    if (mode == nullptr || !mode->Wants(level)) {
        return;
    }
    va_list args;
    va_start(args, format);
    sorrel::TraceOn(mode, level, format, args, true);
    va_end(args);
}

void SorTraceV(int level, const char* format, va_list args, bool line)
{
    sorrel::TraceOn(GetTraceMode(), level, format, args, line);
}

void NoLineSorTraceV(int level, const char* format, va_list args)
{
    sorrel::TraceOn(GetTraceMode(), level, format, args, false);
}

void SorTraceString(int level, const char* text)
{
    sorrel::TraceText(level, false, text);
}

void SorTraceStringln(int level, const char* text)
{
    sorrel::TraceText(level, true, text);
}

void SorTraceStringU(int level, const wchar_t* text)
{
    const auto converted = sorrel::ToAnsi(text);
    sorrel::TraceText(level, false, sorrel::CStr(converted));
}

void SorTraceStringlnU(int level, const wchar_t* text)
{
    const auto converted = sorrel::ToAnsi(text);
    sorrel::TraceText(level, true, sorrel::CStr(converted));
}

void SorError(const char* format, ...)
{
    CTraceMode* mode = GetErrorMode();
    if (mode == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    mode->Trace(kestrel::kLevelUnclassified, format, args, false);
    va_end(args);
}

int SorCheckLevel(int level)
{
    CTraceMode* mode = sorrel::detail::SlotMode(CTraceMode::kTraceSlot);
    return mode != nullptr && mode->IsLevelOn(level) ? 1 : 0;
}

void EnableTrace(int level)
{
    if (CTraceMode* mode = GetTraceMode()) {
        mode->EnableTrace(level);
    }
}
void DisableTrace(void)
{
    if (CTraceMode* mode = GetTraceMode()) {
        mode->DisableTrace();
    }
}
void DisableOneTrace(int level)
{
    if (CTraceMode* mode = GetTraceMode()) {
        mode->DisableTrace(level);
    }
}
void SuspendTrace(int level)
{
    if (CTraceMode* mode = GetTraceMode()) {
        mode->SuspendTrace(level);
    }
}
void ResumeTrace(int level)
{
    if (CTraceMode* mode = GetTraceMode()) {
        mode->ResumeTrace(level);
    }
}
int IsTraceEnabled(int level)
{
    CTraceMode* mode = GetTraceMode();
    return mode != nullptr ? mode->IsTraceEnabled(level) : 0;
}
void EnableLog(int level)
{
    if (CTraceMode* mode = GetTraceMode()) {
        mode->EnableLog(level);
    }
}
void DisableLog(void)
{
    if (CTraceMode* mode = GetTraceMode()) {
        mode->DisableLog();
    }
}
void DisableOneLog(int level)
{
    if (CTraceMode* mode = GetTraceMode()) {
        mode->DisableLog(level);
    }
}
void SuspendLog(int level)
{
    if (CTraceMode* mode = GetTraceMode()) {
        mode->SuspendLog(level);
    }
}
void ResumeLog(int level)
{
    if (CTraceMode* mode = GetTraceMode()) {
        mode->ResumeLog(level);
    }
}
int IsLogEnabled(int level)
{
    CTraceMode* mode = GetTraceMode();
    return mode != nullptr ? mode->IsLogEnabled(level) : 0;
}

void SetLogFile(const char* name, int slices, int force)
{
    if (CTraceMode* mode = GetTraceMode()) {
        try {
            mode->SetLogFile(name, slices, force != 0);
        } catch (...) {  // NOLINT(bugprone-empty-catch): settings calls never throw to the caller
        }
    }
}

void SetQXErrorFile(const char* name)
{
    if (CTraceMode* mode = GetErrorMode()) {
        try {
            mode->SetLogFile(name, 2, false);
        } catch (...) {  // NOLINT(bugprone-empty-catch): settings calls never throw to the caller
        }
    }
}

void SetTraceTitle(const char* title)
{
    if (CTraceMode* mode = GetTraceMode()) {
        try {
            mode->SetTitle(title);
        } catch (...) {  // NOLINT(bugprone-empty-catch): settings calls never throw to the caller
        }
    }
}

void SetLevelDescription(int level, const char* name, const char* description)
{
    if (CTraceMode* mode = GetTraceMode()) {
        mode->SetLevelDescription(level, name, description);
    }
}

void ResetTraceAndLog(void)
{
    if (CTraceMode* mode = GetTraceMode()) {
        mode->ResetOutput(true, true);
    }
}

void LockTrace(void)
{
    if (CTraceMode* mode = GetTraceMode()) {
        mode->Lock();
    }
}

void UnlockTrace(void)
{
    if (CTraceMode* mode = GetTraceMode()) {
        mode->Unlock();
    }
}

int ProcessTraceWndMessages(void)
{
    CTraceMode* traceMode = GetTraceMode();
    CTraceMode* errorMode = GetErrorMode();
    void* traceWindow = traceMode != nullptr ? traceMode->hWnd() : nullptr;
    void* errorWindow = errorMode != nullptr ? errorMode->hWnd() : nullptr;
    const sorrel::TraceWindowPump pump = sorrel::g_windowPump.load();
    if ((traceWindow == nullptr && errorWindow == nullptr) || pump == nullptr) {
        return 0;
    }
    return pump(traceWindow, errorWindow);
}

}  // extern "C"
