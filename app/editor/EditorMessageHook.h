#pragma once

#include <cstdint>

namespace quarn {

// The first look at every message of the main window, in the player as in the editor: the
// window's repaint presents the last frame again, its close closes the scene, and in the
// editor Ctrl+H toggles the full-monitor view and Ctrl+S saves; a command message (the id in the
// detail's low word) runs its toolbar button, handler or menu command. Returns 0: the window goes
// on with every message (only a "Save?" prompt, which needs the undo history, refuses a close).
intptr_t EditorMessageHook(uint32_t message, uintptr_t wParam, intptr_t lParam);

// Switches between the window and the borderless window covering the monitor.
void ToggleFullscreenView();

} // namespace quarn
