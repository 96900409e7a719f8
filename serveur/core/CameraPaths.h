// Working-directory layout of camera n: settings file, trace and picture
// directories, language files.
#pragma once

#include <string>

namespace vorlix {

struct CameraPaths {
    std::string workDir;
    int camera = 0;
    std::string settingsFile;     // Vorlix.ini or Vorlix_<n>.ini
    std::string tracesDir;        // traces or traces_<n>
    std::string traceBase;        // <tracesDir>/Vorlix
    std::string filesDir;         // files or files_<n> (unless "FilePath" is set)
    std::string langMissingFile;  // lang.ini
    std::string LanguageFile(const std::string& lang) const { return workDir + "/" + lang + ".ini"; }
};

// Camera numbers outside 1..4 give camera 0.
CameraPaths MakeCameraPaths(const std::string& workDir, int camera);

// Camera number from a command-line word: a positive number, else 0.
int CameraFromArgument(const char* word);

// Creates traces_<n> and files_<n> for n > 0 (camera 0's "files" is not created),
// and copies index.php from the parent of the picture directory when absent.
void PrepareCameraDirectories(const CameraPaths& paths, const std::string& pictureDir);

}  // namespace vorlix
