// Last-error codes, their texts, and the time, name and sleep helpers that
// build the head of every trace line.
//
// Two per-thread slots: the system slot (errno) and the socket slot. A code
// with bit 28 set is one of the program's own and indexes a 256-slot table.
// Text results live in per-thread buffers valid until the next call of the
// same function on the same thread.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define KESTREL_USER_ERROR_FLAG 0x10000000u
#define KESTREL_USER_ERROR_SLOTS 256

// The system's last error when not 0, else the socket slot's.
unsigned int ErrorLast(void);
const char* ErrorDescription(unsigned int code);
// "%-5d" of the last error, or "U%-4d" of a user code without its flag.
const char* ErrorLastString(void);
// 0 clears the system slot; any other code is stored with the user flag.
void ErrorSet(unsigned int code);
// Codes of 10000 and above go to the socket slot, others to the system slot.
void ErrorSysSet(unsigned int code);
unsigned int ErrorVal(unsigned int code);
void ErrorUnset(void);
int ErrorAdd(unsigned int code, const char* text);
int ErrorDel(unsigned int code);
void ErrorShow(const char* text);
void ErrorInit(void);

// The socket slot, kept beside errno (the socket layer writes it).
unsigned int SocketErrorGet(void);
void SocketErrorSet(unsigned int code);

// "%j %H:%M:%S" of the local time, for example "064 14:03:59".
const char* QXDateAndTime(void);
// "HH:MM:SS" / "DD/MM/YYYY"; both share one buffer.
const char* QXTime(void);
const char* QXDate(void);
// Pointer just after the last '\\' or '/' of `path`; the whole path when it
// has neither.
const char* QXBasename(const char* path);
// The calling thread's identifier (printed "0x%X" in trace lines).
unsigned int QXThreadId(void);

int QXSleep(unsigned int seconds);
int QXSleepms(unsigned int milliseconds);
int QXSleepus(unsigned int microseconds);

// Where `ErrorShow` sends its message box; the default writes to stderr.
typedef void (*QXMessageBoxFunction)(const char* caption, const char* text);
void SetMessageBoxFunction(QXMessageBoxFunction function);

#ifdef __cplusplus
}

#include <ctime>

namespace kestrel {
// Formats `tm` fields as QXDateAndTime does; used with an injected clock.
void FormatDateAndTime(char* out, unsigned long size, const std::tm& local);
}  // namespace kestrel
#endif
