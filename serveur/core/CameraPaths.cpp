#include "serveur/core/CameraPaths.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace vorlix {

CameraPaths MakeCameraPaths(const std::string& workDir, int camera)
{
    if (camera < 0 || camera > 4) {
        camera = 0;
    }
    CameraPaths p;
    p.workDir = workDir;
    p.camera = camera;
    const std::string n = std::to_string(camera);
    p.settingsFile = camera == 0 ? workDir + "/Vorlix.ini" : workDir + "/Vorlix_" + n + ".ini";
    p.tracesDir = camera == 0 ? workDir + "/traces" : workDir + "/traces_" + n;
    p.traceBase = p.tracesDir + "/Vorlix";
    p.filesDir = camera == 0 ? workDir + "/files" : workDir + "/files_" + n;
    p.langMissingFile = workDir + "/lang.ini";
    return p;
}

int CameraFromArgument(const char* word)
{
    if (word == nullptr) {
        return 0;
    }
    const int n = static_cast<int>(std::strtol(word, nullptr, 10));
    return n > 0 ? n : 0;
}

void PrepareCameraDirectories(const CameraPaths& paths, const std::string& pictureDir)
{
    if (paths.camera > 0) {
        ::mkdir(paths.tracesDir.c_str(), 0755);
        ::mkdir(paths.filesDir.c_str(), 0755);
    }
    // A failed copy is of no consequence: the page is only a convenience.
    std::error_code ec;
    std::filesystem::copy_file(pictureDir + "/../index.php", pictureDir + "/index.php",
                               std::filesystem::copy_options::skip_existing, ec);
}

}  // namespace vorlix
