// Programs started for events, at most a given number alive at once. Each
// child is waited for by a small thread of its own as soon as it starts, so
// it is reaped the moment it ends and its place is free again; nothing here
// blocks the caller. A pool may be destroyed while children run: they are
// still reaped.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace kestrel::exec {

class ChildPool {
public:
    enum class Result { kStarted, kBusy, kFailed };

    ChildPool();
    ~ChildPool();
    ChildPool(const ChildPool&) = delete;
    ChildPool& operator=(const ChildPool&) = delete;

    // Starts `commandLine` (split as AsyncExec splits it, no shell) unless
    // `limit` children of this pool are alive (kBusy) or it cannot start
    // (kFailed, traced by AsyncExecEx).
    Result Start(const std::string& commandLine, int limit);

    // Children of this pool not yet ended.
    [[nodiscard]] int Running() const;
    // Waits until none runs, at most `limit`; whether none runs.
    bool WaitIdle(std::chrono::milliseconds limit) const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace kestrel::exec
