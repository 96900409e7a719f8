#include "serveur/app/EventsQueue.h"

#include <utility>

namespace vorlix::app {

void EventsQueue::SetNotify(std::function<void()> notify)
{
    const std::lock_guard<std::mutex> guard(lock_);
    notify_ = std::move(notify);
}

void EventsQueue::SetAccepting(bool accepting)
{
    const std::lock_guard<std::mutex> guard(lock_);
    accepting_ = accepting;
}

bool EventsQueue::Accepting() const
{
    const std::lock_guard<std::mutex> guard(lock_);
    return accepting_;
}

void EventsQueue::AddEntry(const std::string& line)
{
    std::function<void()> notify;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (!accepting_) {
            return;
        }
        if (maxPending_ == 0) {
            ++dropped_;
            return;
        }
        while (pending_.size() >= maxPending_) {
            pending_.pop_front();
            ++dropped_;
        }
        pending_.push_back(line);
        if (!announced_) {
            announced_ = true;
            notify = notify_;
        }
    }
    if (notify) {
        notify();
    }
}

EventsQueue::Batch EventsQueue::Take()
{
    const std::lock_guard<std::mutex> guard(lock_);
    Batch batch;
    batch.lines.assign(std::make_move_iterator(pending_.begin()), std::make_move_iterator(pending_.end()));
    pending_.clear();
    batch.dropped = std::exchange(dropped_, 0);
    announced_ = false;
    return batch;
}

}  // namespace vorlix::app
