#include "serveur/app/ServerPaths.h"

#include <filesystem>
#include <system_error>

namespace vorlix::app {

ServerPaths MakeServerPaths(const std::string& workDir, int camera)
{
    ServerPaths p;
    p.workDir = workDir;
    if (camera > 0) {
        const std::string n = std::to_string(camera);
        p.settingsFile = workDir + "/Vorlix_" + n + ".ini";
        p.traceDir = workDir + "/traces_" + n;
        p.pictureDir = workDir + "/files_" + n;
        p.traceName = "Vorlix_" + n;
    } else {
        p.settingsFile = workDir + "/Vorlix.ini";
        p.traceDir = workDir + "/traces";
        p.pictureDir = workDir + "/files";
        p.traceName = "Vorlix";
    }
    p.traceBase = p.traceDir + "/Vorlix";
    return p;
}

bool CreateServerDirectories(const ServerPaths& paths)
{
    bool ok = true;
    for (const std::string& dir : {paths.traceDir, paths.pictureDir}) {
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (ec) {
            ok = false;
        }
    }
    return ok;
}

}  // namespace vorlix::app
