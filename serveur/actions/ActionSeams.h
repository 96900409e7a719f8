// The outside parts the event actions talk to. Each is optional: until the
// room that implements it is plugged in, the call does nothing.
#pragma once

#include <string>

namespace vorlix {

// The "Evenements list" window, while it is open and not stopped.
class EventsWindow {
public:
    virtual ~EventsWindow() = default;
    // Adds a line at the end of the list and selects it.
    virtual void AddEntry(const std::string& line) = 0;
};

// Plays a zone sound by name (a name whose second character is not ":" is
// relative to the "wav" folder of the working directory).
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual bool PlayWavFile(const std::string& name) = 0;
};

}  // namespace vorlix
