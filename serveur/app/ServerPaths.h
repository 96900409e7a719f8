// Where camera n keeps its settings, traces and pictures inside the working
// directory.
#pragma once

#include <string>

namespace vorlix::app {

struct ServerPaths {
    std::string workDir;
    std::string settingsFile;  // Vorlix.ini or Vorlix_n.ini
    std::string traceDir;      // traces or traces_n
    std::string traceBase;     // <traceDir>/Vorlix
    std::string pictureDir;    // files or files_n (the "FilePath" key may replace it)
    std::string traceName;     // "Vorlix" or "Vorlix_n"
};

ServerPaths MakeServerPaths(const std::string& workDir, int camera);

// Creates the trace and picture directories. Camera 0's "files" is created
// too: without it the first detection picture would have nowhere to go.
// Returns false when a directory could not be made.
bool CreateServerDirectories(const ServerPaths& paths);

}  // namespace vorlix::app
