// Entering an event in the events list and the history, playing its sound
// and starting the configured application.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>

#include "libkestrel/exec/ChildPool.h"
#include "serveur/actions/ActionSeams.h"
#include "serveur/actions/SoundChoice.h"
#include "serveur/core/Detection.h"

namespace vorlix {

// What an event needs to know of the camera at the moment it fires.
struct EventContext {
    std::string settingsFile;  // the camera's INI file
    std::string pictureDir;
    int shots = 0;
    int maxJpg = 500;
    int noEvents = 30;
    int replaySound = 15;
    bool executeEnabled = false;
    std::string application;
    std::string arguments;
    int maxChildren = 4;  // Execute programs alive at once
    int camera = 0;
    int width = 0;
    int height = 0;
    ZoneCorners zone;  // of the event's zone (single-zone events)
    int centreX = 0;
    int centreY = 0;
};

// The context of an event of `zone` (slot 0 when negative) of `detection`,
// with the shot counter as it stands when the event fires.
EventContext EventContextOf(const Detection& detection, int zone, int shots, bool executeAllowed);

class EventFiring {
public:
    EventFiring() = default;

    void SetEventsWindow(EventsWindow* window) { eventsWindow_.store(window); }
    void SetSoundPlayer(SoundPlayer* player) { soundPlayer_.store(player); }

    // Events list, history, sound and Execute for one event.
    void Fire(const EventContext& context, int zone, EventKind kind, std::uint32_t mask, std::time_t now);

    // A line of the camera's own (not an event) in the events window, when open.
    void AddToEventsWindow(const std::string& line);

    // The history text (the mail sender's mail body), copied under the lock.
    std::string History() const;
    std::time_t LastEventTime() const;

    // The sounds' settings were saved: the next event plays its sound even
    // when it repeats the last one. Any thread; the capture thread applies it
    // at its next event.
    void ForgetLastSound() { forgetSound_.store(true); }

    [[nodiscard]] const SoundState& Sound() const { return sound_; }
    // The Execute programs still running.
    [[nodiscard]] const kestrel::exec::ChildPool& Children() const { return children_; }

private:
    void PlaySound(const EventContext& context, const struct EventNames& names, int zone, std::time_t now,
                   EventsWindow* window);
    void Execute(const EventContext& context, int zone, EventKind kind, const std::string& label, EventsWindow* window);

    std::atomic<EventsWindow*> eventsWindow_{nullptr};
    std::atomic<SoundPlayer*> soundPlayer_{nullptr};
    kestrel::exec::ChildPool children_;
    int skipped_ = 0;   // events whose Execute found every place taken, since the last start
    SoundState sound_;  // capture thread only
    std::atomic<bool> forgetSound_{false};
    mutable std::mutex historyLock_;
    std::string history_;
    std::time_t lastEventTime_ = 0;
};

}  // namespace vorlix
