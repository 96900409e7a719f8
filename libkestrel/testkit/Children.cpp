#include "libkestrel/testkit/Children.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/testkit/TestKit.h"

namespace kestrel::test {

int FreeLoopbackPort()
{
    const UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (!fd || ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

pid_t StartChild(const std::vector<std::string>& argv, const ChildFiles& files, bool searchPath)
{
    if (argv.empty()) {
        return -1;
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const auto path = [](const std::string& p) { return p.empty() ? "/dev/null" : p.c_str(); };
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, path(files.out), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (files.errToOut) {
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, path(files.err),
                                         O_WRONLY | O_CREAT | (files.appendErr ? O_APPEND : O_TRUNC), 0600);
    }
    pid_t pid = -1;
    const int failed = searchPath ? ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ)
                                  : ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

int ReapChild(pid_t pid, std::chrono::milliseconds limit)
{
    if (pid <= 0) {
        return -1;
    }
    int status = 0;
    if (!WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, limit, 5ms)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void EndChild(pid_t pid, std::chrono::milliseconds grace)
{
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    ReapChild(pid, grace);
}

int RunChild(const std::vector<std::string>& argv, const ChildFiles& files, std::chrono::milliseconds limit,
             bool searchPath)
{
    return ReapChild(StartChild(argv, files, searchPath), limit);
}

}  // namespace kestrel::test
