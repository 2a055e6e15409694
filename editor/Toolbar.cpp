#include "editor/Toolbar.h"

#include "editor/UiLayer.h"

#include <imgui.h>

namespace quarn {

Toolbar::Toolbar(const ToolbarButton* buttons, int32_t count) {
    if (buttons && count > 0) {
        buttons_.assign(buttons, buttons + count);
    }
}

ToolbarButton* Toolbar::Find(int32_t id) {
    for (ToolbarButton& button : buttons_) {
        if (button.id == id && !(button.style & ToolbarStyleSeparator)) {
            return &button;
        }
    }
    return nullptr;
}

const ToolbarButton* Toolbar::Find(int32_t id) const {
    return const_cast<Toolbar*>(this)->Find(id);
}

bool Toolbar::EnableButton(int32_t id, bool enabled) {
    ToolbarButton* button = Find(id);
    if (button) {
        button->state = static_cast<uint8_t>(enabled ? button->state | ToolbarStateEnabled
                                                     : button->state & ~ToolbarStateEnabled);
    }
    return button != nullptr;
}

bool Toolbar::CheckButton(int32_t id, bool checked) {
    ToolbarButton* button = Find(id);
    if (button) {
        button->state = static_cast<uint8_t>(checked ? button->state | ToolbarStateChecked
                                                     : button->state & ~ToolbarStateChecked);
    }
    return button != nullptr;
}

bool Toolbar::IsButtonEnabled(int32_t id) const {
    const ToolbarButton* button = Find(id);
    return button && (button->state & ToolbarStateEnabled);
}

bool Toolbar::IsButtonChecked(int32_t id) const {
    const ToolbarButton* button = Find(id);
    return button && (button->state & ToolbarStateChecked);
}

bool Toolbar::IsButtonPressed(int32_t id) const {
    return id != 0 && pressedId_ == id;
}

void Toolbar::Draw(UiLayer& ui, float top, float width, void* strip, int32_t stripWidth,
                   int32_t stripHeight, const std::function<void(int32_t id)>& click,
                   const std::function<std::string(int32_t id)>& tooltip) {
    constexpr float Padding = (ToolbarRowHeight - ToolbarImageSize) * 0.5f - 1.0f;
    ImGui::SetNextWindowPos(ImVec2(0.0f, top));
    ImGui::SetNextWindowSize(ImVec2(width, static_cast<float>(ToolbarRowHeight)));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(2.0f, 1.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 0.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(Padding, Padding));
    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(1.0f, 0.0f));
    // The row is lower than a window's least height.
    ImGui::PushStyleVar(ImGuiStyleVar_WindowMinSize, ImVec2(1.0f, 1.0f));
    const bool open =
        ImGui::Begin("##toolbar", nullptr,
                     ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                         ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus);
    pressedId_ = 0;
    if (open) {
        const ImVec4 checkedColour = ImGui::GetStyleColorVec4(ImGuiCol_ButtonActive);
        const float cellsX = static_cast<float>(stripWidth) / ToolbarImageSize;
        const float cellsY = static_cast<float>(stripHeight) / ToolbarImageSize;
        bool first = true;
        for (const ToolbarButton& button : buttons_) {
            if (!first) {
                ImGui::SameLine();
            }
            first = false;
            if (button.style & ToolbarStyleSeparator) {
                ImGui::Dummy(ImVec2(6.0f, static_cast<float>(ToolbarImageSize)));
                continue;
            }
            const bool enabled = button.state & ToolbarStateEnabled;
            const bool down =
                (button.style & ToolbarStyleCheck) && (button.state & ToolbarStateChecked);
            ImGui::PushID(button.id);
            ImGui::BeginDisabled(!enabled);
            if (down) {
                ImGui::PushStyleColor(ImGuiCol_Button, checkedColour);
            }
            const ImVec2 size(static_cast<float>(ToolbarImageSize),
                              static_cast<float>(ToolbarImageSize));
            bool clicked;
            if (strip && cellsX >= 1.0f && cellsY >= 1.0f) {
                const float column = static_cast<float>(button.image % ToolbarImagesPerRow);
                const float row = static_cast<float>(button.image / ToolbarImagesPerRow);
                clicked = ImGui::ImageButton(strip, size, ImVec2(column / cellsX, row / cellsY),
                                             ImVec2((column + 1) / cellsX, (row + 1) / cellsY));
            } else {
                clicked = ImGui::Button("##image", ImVec2(ToolbarImageSize + 2 * Padding,
                                                          ToolbarImageSize + 2 * Padding));
            }
            if (down) {
                ImGui::PopStyleColor();
            }
            ImGui::EndDisabled();
            ui.NameLastItem("tool:" + std::to_string(button.id - ToolbarCommandBase));
            if (enabled && ImGui::IsItemActive()) {
                pressedId_ = button.id;
            }
            if (tooltip && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) {
                const std::string text = tooltip(button.id);
                if (!text.empty()) {
                    ImGui::SetTooltip("%s", UiText(text).c_str());
                }
            }
            ImGui::PopID();
            if (clicked && enabled && click) {
                click(button.id);
            }
        }
    }
    ImGui::End();
    ImGui::PopStyleVar(6);
}

} // namespace quarn
