// What the program frame asks of a main window, when there is one: the
// headless program has none. Every call comes on the main thread.
#pragma once

#include <cstdint>

#include "serveur/app/TrayText.h"

namespace vorlix::app {

inline constexpr std::uint32_t kActivityGrey = 0xC8C8C8;
inline constexpr int kActivityStoppedPosition = 5000;

class WindowPort {
public:
    virtual ~WindowPort() = default;
    // Some menu items were enabled or disabled (ServerApp::MenuEnabled).
    virtual void MenuStatesChanged() = 0;
    // The tray's tip text or icon changed.
    virtual void TrayChanged(const TrayStatus& status) = 0;
    // The activity bar's position and colour (0xBBGGRR), set by a command.
    virtual void SetActivity(int position, std::uint32_t colour) = 0;
    // The saved window rectangle, applied when the device is opened.
    virtual void PlaceWindow(int left, int top, int right, int bottom) = 0;
};

}  // namespace vorlix::app
