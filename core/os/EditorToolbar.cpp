#include "core/os/EditorToolbar.h"

namespace quarn {

namespace {

std::vector<EditorToolbarButton>& Buttons() {
    static std::vector<EditorToolbarButton> buttons;
    return buttons;
}
ToolbarRebuildHook rebuildHook = nullptr;

} // namespace

int32_t RegisterToolbarButton(int32_t bitmapIndex, int32_t value, bool toggle, const char* label,
                              const char* group, ToolbarHandler handler) {
    // A class registered again (after the registry was reset) offers its buttons once.
    const std::vector<EditorToolbarButton>& buttons = Buttons();
    for (size_t index = 0; index < buttons.size(); ++index) {
        const EditorToolbarButton& button = buttons[index];
        if (button.bitmapIndex == bitmapIndex && button.value == value &&
            button.handler == handler) {
            return static_cast<int32_t>(index);
        }
    }
    Buttons().push_back({bitmapIndex, value, toggle, label, group, handler});
    return static_cast<int32_t>(buttons.size() - 1);
}

const std::vector<EditorToolbarButton>& GetToolbarButtons() {
    return Buttons();
}

void SetToolbarRebuildHook(ToolbarRebuildHook hook) {
    rebuildHook = hook;
}

void BuildEditorToolbar() {
    if (rebuildHook) {
        rebuildHook();
    }
}

} // namespace quarn
