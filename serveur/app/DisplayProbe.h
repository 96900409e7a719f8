// Whether a desktop display can be reached, asked before any window code
// runs (Qt ends the program when its platform cannot connect).
#pragma once

#include <string>

namespace vorlix::app {

// True when QT_QPA_PLATFORM names a platform, or when the Wayland socket
// of WAYLAND_DISPLAY or the X server of DISPLAY accepts a connection. When
// false, `why` says what was missing.
bool DesktopDisplayAvailable(std::string& why);

}  // namespace vorlix::app
