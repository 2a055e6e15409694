#include "editor/TextWindows.h"

#include "core/string/Utf8.h"
#include "editor/UiLayer.h"

#include <algorithm>
#include <imgui.h>
#include <imgui_stdlib.h>
#include <string_view>

namespace quarn {

namespace {

std::string FirstCharacters(const std::string& utf8, size_t count) {
    const DecodedText decoded = DecodeUtf8(utf8);
    return utf8.substr(0, decoded.offsets[std::min(count, decoded.Size())]);
}

} // namespace

uint32_t TextWindows::Open(Int2 position, const char* caption, const char* text) {
    Window window;
    window.id = ++lastId_;
    window.position = position;
    window.caption = UiText(caption ? caption : "");
    window.text = FirstCharacters(UiText(text ? text : ""), InitialTextLimit);
    windows_.push_back(std::move(window));
    return lastId_;
}

TextWindows::Window* TextWindows::Find(uint32_t id) {
    auto found = std::find_if(windows_.begin(), windows_.end(),
                              [id](const Window& window) { return window.id == id; });
    return found == windows_.end() ? nullptr : &*found;
}

void TextWindows::Focus(uint32_t id) {
    if (Window* window = Find(id)) {
        window->focus = true;
    }
}

std::string TextWindows::Text(uint32_t id) const {
    for (const Window& window : windows_) {
        if (window.id == id) {
            return window.text;
        }
    }
    return {};
}

void TextWindows::Close(uint32_t id) {
    std::erase_if(windows_, [id](const Window& window) { return window.id == id; });
}

bool TextWindows::AnyVisible() const {
    return std::any_of(windows_.begin(), windows_.end(),
                       [](const Window& window) { return window.visible; });
}

void TextWindows::Draw(UiLayer& layer) {
    for (Window& window : windows_) {
        if (!window.visible) {
            continue;
        }
        const std::string name = "text:" + std::to_string(window.id);
        ImGui::SetNextWindowPos(ImVec2(static_cast<float>(window.position.x),
                                       static_cast<float>(window.position.y)),
                                ImGuiCond_Appearing);
        // The id after "###" keeps two windows of one caption apart.
        ImGui::Begin((window.caption + "###" + name).c_str(), nullptr,
                     ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoCollapse);
        layer.NameCurrentWindow(name);
        if (window.focus) {
            ImGui::SetKeyboardFocusHere();
            window.focus = false;
        }
        ImGui::InputTextMultiline("##edit", &window.text, ImVec2(240, 80));
        layer.NameLastItem(name + ":edit");
        if (ImGui::Button("OK")) {
            window.visible = false;
        }
        layer.NameLastItem(name + ":OK");
        ImGui::SameLine();
        if (ImGui::Button("Cancel")) {
            window.visible = false;
        }
        layer.NameLastItem(name + ":Cancel");
        ImGui::End();
    }
}

} // namespace quarn
