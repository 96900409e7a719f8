#include "serveur/actions/DetectionPictures.h"

#include "serveur/actions/StampedPicture.h"

namespace vorlix {

namespace {
constexpr int kSavedQuality = 90;

bool WritePicture(const FramePicture& picture, const StampRequest* stamp, const std::string& path, int quality,
                  std::string_view comment)
{
    if (!picture.i420.empty()) {
        return WriteI420Picture(picture.i420, picture.annotated, picture.width, picture.height, stamp, path, quality,
                                comment);
    }
    return WriteFramePicture(picture.rgb, picture.annotated, picture.width, picture.height, stamp, path, quality,
                             comment);
}
}  // namespace

bool WriteDetectionPicture(const FramePicture& picture, const std::string& path, int stampNumber, int quality,
                           std::string_view comment, const std::tm& local)
{
    StampRequest stamp;
    stamp.number = stampNumber;
    stamp.local = local;
    return WritePicture(picture, &stamp, path, quality, comment);
}

bool WriteRefreshPicture(const FramePicture& picture, const std::string& path, int quality, const std::tm& local)
{
    StampRequest stamp;
    stamp.number = 0;
    stamp.local = local;
    return WritePicture(picture, &stamp, path, quality, "");
}

bool WriteSavedPicture(const FramePicture& picture, const std::string& path)
{
    return WritePicture(picture, nullptr, path, kSavedQuality, "");
}

}  // namespace vorlix
