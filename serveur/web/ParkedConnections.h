// Connections the web server's one polling thread has put aside (suspended)
// while they wait: a live viewer for a newer picture, a snapshot for a fresh
// one, a wrong password for its delay. Each comes back when its picture is
// made (on the compressing thread), when its moment comes (on a timer thread
// of its own) or when the server stops, whichever is first; so nothing ever
// sleeps on the polling thread and no thread wakes for a viewer that has
// nothing to send.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "serveur/web/LiveFrames.h"

struct MHD_Connection;

namespace vorlix::web {

class ParkedConnections {
public:
    using Clock = std::chrono::steady_clock;
    enum class Outcome {
        kParked,  // suspended: return from the callback and wait to be called again
        kReady,   // what it waits for is there already: go on now
        kClosed,  // the server stops: answer or end now
    };

    explicit ParkedConnections(LiveFrames& frames) : frames_(frames) {}
    ~ParkedConnections();
    ParkedConnections(const ParkedConnections&) = delete;
    ParkedConnections& operator=(const ParkedConnections&) = delete;

    // Takes connections until Close; hears of each new picture.
    void Open();
    // Polling thread, inside a callback of `connection` (the one place the
    // library lets it be suspended): suspends it until a picture newer than
    // `newerThan` is made (when given), or until `until`.
    Outcome Park(MHD_Connection* connection, std::optional<std::uint64_t> newerThan, Clock::time_point until);
    // Resumes every parked connection and parks none from now on; the
    // library must not stop with a connection suspended.
    void Close();

    [[nodiscard]] std::size_t Count() const;

private:
    struct Entry {
        MHD_Connection* connection = nullptr;
        std::optional<std::uint64_t> newerThan;
        Clock::time_point until;
    };
    void PictureMade(std::uint64_t sequence);
    void RunTimer();

    LiveFrames& frames_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Entry> entries_;
    bool open_ = false;
    Clock::time_point timerAt_ = Clock::time_point::max();  // what the timer thread waits for
    std::thread timer_;
};

}  // namespace vorlix::web
