#include "editor/NodeContextMenu.h"

#include "core/object/IdPath.h"
#include "core/scene/Node.h"
#include "editor/UiLayer.h"

#include <imgui.h>

namespace quarn {

namespace {
constexpr const char* PopupId = "##node menu";
} // namespace

void NodeContextMenu::Open(Node& node) {
    node_ = node.GetSerial();
    title_ = DescribeEntity(node);
    built_.clear();
    for (const NodeMenuEntry& entry : GetNodeMenuEntries()) {
        Built built{entry, {}};
        if (entry.build && entry.build(node, built.item)) {
            built_.push_back(std::move(built));
        }
    }
    pending_ = true;
}

void NodeContextMenu::DrawItem(UiLayer& ui, const std::string& parentName, size_t entry,
                               NodeMenuItem& item, bool top, Choice& chosen) {
    const std::string label = UiText(item.label);
    const std::string name = top ? "ctx:" + item.label : parentName + '|' + item.label;
    if (item.items.empty() && !item.open) {
        const bool clicked = ImGui::MenuItem(label.c_str(), nullptr, item.checked, item.enabled);
        ui.NameLastItem(name);
        if (clicked) {
            chosen = {entry, top ? 0 : NodeMenuLeafIndex(built_[entry].item, &item)};
        }
        return;
    }
    const bool open = ImGui::BeginMenu(label.c_str(), item.enabled);
    ui.NameLastItem(name);
    if (open) {
        // A folder is listed again each time its submenu appears.
        if (item.open && ImGui::IsWindowAppearing()) {
            item.open(item);
        }
        for (size_t index = 0; index < item.items.size(); ++index) {
            ImGui::PushID(static_cast<int>(index));
            DrawItem(ui, name, entry, item.items[index], false, chosen);
            ImGui::PopID();
        }
        ImGui::EndMenu();
    }
}

void NodeContextMenu::Draw(UiLayer& ui) {
    if (pending_) {
        ImGui::OpenPopup(PopupId);
        pending_ = false;
    }
    open_ = ImGui::BeginPopup(PopupId);
    if (!open_) {
        return;
    }
    Choice chosen;
    // Esc closes the menu, its open submenus with it, as it closes the window's menus.
    if (!FindLiveNode(node_) || ImGui::IsKeyPressed(ImGuiKey_Escape, false)) {
        ImGui::CloseCurrentPopup();
    } else {
        // Which node the entries act on is not always the one the user meant to click.
        ImGui::TextDisabled("%s", UiText(title_).c_str());
        ui.NameLastItem("ctx-node");
        ImGui::Separator();
        for (size_t entry = 0; entry < built_.size(); ++entry) {
            ImGui::PushID(static_cast<int>(entry));
            DrawItem(ui, {}, entry, built_[entry].item, true, chosen);
            ImGui::PopID();
        }
    }
    ImGui::EndPopup();
    if (chosen.leaf >= 0) {
        Choose(chosen.entry, chosen.leaf);
    }
}

void NodeContextMenu::Choose(size_t entry, int choice) {
    Node* node = FindLiveNode(node_);
    if (!node || entry >= built_.size()) {
        return;
    }
    // The entry may open another menu over this one: it runs on its own copy.
    const Built built = built_[entry];
    if (built.item.enabled && built.entry.execute) {
        built.entry.execute(*node, choice, built.item);
    }
}

} // namespace quarn
