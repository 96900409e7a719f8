#include "serveur/web/ParkedConnections.h"

#include <microhttpd.h>

#include <algorithm>

namespace vorlix::web {

namespace {

// The timer thread looks again at least this often, whatever it waits for.
constexpr std::chrono::seconds kTimerLimit{1};

}  // namespace

ParkedConnections::~ParkedConnections()
{
    Close();
}

void ParkedConnections::Open()
{
    Close();
    {
        const std::lock_guard lock(mutex_);
        open_ = true;
        timerAt_ = Clock::time_point::max();
    }
    frames_.SetPictureListener([this](std::uint64_t sequence) { PictureMade(sequence); });
    timer_ = std::thread([this] { RunTimer(); });
}

void ParkedConnections::Close()
{
    // No picture calls in flight once the listener is gone.
    frames_.SetPictureListener(nullptr);
    {
        const std::lock_guard lock(mutex_);
        open_ = false;
        for (const Entry& entry : entries_) {
            MHD_resume_connection(entry.connection);
        }
        entries_.clear();
    }
    changed_.notify_all();
    if (timer_.joinable()) {
        timer_.join();
    }
}

ParkedConnections::Outcome ParkedConnections::Park(MHD_Connection* connection, std::optional<std::uint64_t> newerThan,
                                                   Clock::time_point until)
{
    const std::lock_guard lock(mutex_);
    if (!open_) {
        return Outcome::kClosed;
    }
    // Checked under the lock that PictureMade takes: a picture made now is
    // either seen here or resumes the connection parked here.
    if ((newerThan && frames_.NewestSequence() > *newerThan) || Clock::now() >= until) {
        return Outcome::kReady;
    }
    MHD_suspend_connection(connection);
    entries_.push_back({connection, newerThan, until});
    if (until < timerAt_) {
        timerAt_ = until;
        changed_.notify_one();
    }
    return Outcome::kParked;
}

std::size_t ParkedConnections::Count() const
{
    const std::lock_guard lock(mutex_);
    return entries_.size();
}

void ParkedConnections::PictureMade(std::uint64_t sequence)
{
    const std::lock_guard lock(mutex_);
    std::erase_if(entries_, [&](const Entry& entry) {
        if (!entry.newerThan || *entry.newerThan >= sequence) {
            return false;
        }
        MHD_resume_connection(entry.connection);
        return true;
    });
}

void ParkedConnections::RunTimer()
{
    std::unique_lock lock(mutex_);
    while (open_) {
        const Clock::time_point now = Clock::now();
        Clock::time_point next = now + kTimerLimit;
        std::erase_if(entries_, [&](const Entry& entry) {
            if (entry.until > now) {
                next = std::min(next, entry.until);
                return false;
            }
            MHD_resume_connection(entry.connection);
            return true;
        });
        timerAt_ = next;
        changed_.wait_until(lock, next);
    }
}

}  // namespace vorlix::web
