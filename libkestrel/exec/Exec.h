// Starting other programs: the Execute action and the editor of the server
// menu. A command line is split into arguments (CommandLine.h) and started
// with posix_spawn; no shell stands between the caller and the program, so a
// zone label or a file name inside the line is only ever argument text.
// AsyncSystem and SyncSystem are the explicit way through a shell.
//
// A process handle is the child's pid. Every handle returned by AsyncExecEx
// must be released once with CloseProcessHandle or WaitProcess; the released
// child is reaped in the background as soon as it ends, so none is left as a
// zombie. AsyncExec releases its handle itself.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef intptr_t KestrelProcessHandle;

// Creation flag: the child starts in a session of its own, away from the
// caller's terminal.
#define KESTREL_DETACHED_PROCESS 0x00000008u
#define KESTREL_NORMAL_PRIORITY_CLASS 0x00000020u

// Who a program is started as.
typedef struct KestrelUserToken {
    unsigned int uid;
    unsigned int gid;
} KestrelUserToken;

// Starts `command` without waiting. `in`, `out`, `err` are file descriptors
// for the child's standard streams; when all three are 0 it inherits the
// caller's. Only descriptors 0-2 pass to the child. With `token` the program
// runs as that user, which needs the right to change user (else -1, EPERM).
// Returns the process handle, or -1 with the error in the last-error slot.
KestrelProcessHandle AsyncExecEx(const char* command, int in, int out, int err, unsigned int flags,
                                 const KestrelUserToken* token);
// 1 when started, 0 when not; the child is reaped in the background.
int AsyncExec(const char* command);
// 1 when started (then `exitCode` holds its exit status, 128 + the signal
// number when a signal ended it), 0 when not (`exitCode` -1).
int SyncExec(const char* command, int* exitCode);
// The command through the shell of the environment settings "APSHELL", else
// "SHELL" followed by " -c", else "/bin/sh -c".
int AsyncSystem(const char* command);
int SyncSystem(const char* command);
// Ends the process at once (SIGKILL); 1 when the signal was sent. The handle
// still has to be released.
int KillProcess(KestrelProcessHandle process);

// Releases a handle without waiting; the child is reaped when it ends.
void CloseProcessHandle(KestrelProcessHandle process);
// Waits for the end and releases the handle; 1 with the exit status, 0 when
// the handle was not a child of this process.
int WaitProcess(KestrelProcessHandle process, int* exitCode);

#ifdef __cplusplus
}

#include <string>

namespace kestrel::exec {
// The shell text used by AsyncSystem/SyncSystem, looked up at each use.
std::string DefaultShell();
}  // namespace kestrel::exec
#endif
