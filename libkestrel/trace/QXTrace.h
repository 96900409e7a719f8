// The trace front-end: fifteen hook pointers that every trace call goes
// through. They start as do-nothing defaults; the trace library installs its
// routines when a trace mode is constructed. Callers always call through the
// pointer, never keep a copy, so a later installation takes effect at once.
#pragma once

#include <cstddef>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*QXTraceFunction)(int level, const char* format, ...);
typedef void (*QXErrorFunction)(const char* format, ...);
typedef int (*QXCheckLevelFunction)(int level);
typedef void (*QXLockFunction)(void);
typedef void (*QXLevelFunction)(int level);
typedef void (*QXVoidFunction)(void);
typedef void (*QXSetLogFileFunction)(const char* name, int slices, int force);
typedef void (*QXSetTraceTitleFunction)(const char* title);

extern QXTraceFunction QXTrace;
extern QXTraceFunction QXTraceln;
extern QXErrorFunction QXError;
extern QXCheckLevelFunction CheckLevel;
extern QXLockFunction QXLockTrace;
extern QXLockFunction QXUnlockTrace;
extern QXLockFunction QXLockError;
extern QXLockFunction QXUnlockError;
extern QXLevelFunction QXEnableTrace;
extern QXVoidFunction QXDisableTrace;
extern QXLevelFunction QXEnableLog;
extern QXVoidFunction QXDisableLog;
// One level off, the others as they are.
extern QXLevelFunction QXDisableOneTrace;
extern QXLevelFunction QXDisableOneLog;
extern QXVoidFunction QXResetTraceAndLog;
extern QXSetLogFileFunction QXSetLogFile;
extern QXSetTraceTitleFunction QXSetTraceTitle;

// The do-nothing defaults, so that a caller can put a hook back.
void QXTraceNull(int level, const char* format, ...);
void QXErrorNull(const char* format, ...);
void QXLockNull(void);
void QXEnableTraceNull(int level);
void QXDisableTraceNull(void);
void QXEnableLogNull(int level);
void QXDisableLogNull(void);
void QXResetTraceAndLogNull(void);
void QXSetLogFileNull(const char* name, int slices, int force);
void QXSetTraceTitleNull(const char* title);
int AlwaysTrue(int level);

void SetTraceFunction(QXTraceFunction function);
void SetTracelnFunction(QXTraceFunction function);
void SetErrorFunction(QXErrorFunction function);
void SetCheckLevelFunction(QXCheckLevelFunction function);
void SetTraceLockFunctions(QXLockFunction lock, QXLockFunction unlock);
void SetErrorLockFunctions(QXLockFunction lock, QXLockFunction unlock);
void SetEnableTraceFunction(QXLevelFunction function);
void SetDisableTraceFunction(QXVoidFunction function);
void SetEnableLogFunction(QXLevelFunction function);
void SetDisableLogFunction(QXVoidFunction function);
void SetDisableOneTraceFunction(QXLevelFunction function);
void SetDisableOneLogFunction(QXLevelFunction function);
void SetResetTraceAndLogFunction(QXVoidFunction function);
void SetLogFileFunction(QXSetLogFileFunction function);
void SetTraceTitleFunction(QXSetTraceTitleFunction function);

// "<0x%02x>" per byte, a line break after every sixteenth and one at the end.
void QXTraceBytes(int level, const void* bytes, int count);
// Hex dump rows "%04d  <hex>  <text>" when the level is on.
void QXTraceBytesFormatted(int level, const void* bytes, int count);

#ifdef __cplusplus
}

namespace kestrel {
class CFrameworkException;
}
// The exception's message (at most 1024 bytes) as one QXTrace text.
void QXExceptionTrace(const kestrel::CFrameworkException& exception, int level);
// Reports an exception to the error mode.
void QXExceptionError(const kestrel::CFrameworkException& exception);
#endif
