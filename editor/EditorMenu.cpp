#include "editor/EditorMenu.h"

namespace quarn {

namespace {

MenuItem* FindIn(std::vector<MenuItem>& items, uint32_t id) {
    for (MenuItem& item : items) {
        if (item.id == id && !item.submenu && id != 0) {
            return &item;
        }
        if (MenuItem* found = FindIn(item.items, id)) {
            return found;
        }
    }
    return nullptr;
}

bool PathIn(const std::vector<MenuItem>& items, uint32_t id, std::vector<std::string>& path) {
    for (const MenuItem& item : items) {
        if (item.id == id && !item.submenu && id != 0) {
            return true;
        }
        if (item.submenu) {
            path.push_back(item.text);
            if (PathIn(item.items, id, path)) {
                return true;
            }
            path.pop_back();
        }
    }
    return false;
}

MenuItem Separator() {
    return {};
}

MenuItem Submenu(const char* text, std::vector<MenuItem> items) {
    MenuItem submenu;
    submenu.text = text;
    submenu.submenu = true;
    submenu.items = std::move(items);
    return submenu;
}

} // namespace

MenuItem MenuCommand(uint32_t id, std::string text) {
    MenuItem item;
    item.id = id;
    item.text = std::move(text);
    return item;
}

MenuItem* Menu::Find(uint32_t id) {
    return FindIn(menus_, id);
}

const MenuItem* Menu::Find(uint32_t id) const {
    return const_cast<Menu*>(this)->Find(id);
}

bool Menu::FindPath(uint32_t id, std::vector<std::string>& submenus) const {
    submenus.clear();
    return PathIn(menus_, id, submenus);
}

bool Menu::Enable(uint32_t id, bool enabled) {
    MenuItem* item = Find(id);
    if (item) {
        item->enabled = enabled;
    }
    return item != nullptr;
}

bool Menu::Check(uint32_t id, bool checked) {
    MenuItem* item = Find(id);
    if (item) {
        item->checked = checked;
    }
    return item != nullptr;
}

bool Menu::SetText(uint32_t id, std::string text) {
    MenuItem* item = Find(id);
    if (item) {
        item->text = std::move(text);
    }
    return item != nullptr;
}

Menu MakeMainMenu() {
    std::vector<MenuItem> file = {
        MenuCommand(40006, "New"),       MenuCommand(40002, "Load..."),
        MenuCommand(40044, "Play..."),   MenuCommand(40125, "Play standalone..."),
        MenuCommand(40007, "Save"),      MenuCommand(40012, "Save As..."),
        MenuCommand(40080, "Deploy..."), MenuCommand(40104, "Recover from autosave"),
        MenuCommand(40004, "Exit"),      Separator(),
    };
    // Placeholders until the first refresh puts the recent files in their place.
    for (uint32_t n = 1; n <= 9; ++n) {
        file.push_back(MenuCommand(40085 + n, ("Recent" + std::to_string(n)).c_str()));
    }
    const auto none = [](uint32_t id) { return MenuCommand(id, "<none>"); };
    return Menu({
        Submenu("File", std::move(file)),
        Submenu("Edit", {MenuCommand(40010, "Undo"), MenuCommand(40011, "Redo")}),
        Submenu("View",
                {Submenu("Set window size",
                         {MenuCommand(40128, "Fullscreen"), MenuCommand(40127, "1280 x 720"),
                          MenuCommand(40129, "1024 x 600"), MenuCommand(40130, "640 x 380")})}),
        Submenu("Game", {MenuCommand(40013, "Play"), MenuCommand(40024, "Play Standalone"),
                         MenuCommand(40014, "Stop"), MenuCommand(40021, "Pause")}),
        Submenu(
            "Functions",
            {MenuCommand(40023, "Reload resources"), MenuCommand(40043, "Recompile scripts"),
             MenuCommand(40045, "Recompile all scripts"), MenuCommand(40055, "Refresh scenetree"),
             MenuCommand(40066, "Change resource path"), MenuCommand(40085, "Refresh SVN bindings"),
             MenuCommand(40117, "Toggle SVN control"),
             Submenu("Light Maps", {MenuCommand(40132, "Create light maps"),
                                    MenuCommand(40137, "Init light maps"),
                                    MenuCommand(40134, "Update light maps"),
                                    MenuCommand(40139, "Save light maps"),
                                    MenuCommand(40067, "Assemble lightmaps"),
                                    MenuCommand(40042, "Calculate radiosity")})}),
        Submenu("GameObject",
                {Submenu("New...",
                         {none(40037), Submenu("Collision", {none(40038)}),
                          Submenu("Lights", {none(40039)}), Submenu("Physics", {none(40041)}),
                          Submenu("Editor", {none(40040)}), Submenu("Animation", {none(40051)})}),
                 MenuCommand(40053, "Insert subtree..."), MenuCommand(40054, "Save subtree...")}),
        Submenu("Help", {MenuCommand(40082, "About")}),
    });
}

} // namespace quarn
