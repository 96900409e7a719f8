// The menu command that opens the settings file in an editor.
#pragma once

#include <string>

namespace vorlix {

// Starts "editor settingsFile". When the configured editor cannot be
// started, tries $VISUAL, then $EDITOR, then xdg-open, tracing which one
// opened the file. Returns the editor used, empty when none could start.
std::string OpenSettingsEditor(const std::string& editor, const std::string& settingsFile);

}  // namespace vorlix
