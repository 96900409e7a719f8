// The "Evenements list" window as the camera's events feed sees it (attached
// there while the list is open): lines wait here until the window's thread
// takes them. Lines come only while the list is
// open and not stopped; a line that races with "Stop" is dropped here, not
// shown after "Stopped". The wait is bounded: past `maxPending` lines the
// oldest are dropped and counted.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "serveur/actions/ActionSeams.h"

namespace vorlix::app {

class EventsQueue : public EventsWindow {
public:
    explicit EventsQueue(std::size_t maxPending = 2000) : maxPending_(maxPending) {}

    // Called (on any thread) when lines wait and none were announced.
    void SetNotify(std::function<void()> notify);
    // Lines are taken from now on (true) or dropped (false).
    void SetAccepting(bool accepting);
    bool Accepting() const;

    void AddEntry(const std::string& line) override;

    struct Batch {
        std::vector<std::string> lines;
        std::size_t dropped = 0;  // lines lost to the bound since the last batch
    };
    // On the window's thread.
    Batch Take();

private:
    const std::size_t maxPending_;
    mutable std::mutex lock_;
    std::function<void()> notify_;
    std::deque<std::string> pending_;
    std::size_t dropped_ = 0;
    bool accepting_ = false;
    bool announced_ = false;
};

}  // namespace vorlix::app
