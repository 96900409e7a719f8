// The viewer's menu: command numbers and their texts (English; shown
// through the language files).
#pragma once

#include <array>

namespace vorlix::client {

enum Command : int {
    kCmdAbout = 104,
    kCmdExit = 105,
    kCmdReverseColor = 32779,
    kCmdBlackAndWhite = 32781,
    kCmdHorizontalMirror = 32782,
    kCmdOriginalSize = 32784,
    kCmdFormat640 = 32785,
    kCmdFormat320 = 32786,
    kCmdFormat160 = 32787,
    kCmdVerticalMirror = 32788,
    kCmdBiColor = 32789,
    kCmdAddColor = 32790,
    kCmdClose = 32791,
    kCmdOpen = 32792,
    kCmdSaveImage = 32793,
    kCmdSaveContext = 32794,
    kCmdHistory = 32798,
};

struct MenuEntry {
    int command;
    const char* text;
};

// Menu bar texts.
inline constexpr const char* kMenuConnection = "&Connection";
inline constexpr const char* kMenuDisplay = "&Display";
inline constexpr const char* kMenuFormat = "&Format";
inline constexpr const char* kMenuEffects = "&Effects";
inline constexpr const char* kMenuHelp = "&Help";

inline constexpr std::array kConnectionMenu = {
    MenuEntry{kCmdOpen, "&Open"},
    MenuEntry{kCmdClose, "&Close"},
    MenuEntry{kCmdSaveContext, "Save current context"},
    MenuEntry{kCmdSaveImage, "&Save image"},
    MenuEntry{kCmdExit, "&Exit"},
};
inline constexpr std::array kFormatMenu = {
    MenuEntry{kCmdOriginalSize, "&Original size"},
    MenuEntry{kCmdFormat640, "640x480"},
    MenuEntry{kCmdFormat320, "320x240"},
    MenuEntry{kCmdFormat160, "160x120"},
};
inline constexpr std::array kEffectsMenu = {
    MenuEntry{kCmdReverseColor, "reverse color"},
    MenuEntry{kCmdBlackAndWhite, "black and white"},
    MenuEntry{kCmdHorizontalMirror, "horizontal mirror"},
    MenuEntry{kCmdVerticalMirror, "vertical mirror"},
    MenuEntry{kCmdBiColor, "bi-color"},
    MenuEntry{kCmdAddColor, "add color..."},
};
inline constexpr MenuEntry kHistoryEntry{kCmdHistory, "History"};
inline constexpr MenuEntry kAboutEntry{kCmdAbout, "about..."};

// The client size a format command asks for; 0 x 0 for other commands.
struct FormatSize {
    int width;
    int height;
};
constexpr FormatSize FormatOf(int command)
{
    switch (command) {
        case kCmdFormat640:
            return {640, 480};
        case kCmdFormat320:
            return {320, 240};
        case kCmdFormat160:
            return {160, 120};
        default:
            return {0, 0};
    }
}

}  // namespace vorlix::client
