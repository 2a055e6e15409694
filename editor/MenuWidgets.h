#pragma once

// Menus drawn with the UI library: the menu bar and the items of a popup (the node context
// menu's too).

#include "editor/EditorMenu.h"

#include <functional>

namespace quarn {

class UiLayer;

// Gets the id of the item clicked.
using MenuChoice = std::function<void(uint32_t id)>;

// Draws items into the menu or popup underway. Items are named for tests and input scripts:
// "menu:TEXT" for a submenu, "cmd:ID" for a command.
void DrawMenuItems(UiLayer& ui, const std::vector<MenuItem>& items, const MenuChoice& choose);
// The menu bar along the top of the layer, its menus named "menu:TEXT".
void DrawMenuBar(UiLayer& ui, const Menu& menu, const MenuChoice& choose);

} // namespace quarn
