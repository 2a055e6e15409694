#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

// Classes offer the editor toolbar buttons from below the editor: they register here, and the
// editor, when one exists, builds its toolbar from the list through the rebuild hook.

enum ToolbarAction : int32_t {
    ToolbarExecute = 0,
    ToolbarIsEnabled = 1,
    ToolbarIsChecked = 2,
};

// Called with the button's value and the action; answers the query (0 or 1).
using ToolbarHandler = int32_t (*)(int32_t value, int32_t action);

struct EditorToolbarButton {
    int32_t bitmapIndex;
    int32_t value;
    bool toggle;
    std::string label;
    std::string group;
    ToolbarHandler handler;
};

// The button's index, fixed for the run; the editor's command id for it is 41000 + index.
int32_t RegisterToolbarButton(int32_t bitmapIndex, int32_t value, bool toggle, const char* label,
                              const char* group, ToolbarHandler handler);
const std::vector<EditorToolbarButton>& GetToolbarButtons();

// Null (the default) while no editor listens.
using ToolbarRebuildHook = void (*)();
void SetToolbarRebuildHook(ToolbarRebuildHook hook);
void BuildEditorToolbar();

} // namespace quarn
