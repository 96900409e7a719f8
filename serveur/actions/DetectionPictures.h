// The three kinds of picture the server writes from a frame: the numbered
// detection picture of the rotating set, the client refresh picture
// "last.jpg" and the pictures saved on request.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

namespace vorlix {

// The camera's picture state at the moment of writing.
struct PictureJob {
    std::span<const std::uint8_t> frame;  // width x height x 3 bytes
    std::span<std::uint8_t> annotated;    // the camera's annotated image
    int width = 0;
    int height = 0;
    std::string pictureDir;
    int quality = 30;
    int maxJpg = 500;
};

struct DetectionFiles {
    int number = 0;  // slot of the rotating set
    std::string jpeg;
    std::string wav;
    bool written = false;
};

// "%s/vorlix_%d.jpg" and "%s/vorlix_%d.wav".
std::string PicturePath(const std::string& dir, int number);
std::string SoundPath(const std::string& dir, int number);
// (counter + 1) modulo "Max jpg" (0 when the set has no slot).
int NextPictureNumber(int shots, int maxJpg);

// Copy, stamp "Vorlix" with shots + 1, write slot (shots + 1) % "Max jpg"
// with the comment `comment`, then count the shot. A failed write still
// counts: the previous picture of the slot stays in place.
DetectionFiles WriteDetectionPicture(const PictureJob& job, int& shots, std::string_view comment, const std::tm& local);

// "last.jpg", stamped with number 0 and no comment; returns its path.
std::string WriteRefreshPicture(const PictureJob& job, const std::tm& local, bool* written = nullptr);

// "vorlix_save_%d.jpg" with m = save counter modulo "Max jpg", quality 90,
// no stamp, no comment; the save counter then counts. Returns the path.
std::string WriteSavedPicture(const PictureJob& job, int& saveCounter, bool* written = nullptr);

}  // namespace vorlix
