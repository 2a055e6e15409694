#include "core/os/EditorToolbar.h"

namespace quarn {

namespace {

std::vector<EditorToolbarButton>& Buttons() {
    static std::vector<EditorToolbarButton> buttons;
    return buttons;
}
ToolbarRebuildHook rebuildHook = nullptr;

} // namespace

void RegisterToolbarButton(int32_t bitmapIndex, int32_t value, bool toggle, const char* label,
                           const char* group, ToolbarHandler handler) {
    // A class registered again (after the registry was reset) offers its buttons once.
    for (const EditorToolbarButton& button : Buttons()) {
        if (button.bitmapIndex == bitmapIndex && button.value == value &&
            button.handler == handler) {
            return;
        }
    }
    Buttons().push_back({bitmapIndex, value, toggle, label, group, handler});
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
