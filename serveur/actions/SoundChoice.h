// The replay rule of event sounds: the same sound does not play again
// within "Replay Sound" seconds, and one direction event of a zone silences
// the zone's other sounds for that time.
#pragma once

#include <ctime>

namespace vorlix {

struct SoundState {
    int lastSound = 0;
    int lastDirection = 0;
    std::time_t lastSoundTime = 0;
};

// True when the event's sound is skipped before its name is even looked up.
bool SoundRecentlyPlayed(const SoundState& state, int sound, std::time_t now, int replaySeconds);

// For an event whose sound name is set: whether it plays, updating the state.
bool ClaimSound(SoundState& state, int sound, int zone, bool direction, std::time_t now, int replaySeconds);

}  // namespace vorlix
