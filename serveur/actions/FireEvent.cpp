#include "serveur/actions/FireEvent.h"

#include "libkestrel/exec/Exec.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/actions/EventNames.h"
#include "serveur/actions/ExecuteLine.h"
#include "serveur/actions/History.h"
#include "serveur/core/SettingsSections.h"

namespace vorlix {

namespace {
using section::kMain;
using section::kSound;
constexpr const char* kToDefine = "todefine";

int PictureNumber(const EventContext& context)
{
    return context.maxJpg > 0 ? context.shots % context.maxJpg : 0;
}
}  // namespace

EventContext EventContextOf(const Detection& detection, int zone, int shots, bool executeAllowed)
{
    static const CameraSettings kDefaults;
    const CameraSettings& s = detection.camera.settings != nullptr ? *detection.camera.settings : kDefaults;
    EventContext context;
    context.settingsFile = detection.camera.settingsFile;
    context.pictureDir = detection.camera.pictureDir;
    context.shots = shots;
    context.maxJpg = s.maxJpg;
    context.noEvents = s.noEvents;
    context.replaySound = s.replaySound;
    context.executeEnabled = executeAllowed && s.execute.management != 0;
    context.application = s.execute.application;
    context.arguments = s.execute.arguments;
    context.maxChildren = s.execute.maxChildren;
    context.camera = detection.camera.camera;
    context.width = detection.width;
    context.height = detection.height;
    const ZoneReading& reading = detection.Zone(zone < 0 ? 0 : zone);
    context.zone = reading.zone;
    context.centreX = reading.centreX;
    context.centreY = reading.centreY;
    return context;
}

void EventFiring::Fire(const EventContext& context, int zone, EventKind kind, std::uint32_t mask, std::time_t now)
{
    const EventNames names = NameEvent(zone, kind, mask);
    if (names.direction) {
        TRACE_INFO("%s", DirectionTag(zone, kind).c_str());
    }

    // read once: the main thread may close the window at any time
    EventsWindow* const window = eventsWindow_.load();
    if (window != nullptr) {
        std::tm local{};
        localtime_r(&now, &local);
        const std::string entry = EventEntry(local, PictureNumber(context), names.label);
        {
            const std::lock_guard lock(historyLock_);
            AddToHistory(history_, lastEventTime_, now, context.noEvents, entry);
        }
        window->AddEntry(entry);
    }

    if (forgetSound_.exchange(false)) {
        // No identity at all: 0 would still match zone 1's own sound.
        sound_.lastSound = -1;
    }
    if (!SoundRecentlyPlayed(sound_, names.sound, now, context.replaySound)) {
        PlaySound(context, names, zone, now, window);
    }

    if (context.executeEnabled && !context.application.empty()) {
        Execute(context, zone, kind, names.label, window);
    }
}

void EventFiring::Execute(const EventContext& context, int zone, EventKind kind, const std::string& label,
                          EventsWindow* window)
{
    const bool single = IsSingleZoneEvent(kind);
    ExecuteValues values;
    values.picture = context.pictureDir + "/vorlix_" + std::to_string(PictureNumber(context)) + ".jpg";
    if (single) {
        values.zone = zone + 1;
        values.centreX = context.centreX;
        values.centreY = context.centreY;
        values.x = context.zone.x0;
        values.y = context.zone.y0;
        values.w = context.zone.x1 - context.zone.x0;
        values.h = context.zone.y1 - context.zone.y0;
    }
    values.width = context.width;
    values.height = context.height;
    values.camera = context.camera;
    values.kind = static_cast<int>(kind);
    values.label = label;
    const std::string line = ExecuteCommandLine(context.application, context.arguments, values);
    // Events come faster than slow programs end: beyond "max children" alive
    // an event starts nothing, so they never pile up.
    const kestrel::exec::ChildPool::Result result = children_.Start(line, context.maxChildren);
    if (result == kestrel::exec::ChildPool::Result::kBusy) {
        if (skipped_++ == 0) {
            TRACE_WARN("Execute skipped: %d programs still running (\"max children\"): %s", context.maxChildren,
                       line.c_str());
        } else {
            TRACE_TRACE("Execute skipped (%d since the last start): %s", skipped_, line.c_str());
        }
        if (window != nullptr) {
            window->AddEntry("      Execute skipped (" + std::to_string(context.maxChildren) + " running)");
        }
        return;
    }
    if (skipped_ > 0) {
        TRACE_INFO("Execute starts again after %d skipped event(s)", skipped_);
        skipped_ = 0;
    }
    TRACE_TRACE("Execute %s", line.c_str());
    if (window != nullptr) {
        window->AddEntry("      Execute=" + line);
    }
}

void EventFiring::PlaySound(const EventContext& context, const EventNames& names, int zone, std::time_t now,
                            EventsWindow* window)
{
    namespace profile = kestrel::profile;
    const std::string& file = context.settingsFile;
    std::string sound = profile::GetString(file, kSound, names.label, "", 255);
    if (sound.empty() && names.oldKey.has_value()) {
        // a sound of an earlier version, moved to its new place once
        const std::string old = profile::GetString(file, kMain, *names.oldKey, "", 255);
        if (!old.empty()) {
            profile::WriteString(file, kSound, names.label, old);
            profile::DeleteKey(file, kMain, *names.oldKey);
            sound = old;
        }
    }
    if (sound.empty()) {
        TRACE_WARN("Sound to define (%s)", names.label.c_str());
        profile::WriteString(file, kSound, names.label, kToDefine);
        return;
    }
    if (sound == kToDefine) {
        TRACE_WARN("Sound not define (%s)", names.label.c_str());
        return;
    }
    if (!ClaimSound(sound_, names.sound, zone, names.direction, now, context.replaySound)) {
        return;
    }
    if (SoundPlayer* player = soundPlayer_.load(); player != nullptr) {
        player->PlayWavFile(sound);
    }
    if (window != nullptr) {
        window->AddEntry("      PlaySound=" + sound);
    }
    TRACE_INFO("PlaySound=%s", sound.c_str());
}

void EventFiring::AddToEventsWindow(const std::string& line)
{
    if (EventsWindow* const window = eventsWindow_.load(); window != nullptr) {
        window->AddEntry(line);
    }
}

std::string EventFiring::History() const
{
    const std::lock_guard lock(historyLock_);
    return history_;
}

std::time_t EventFiring::LastEventTime() const
{
    const std::lock_guard lock(historyLock_);
    return lastEventTime_;
}

}  // namespace vorlix
