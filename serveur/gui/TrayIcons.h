// The drawn icons of the server: per camera n, 136 + n (viewers connected),
// 141 + n (camera or motion off) and 146 + n (watching, no viewer), and the
// tray's menu 107.
#pragma once

#include <QIcon>
#include <QMenu>
#include <memory>
#include <string>

#include "serveur/app/TrayText.h"

namespace vorlix::gui {

// Null for a number that is not one of the fifteen icons.
QIcon DrawServerIcon(unsigned resource);
// The icon's kind (0 clients, 1 off, 2 watching) and camera, or -1 and -1.
std::pair<int, int> ServerIconKind(unsigned resource);
// The tip of icon resource `resource`.
std::string ServerIconText(unsigned resource);
// Menu 107: "Display" (default) and "Exit"; null for another number.
std::unique_ptr<QMenu> LoadTrayMenu(unsigned id, const app::TranslateFn& translate);

}  // namespace vorlix::gui
