// The names of the pictures the server writes: the numbered detection
// pictures of the rotating set with their sounds, the client refresh picture
// and the pictures saved on request. The engine decides them; the writers
// and the stream server's history read them.
#pragma once

#include <string>

namespace vorlix {

// "%s/vorlix_%d.jpg" and "%s/vorlix_%d.wav".
std::string PicturePath(const std::string& dir, int number);
std::string SoundPath(const std::string& dir, int number);
// "%s/last.jpg".
std::string RefreshPicturePath(const std::string& dir);
// "%s/vorlix_save_%d.jpg" with the save counter modulo "Max jpg".
std::string SavedPicturePath(const std::string& dir, int saveCounter, int maxJpg);
// (counter + 1) modulo "Max jpg" (0 when the set has no slot).
int NextPictureNumber(int shots, int maxJpg);

}  // namespace vorlix
