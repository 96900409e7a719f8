#include "serveur/audio/AudioNames.h"

namespace vorlix::audio {

int PictureNumber(int shots, int maxJpg)
{
    if (maxJpg <= 0) {
        return 0;
    }
    const int number = shots % maxJpg;
    return number < 0 ? number + maxJpg : number;
}

std::string RecordingName(int number)
{
    return "vorlix_" + std::to_string(number) + ".wav";
}

std::string RecordingPath(const std::string& pictureDir, int number)
{
    return pictureDir + "/" + RecordingName(number);
}

std::string RecorderLineText(RecorderLine line, int number)
{
    const char* head = "";
    switch (line) {
        case RecorderLine::kStart:
            head = "      Start Recorder=";
            break;
        case RecorderLine::kStop:
            head = "      Stop Recorder=";
            break;
        case RecorderLine::kForcedStop:
            head = "      Stop Recorder(force)=";
            break;
        case RecorderLine::kAbort:
            head = "      Abort Recorder=";
            break;
        case RecorderLine::kMaxTime:
            head = "      Max Recorder=";
            break;
    }
    return head + RecordingName(number);
}

std::string SoundPath(const std::string& workDir, const std::string& name)
{
    const bool relative = name.size() > 1 && name[1] != ':' && name[0] != '/';
    if (!relative) {
        return name;
    }
    return (workDir.empty() ? std::string() : workDir + "/") + "wav/" + name;
}

}  // namespace vorlix::audio
