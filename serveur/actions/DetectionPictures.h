// The three kinds of picture the server writes from a frame: the numbered
// detection picture of the rotating set, the client refresh picture
// "last.jpg" and the pictures saved on request. Their names and numbers come
// from the engine (core/PictureNames.h); these write them.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "serveur/core/Detection.h"

namespace vorlix {

// Copy into the annotated image, stamp "Vorlix" with `stampNumber` (the shot
// counter + 1), write `path` with the comment `comment`.
bool WriteDetectionPicture(const FramePicture& picture, const std::string& path, int stampNumber, int quality,
                           std::string_view comment, const std::tm& local, int* error = nullptr);

// Each returns false when the picture was not written, the reason in `*error`.

// "last.jpg", stamped with number 0 and no comment.
bool WriteRefreshPicture(const FramePicture& picture, const std::string& path, int quality, const std::tm& local,
                         int* error = nullptr);

// A saved picture: quality 90, no stamp, no comment.
bool WriteSavedPicture(const FramePicture& picture, const std::string& path, int* error = nullptr);

}  // namespace vorlix
