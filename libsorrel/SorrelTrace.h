// The trace library's C interface. Every function acts on the mode
// registered at the time of the call (the trace mode, or the error mode for
// SorError, CloseError and SetQXErrorFile); without one it does nothing and
// returns 0. The functions are exported by name with C linkage.
#pragma once

#include <cstdarg>
#include <cwchar>

namespace sorrel {
class CTraceMode;

// Makes the remote trace mode behind AllocRemoteTrace: a QXRemoteTraceMode
// unless another factory is installed (tests). Arguments: title, log file name, slice count, host,
// service, extra text, connect at once.
using RemoteTraceFactory = CTraceMode* (*)(const char* title, const char* logFile, int slices, const char* host,
                                           const char* service, const char* extra, bool connectNow);
void SetRemoteTraceFactory(RemoteTraceFactory factory);

// Serves the local trace windows; installed by the local trace module.
// Returns 0 when neither window had a message left.
using TraceWindowPump = int (*)(void* traceWindow, void* errorWindow);
void SetTraceWindowPump(TraceWindowPump pump);
}  // namespace sorrel

extern "C" {

// Creation and ending.
// A remote trace mode (slot 0) with service "qxtraced", no extra text and an
// immediate connection attempt; missing texts become "Application",
// "application_log" and "localhost". Its auto-delete flag is off, so
// ReleaseTrace frees it.
sorrel::CTraceMode* AllocRemoteTrace(const char* title, const char* logFile, int slices, const char* host,
                                     void* reserved);
void AllocRemoteTraceU(const wchar_t* title, const wchar_t* logFile, int slices, const wchar_t* host, void* reserved);
void ReleaseTrace(void);
void CloseTrace(void);
void CloseError(void);
void WaitForEndTrace(unsigned long milliseconds);

// Tracing. The trace functions keep both last-error values (errno and the
// socket slot) as the caller left them; SorError does not.
void SorTrace(int level, const char* format, ...);
void SorTraceln(int level, const char* format, ...);
void SorTraceV(int level, const char* format, va_list args, bool line);
void NoLineSorTraceV(int level, const char* format, va_list args);
// The text is the format: a literal "%" must be doubled.
void SorTraceString(int level, const char* text);
void SorTraceStringln(int level, const char* text);
void SorTraceStringU(int level, const wchar_t* text);
void SorTraceStringlnU(int level, const wchar_t* text);
void SorError(const char* format, ...);
int SorCheckLevel(int level);

// Level switches of the trace mode.
void EnableTrace(int level);
void DisableTrace(void);
void DisableOneTrace(int level);
void SuspendTrace(int level);
void ResumeTrace(int level);
int IsTraceEnabled(int level);
void EnableLog(int level);
void DisableLog(void);
void DisableOneLog(int level);
void SuspendLog(int level);
void ResumeLog(int level);
int IsLogEnabled(int level);

// Outputs and settings.
void SetLogFile(const char* name, int slices, int force);
void SetQXErrorFile(const char* name);
void SetTraceTitle(const char* title);
void SetLevelDescription(int level, const char* name, const char* description);
// The reset's exception reaches the caller.
void ResetTraceAndLog(void);
void LockTrace(void);
void UnlockTrace(void);
int ProcessTraceWndMessages(void);

}  // extern "C"
