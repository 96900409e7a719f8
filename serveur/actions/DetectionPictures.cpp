#include "serveur/actions/DetectionPictures.h"

#include "serveur/actions/StampedPicture.h"

namespace vorlix {

namespace {
constexpr int kSavedQuality = 90;

bool WritePicture(const FramePicture& picture, const StampRequest* stamp, const std::string& path, int quality,
                  std::string_view comment, int* error)
{
    if (!picture.i420.empty()) {
        return WriteI420Picture(picture.i420, picture.annotated, picture.width, picture.height, stamp, path, quality,
                                comment, error);
    }
    return WriteFramePicture(picture.rgb, picture.annotated, picture.width, picture.height, stamp, path, quality,
                             comment, error);
}
}  // namespace

bool WriteDetectionPicture(const FramePicture& picture, const std::string& path, int stampNumber, int quality,
                           std::string_view comment, const std::tm& local, int* error)
{
    StampRequest stamp;
    stamp.number = stampNumber;
    stamp.local = local;
    return WritePicture(picture, &stamp, path, quality, comment, error);
}

bool WriteRefreshPicture(const FramePicture& picture, const std::string& path, int quality, const std::tm& local,
                         int* error)
{
    StampRequest stamp;
    stamp.number = 0;
    stamp.local = local;
    return WritePicture(picture, &stamp, path, quality, "", error);
}

bool WriteSavedPicture(const FramePicture& picture, const std::string& path, int* error)
{
    return WritePicture(picture, nullptr, path, kSavedQuality, "", error);
}

}  // namespace vorlix
