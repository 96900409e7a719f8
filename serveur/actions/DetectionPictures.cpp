#include "serveur/actions/DetectionPictures.h"

#include "serveur/actions/StampedPicture.h"

namespace vorlix {

std::string PicturePath(const std::string& dir, int number)
{
    return dir + "/vorlix_" + std::to_string(number) + ".jpg";
}

std::string SoundPath(const std::string& dir, int number)
{
    return dir + "/vorlix_" + std::to_string(number) + ".wav";
}

int NextPictureNumber(int shots, int maxJpg)
{
    return maxJpg > 0 ? (shots + 1) % maxJpg : 0;
}

DetectionFiles WriteDetectionPicture(const PictureJob& job, int& shots, std::string_view comment, const std::tm& local)
{
    DetectionFiles files;
    files.number = NextPictureNumber(shots, job.maxJpg);
    files.jpeg = PicturePath(job.pictureDir, files.number);
    files.wav = SoundPath(job.pictureDir, files.number);
    StampRequest stamp;
    stamp.number = shots + 1;
    stamp.local = local;
    files.written =
        WriteFramePicture(job.frame, job.annotated, job.width, job.height, &stamp, files.jpeg, job.quality, comment);
    ++shots;
    return files;
}

std::string WriteRefreshPicture(const PictureJob& job, const std::tm& local, bool* written)
{
    const std::string path = job.pictureDir + "/last.jpg";
    StampRequest stamp;
    stamp.number = 0;
    stamp.local = local;
    const bool done = WriteFramePicture(job.frame, job.annotated, job.width, job.height, &stamp, path, job.quality, "");
    if (written != nullptr) {
        *written = done;
    }
    return path;
}

std::string WriteSavedPicture(const PictureJob& job, int& saveCounter, bool* written)
{
    const int number = job.maxJpg > 0 ? saveCounter % job.maxJpg : saveCounter;
    const std::string path = job.pictureDir + "/vorlix_save_" + std::to_string(number) + ".jpg";
    const bool done = WriteFramePicture(job.frame, job.annotated, job.width, job.height, nullptr, path, 90, "");
    ++saveCounter;
    if (written != nullptr) {
        *written = done;
    }
    return path;
}

}  // namespace vorlix
