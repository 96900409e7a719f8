// The main window's menu commands: their numbers, their menu texts (before
// translation) and the names they are traced with at level 104.
#pragma once

#include <span>

namespace vorlix::app {

enum MenuCommand : int {
    kCmdOpen = 32782,
    kCmdClose = 32781,
    kCmdSaveImage = 32771,
    kCmdConfiguration = 32799,
    kCmdEditConfiguration = 32804,
    kCmdExit = 105,
    kCmdTrayExit = 32789,
    kCmdTrayDisplay = 32788,
    kCmdStop = 32773,
    kCmdStart = 32774,
    kCmdZones = 32775,
    kCmdHistory = 32790,
    kCmdEvents = 32806,
    kCmdReference = 32801,
    kCmdAbout = 104,
};

// The identifier of the tray icon, of its menu and of the window's tray notification.
inline constexpr unsigned kTrayIconId = 107;
inline constexpr unsigned kTrayMessage = 1024;  // WM_USER

struct MenuCommandInfo {
    int id;
    const char* text;       // empty for the tray menu's commands
    const char* traceName;  // as traced at level 104
};

std::span<const MenuCommandInfo> MenuCommands();
// Null for a number that is no command of the menus.
const MenuCommandInfo* FindMenuCommand(int id);

// Titles of the three top-level menus and the tray menu's texts.
inline constexpr const char* kMenuLinkDevice = "&Link device";
inline constexpr const char* kMenuDetection = "&Detection";
inline constexpr const char* kMenuHelp = "&Help";
inline constexpr const char* kTrayDisplayText = "Display";
inline constexpr const char* kTrayExitText = "Exit";

}  // namespace vorlix::app
