// "save" of the configuration dialog: every page into the settings file in
// one pass, in a fixed order, then the running server takes the new values.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "serveur/app/ConfigTable.h"

namespace vorlix::app {

struct WindowRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// The running server, as a save reaches it.
class SaveTarget {
public:
    virtual ~SaveTarget() = default;
    // The capture device's properties into "Vorlix Format".
    virtual void SaveDeviceProperties() = 0;
    // The zones, "NbSelection", the device and mode in use.
    virtual void SaveZones() = 0;
    // The sounds were saved: the camera's last sound identity is cleared.
    virtual void ForgetLastSound() = 0;
    // Everything just written taken by the camera and its workers: live
    // values, zone thresholds, stream server, FTP, mail and sound by their
    // "management", trace levels, a client refresh and a new reference image.
    virtual void Apply() = 0;
};

struct SaveResult {
    // What could not be saved, in words for the user; empty when all was.
    std::vector<std::string> failures;
    [[nodiscard]] bool Saved() const { return failures.empty(); }
};

// Writes `form` to `settingsFile`; `window` is the main window's screen
// rectangle (none headless); `target` is null when no camera runs.
SaveResult SaveConfiguration(const std::string& settingsFile, const ConfigForm& form,
                             const std::optional<WindowRect>& window, SaveTarget* target);

// "RemoteDir" as saved: with a "/" at its end.
std::string RemoteDirText(const std::string& typed);

}  // namespace vorlix::app
