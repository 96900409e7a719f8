#include "serveur/core/PictureNames.h"

namespace vorlix {

std::string PicturePath(const std::string& dir, int number)
{
    return dir + "/vorlix_" + std::to_string(number) + ".jpg";
}

std::string SoundPath(const std::string& dir, int number)
{
    return dir + "/vorlix_" + std::to_string(number) + ".wav";
}

std::string RefreshPicturePath(const std::string& dir)
{
    return dir + "/last.jpg";
}

std::string SavedPicturePath(const std::string& dir, int saveCounter, int maxJpg)
{
    const int number = maxJpg > 0 ? saveCounter % maxJpg : saveCounter;
    return dir + "/vorlix_save_" + std::to_string(number) + ".jpg";
}

int NextPictureNumber(int shots, int maxJpg)
{
    return maxJpg > 0 ? (shots + 1) % maxJpg : 0;
}

}  // namespace vorlix
