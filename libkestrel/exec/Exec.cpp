#include "libkestrel/exec/Exec.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "libkestrel/exec/CommandLine.h"
#include "libkestrel/exec/EnvironmentSetting.h"
#include "libkestrel/trace/TraceLevels.h"

namespace {

using kestrel::exec::SplitCommandLine;

// argv for execvp/posix_spawnp: pointers into `arguments`, null-terminated.
std::vector<char*> ArgvOf(std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    return argv;
}

void TraceStartFailure(int error)
{
    errno = error;
    TRACE_LEVEL(kestrel::kLevelUnclassified, "CreateProcess failed Res=%d :%s(%d)\n", 0, ErrorDescription(ErrorLast()),
                static_cast<int>(ErrorLast()));
    errno = error;
}

// The child has no owner any more: a thread waits for its end so it never
// stays behind as a zombie.
void ReapInBackground(pid_t pid)
{
    try {
        std::thread([pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: take it now if it already ended, else block.
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

int StatusToExitCode(int status)
{
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

// Start as another user: posix_spawn cannot change the user, so the child
// drops to it between fork and exec and reports a failure through a pipe
// that the successful exec closes.
pid_t SpawnAsUser(std::vector<char*>& argv, int in, int out, int err, unsigned int flags, const KestrelUserToken& token,
                  int& error)
{
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        error = errno;
        return -1;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        error = errno;
        close(report[0]);
        close(report[1]);
        return -1;
    }
    if (pid == 0) {
        int childError = 0;
        if ((flags & KESTREL_DETACHED_PROCESS) != 0) {
            setsid();
        }
        if ((in != 0 && dup2(in, 0) < 0) || (out != 0 && dup2(out, 1) < 0) || (err != 0 && dup2(err, 2) < 0)) {
            childError = errno;
        }
        if (report[1] > 3) {
            close_range(3, static_cast<unsigned int>(report[1] - 1), 0);
        }
        close_range(static_cast<unsigned int>(report[1] + 1), ~0U, 0);
        const gid_t gid = token.gid;
        if (childError == 0 && (setgroups(1, &gid) != 0 || setgid(token.gid) != 0 || setuid(token.uid) != 0)) {
            childError = errno;
        }
        if (childError == 0) {
            execvp(argv[0], argv.data());
            childError = errno;
        }
        [[maybe_unused]] const ssize_t written = write(report[1], &childError, sizeof childError);
        _exit(127);
    }
    close(report[1]);
    int childError = 0;
    ssize_t got;
    do {
        got = read(report[0], &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == static_cast<ssize_t>(sizeof childError)) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        error = childError;
        return -1;
    }
    return pid;
}

pid_t SpawnPlain(std::vector<char*>& argv, int in, int out, int err, unsigned int flags, int& error)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    if (in != 0 || out != 0 || err != 0) {
        if (in != 0) {
            posix_spawn_file_actions_adddup2(&actions, in, 0);
        }
        if (out != 0) {
            posix_spawn_file_actions_adddup2(&actions, out, 1);
        }
        if (err != 0) {
            posix_spawn_file_actions_adddup2(&actions, err, 2);
        }
    }
    // Sockets and files of the server are no business of the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    short spawnFlags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if ((flags & KESTREL_DETACHED_PROCESS) != 0) {
        spawnFlags |= POSIX_SPAWN_SETSID;
    }
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, spawnFlags);

    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error = rc;
        return -1;
    }
    return pid;
}

KestrelProcessHandle Start(const char* command, int in, int out, int err, unsigned int flags,
                           const KestrelUserToken* token)
{
    std::vector<std::string> arguments = SplitCommandLine(command != nullptr ? command : "");
    int error = 0;
    pid_t pid = -1;
    if (arguments.empty()) {
        error = EINVAL;
    } else {
        std::vector<char*> argv = ArgvOf(arguments);
        const bool otherUser = token != nullptr && (token->uid != geteuid() || token->gid != getegid());
        if (!otherUser) {
            pid = SpawnPlain(argv, in, out, err, flags, error);
        } else if (geteuid() != 0) {
            error = EPERM;
        } else {
            pid = SpawnAsUser(argv, in, out, err, flags, *token, error);
        }
    }
    if (pid < 0) {
        TraceStartFailure(error);
        return -1;
    }
    return pid;
}

}  // namespace

namespace kestrel::exec {

std::string DefaultShell()
{
    if (const char* shell = EnvironmentSetting("APSHELL"); shell != nullptr && *shell != '\0') {
        return shell;
    }
    if (const char* shell = EnvironmentSetting("SHELL"); shell != nullptr && *shell != '\0') {
        return std::string(shell) + " -c";
    }
    const char* fallback = "/bin/sh -c";
    TRACE_LEVEL(kestrel::kLevelUnclassified,
                "No default shell found. Please set SHELL or APSHELL variable to set your default shell\n");
    TRACE_LEVEL(kestrel::kLevelUnclassified, "Using %s to process commands\n", fallback);
    return fallback;
}

}  // namespace kestrel::exec

extern "C" {

KestrelProcessHandle AsyncExecEx(const char* command, int in, int out, int err, unsigned int flags,
                                 const KestrelUserToken* token)
{
    TRACE_LEVEL(kestrel::kLevelUnclassified, "Starting command ==> %s\n", command != nullptr ? command : "");
    TRACE_LEVEL(kestrel::kLevelUnclassified, "SECURITY_DESCRIPTOR_REVISION=%d ACL_REVISION=%d\n", 1, 2);
    return Start(command, in, out, err, flags, token);
}

int AsyncExec(const char* command)
{
    const KestrelProcessHandle process = AsyncExecEx(command, 0, 0, 0, 0, nullptr);
    if (process < 0) {
        return 0;
    }
    CloseProcessHandle(process);
    return 1;
}

int SyncExec(const char* command, int* exitCode)
{
    TRACE_LEVEL(kestrel::kLevelUnclassified, "Starting command ==> %s\n", command != nullptr ? command : "");
    if (exitCode != nullptr) {
        *exitCode = -1;
    }
    const KestrelProcessHandle process =
        Start(command, 0, 0, 0, KESTREL_DETACHED_PROCESS | KESTREL_NORMAL_PRIORITY_CLASS, nullptr);
    if (process < 0) {
        return 0;
    }
    int code = -1;
    if (WaitProcess(process, &code) == 0) {
        TRACE_LEVEL(kestrel::kLevelUnclassified, "Warning: cannot get exit code status: %s(%d)\n",
                    ErrorDescription(ErrorLast()), static_cast<int>(ErrorLast()));
    }
    if (exitCode != nullptr) {
        *exitCode = code;
    }
    return 1;
}

int AsyncSystem(const char* command)
{
    const std::string line =
        kestrel::exec::DefaultShell() + " " + kestrel::exec::QuoteArgument(command != nullptr ? command : "");
    return AsyncExec(line.c_str());
}

int SyncSystem(const char* command)
{
    const std::string line =
        kestrel::exec::DefaultShell() + " " + kestrel::exec::QuoteArgument(command != nullptr ? command : "");
    int code = -1;
    return SyncExec(line.c_str(), &code);
}

int KillProcess(KestrelProcessHandle process)
{
    if (process <= 0) {
        errno = ESRCH;
        return 0;
    }
    return kill(static_cast<pid_t>(process), SIGKILL) == 0 ? 1 : 0;
}

void CloseProcessHandle(KestrelProcessHandle process)
{
    if (process > 0) {
        ReapInBackground(static_cast<pid_t>(process));
    }
}

int WaitProcess(KestrelProcessHandle process, int* exitCode)
{
    if (exitCode != nullptr) {
        *exitCode = -1;
    }
    if (process <= 0) {
        errno = ECHILD;
        return 0;
    }
    int status = 0;
    pid_t got;
    do {
        got = waitpid(static_cast<pid_t>(process), &status, 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        return 0;
    }
    if (exitCode != nullptr) {
        *exitCode = StatusToExitCode(status);
    }
    return 1;
}

}  // extern "C"
