#include "serveur/app/MenuCommands.h"

#include <array>

namespace vorlix::app {

namespace {

constexpr std::array<MenuCommandInfo, 15> kCommands = {{
    {kCmdOpen, "&Open", "ID_FICHIER_OPEN"},
    {kCmdClose, "&Close", "ID_FICHIER_CLOSE"},
    {kCmdSaveImage, "&Save image", "ID_FICHIER_SAVEIMAGE"},
    {kCmdConfiguration, "Con&figuration...", "ID_FICHIER_CONFIGURATION"},
    {kCmdEditConfiguration, "E&dition Configuration...", "ID_FICHIER_EDITIONCONFIGURATION"},
    {kCmdExit, "&Exit", "ID_TRAYICON_EXIT ou ID_EXIT"},
    {kCmdTrayExit, "", "ID_TRAYICON_EXIT ou ID_EXIT"},
    {kCmdTrayDisplay, "", "ID_TRAYICON_EXIT_DISPLAY"},
    {kCmdStop, "&Stop", "ID_DETECTION_STOP"},
    {kCmdStart, "St&art", "ID_DETECTION_START"},
    {kCmdZones, "&Zones selection...", "ID_DETECTION_SELECTZONE"},
    {kCmdHistory, "&Display history...", "ID_DETECTION_VISUALISERHISTORIQUE"},
    {kCmdEvents, "&Display events...", "ID_DETECTION_VISUALISEREVENEMENTS"},
    {kCmdReference, "&Creation reference image", "ID_DETECTION_IMAGEREFERENCE"},
    {kCmdAbout, "&About...", "IDM_ABOUT"},
}};

}  // namespace

std::span<const MenuCommandInfo> MenuCommands()
{
    return kCommands;
}

const MenuCommandInfo* FindMenuCommand(int id)
{
    for (const MenuCommandInfo& c : kCommands) {
        if (c.id == id) {
            return &c;
        }
    }
    return nullptr;
}

}  // namespace vorlix::app
