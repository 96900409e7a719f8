// The file names and the events-window lines of the audio part, built apart
// from any file or device so they can be checked on their own.
#pragma once

#include <string>

namespace vorlix::audio {

// The picture number of a shot count: the count modulo "Max jpg", in
// 0 .. maxJpg - 1 (0 when "Max jpg" is not positive).
int PictureNumber(int shots, int maxJpg);

// "vorlix_<n>.wav", and the same in the picture directory.
std::string RecordingName(int number);
std::string RecordingPath(const std::string& pictureDir, int number);

// The events-window lines of the recorder, each naming the recording's file.
enum class RecorderLine {
    kStart,       // "      Start Recorder=vorlix_%d.wav"
    kStop,        // "      Stop Recorder=vorlix_%d.wav"
    kForcedStop,  // "      Stop Recorder(force)=vorlix_%d.wav"
    kAbort,       // "      Abort Recorder=vorlix_%d.wav"
    kMaxTime,     // "      Max Recorder=vorlix_%d.wav"
};
std::string RecorderLineText(RecorderLine line, int number);

// Where a zone sound named in the settings is read from: a name of more than
// one character that is not absolute (no leading "/", no drive letter before
// ":") lies in the "wav" folder of the working directory; any other name is
// used unchanged.
std::string SoundPath(const std::string& workDir, const std::string& name);

}  // namespace vorlix::audio
