// The mail sender's worker: a thread of its own that counts the camera's
// detections in periods of one check, mails the pictures of an active period
// (at most one mail per "Time before another mail") and mails "last.jpg" after
// "Polling" seconds of quiet. It learns of the camera only what it is told:
// the picture ring, the shot counter with each detection, and the history text
// through a source that hands out a copy.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "serveur/actions/ActionSeams.h"
#include "serveur/mail/MailSettings.h"
#include "serveur/mail/SendMail.h"

namespace vorlix {

// The waits of the worker; tests shorten them.
struct MailTimings {
    std::chrono::milliseconds replyWait{10000};    // a server's reply, a connection, a send
    std::chrono::milliseconds passDelay{10000};    // before each mail, so the burst's pictures are written
    std::chrono::milliseconds checkPeriod{30000};  // one check period
};

class MailWorker {
public:
    // The history text of the recent events, copied (called on the mail thread).
    using HistorySource = std::function<std::string()>;

    explicit MailWorker(std::string settingsFile, MailTimings timings = {});
    // Stops the thread (joined within a second).
    ~MailWorker();
    MailWorker(const MailWorker&) = delete;
    MailWorker& operator=(const MailWorker&) = delete;

    // Where the events-window lines go; null: nowhere (they are traced too).
    void SetEventsWindow(EventsWindow* window) { eventsWindow_.store(window); }
    void SetHistorySource(HistorySource source);
    // The picture directory and "Max jpg" of the camera.
    void SetPictureStore(std::string directory, int maxJpg);

    // Does nothing unless "management" is set. Reloads the settings; starts
    // the thread when none runs, with `shots` (the shot counter now) as the
    // first picture of the next event mail. True when a thread runs.
    bool StartMailThread(int shots);
    // Ends the thread and the mail in progress; joined within a second.
    void StopMailThread();
    // One detection: its picture is written and the shot counter is now `shots`.
    void NotifyMailEvent(int shots);

    [[nodiscard]] bool Running() const { return running_.load(); }
    [[nodiscard]] MailSettings Settings() const;
    [[nodiscard]] int FirstPictureNumber() const { return firstPicture_.load(); }
    [[nodiscard]] int EventCount() const { return eventCount_.load(); }

private:
    struct Pictures {
        std::string directory;
        int maxJpg = 500;
    };

    void MailThread();
    void SendMailPass(bool periodic);
    void AttachPictures(SendMail& mail, bool periodic, const MailSettings& settings, const Pictures& pictures);
    // Sleeps `period` unless a stop comes first; false when it did.
    bool Sleep(std::chrono::milliseconds period);
    void AddEvent(const std::string& line);

    const std::string settingsFile_;
    const MailTimings timings_;
    std::atomic<EventsWindow*> eventsWindow_{nullptr};

    mutable std::mutex lock_;  // settings_, pictures_, history_
    MailSettings settings_;
    Pictures pictures_;
    HistorySource history_;

    std::atomic<int> eventCount_{0};    // detections since the last check
    std::atomic<int> firstPicture_{0};  // first picture of the next event mail
    std::atomic<int> shots_{0};         // the camera's shot counter
    std::time_t lastActiveCheck_ = 0;   // mail thread only

    std::mutex controlLock_;  // start and stop
    std::thread thread_;
    std::atomic<bool> running_{false};
    MailStop stop_;
    std::mutex sleepLock_;
    std::condition_variable wake_;
};

}  // namespace vorlix
