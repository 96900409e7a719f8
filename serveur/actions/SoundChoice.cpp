#include "serveur/actions/SoundChoice.h"

namespace vorlix {

bool SoundRecentlyPlayed(const SoundState& state, int sound, std::time_t now, int replaySeconds)
{
    return sound == state.lastSound && now - state.lastSoundTime <= replaySeconds;
}

bool ClaimSound(SoundState& state, int sound, int zone, bool direction, std::time_t now, int replaySeconds)
{
    if (direction) {
        if (now - state.lastSoundTime > replaySeconds) {
            state.lastDirection = 0;
        }
        if (state.lastDirection == sound) {
            return false;
        }
        // the zone itself, so that the zone's own sound stays quiet for a while
        state.lastSound = zone;
        state.lastDirection = sound;
        state.lastSoundTime = now;
        return true;
    }
    state.lastSound = sound;
    state.lastSoundTime = now;
    return true;
}

}  // namespace vorlix
