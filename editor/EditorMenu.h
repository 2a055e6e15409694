#pragma once

// The editor's menus as data: the menu bar's items with their ids, texts and states, which the
// commands change and the UI layer draws.

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

struct MenuItem {
    // The command the item sends; 0 for a separator or a submenu.
    uint32_t id = 0;
    std::string text;
    bool enabled = true;
    bool checked = false;
    // A submenu holds items; an item without text and id is a separator.
    bool submenu = false;
    std::vector<MenuItem> items;

    bool IsSeparator() const { return !submenu && id == 0 && text.empty(); }
};

// A command item, enabled and unchecked.
MenuItem MenuCommand(uint32_t id, std::string text);

class Menu {
public:
    Menu() = default;
    explicit Menu(std::vector<MenuItem> menus) : menus_(std::move(menus)) {}

    // The bar's menus, in order.
    std::vector<MenuItem>& Menus() { return menus_; }
    const std::vector<MenuItem>& Menus() const { return menus_; }

    // The first item with the id, searched through every submenu; null when none has it.
    MenuItem* Find(uint32_t id);
    const MenuItem* Find(uint32_t id) const;
    // The texts of the submenus on the way to that item, the bar's menu first; false when no
    // item has the id.
    bool FindPath(uint32_t id, std::vector<std::string>& submenus) const;
    // False when no item has the id.
    bool Enable(uint32_t id, bool enabled);
    bool Check(uint32_t id, bool checked);
    bool SetText(uint32_t id, std::string text);

private:
    std::vector<MenuItem> menus_;
};

// The editor's menu bar as it is loaded, before any refresh: File, Edit, View, Game, Functions,
// GameObject and Help.
Menu MakeMainMenu();

// Where the File menu's recent files begin: after its nine commands and the separator.
inline constexpr size_t RecentFilesPosition = 10;

} // namespace quarn
