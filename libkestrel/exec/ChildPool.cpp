#include "libkestrel/exec/ChildPool.h"

#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "libkestrel/exec/Exec.h"

namespace kestrel::exec {

struct ChildPool::State {
    mutable std::mutex lock;
    mutable std::condition_variable ended;
    int running = 0;
};

ChildPool::ChildPool() : state_(std::make_shared<State>()) {}

// The waiter threads hold the state: children outliving the pool are still reaped.
ChildPool::~ChildPool() = default;

ChildPool::Result ChildPool::Start(const std::string& commandLine, int limit)
{
    const std::lock_guard guard(state_->lock);
    if (state_->running >= limit) {
        return Result::kBusy;
    }
    const KestrelProcessHandle child = AsyncExecEx(commandLine.c_str(), 0, 0, 0, 0, nullptr);
    if (child < 0) {
        return Result::kFailed;
    }
    try {
        std::thread([state = state_, pid = static_cast<pid_t>(child)] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            const std::lock_guard done(state->lock);
            --state->running;
            state->ended.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the child is reaped without being counted.
        CloseProcessHandle(child);
        return Result::kStarted;
    }
    ++state_->running;
    return Result::kStarted;
}

int ChildPool::Running() const
{
    const std::lock_guard guard(state_->lock);
    return state_->running;
}

bool ChildPool::WaitIdle(std::chrono::milliseconds limit) const
{
    std::unique_lock guard(state_->lock);
    return state_->ended.wait_for(guard, limit, [this] { return state_->running == 0; });
}

}  // namespace kestrel::exec
