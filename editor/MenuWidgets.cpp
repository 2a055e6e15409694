#include "editor/MenuWidgets.h"

#include "editor/UiLayer.h"

#include <imgui.h>
#include <string>

namespace quarn {

void DrawMenuItems(UiLayer& ui, const std::vector<MenuItem>& items, const MenuChoice& choose) {
    // Ids keep two items of one text apart ("<none>" in every submenu).
    int32_t index = 0;
    for (const MenuItem& item : items) {
        ImGui::PushID(index++);
        if (item.IsSeparator()) {
            ImGui::Separator();
        } else if (item.submenu) {
            const std::string label = UiText(item.text);
            const std::string name = "menu:" + item.text;
            if (item.enabled && ui.IsMenuToOpen(name) && !ImGui::IsPopupOpen(label.c_str())) {
                ImGui::OpenPopup(label.c_str());
            }
            const bool open = ImGui::BeginMenu(label.c_str(), item.enabled);
            ui.NameLastItem(name);
            if (open) {
                DrawMenuItems(ui, item.items, choose);
                ImGui::EndMenu();
            }
        } else {
            const bool chosen =
                ImGui::MenuItem(UiText(item.text).c_str(), nullptr, item.checked, item.enabled);
            ui.NameLastItem("cmd:" + std::to_string(item.id));
            if (chosen && choose) {
                choose(item.id);
            }
        }
        ImGui::PopID();
    }
}

void DrawMenuBar(UiLayer& ui, const Menu& menu, const MenuChoice& choose) {
    if (!ImGui::BeginMainMenuBar()) {
        return;
    }
    DrawMenuItems(ui, menu.Menus(), choose);
    ImGui::EndMainMenuBar();
}

} // namespace quarn
