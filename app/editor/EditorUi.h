#pragma once

// The editor's UI in the running program: the layer and the window image it draws over, and
// the routing of the window's input between the UI and the engine.

#include "app/platform/Platform.h"

#include <cstdint>
#include <functional>

namespace quarn {

class GpuSurface;
class NodeContextMenu;
class ScriptDebuggerPanel;
class UiLayer;

// Made once the render device exists: at start-up in the editor, with a script's first text
// window in the player.
bool CreateEditorUi();
// The editor's script debugger, docked hidden below the view; the first panel a failing script
// is handed to. The player has none.
void CreateScriptDebuggerPanel();
ScriptDebuggerPanel* GetScriptDebuggerPanel();
// Null in the player until a script opens a text window.
UiLayer* GetEditorUi();

// The editor's message hook: a mouse message over a UI item is the UI's (answered non-zero, so
// the mouse never gets it); keys reach the UI and the editor's own keys, which see them only
// while no text field holds the keyboard.
intptr_t EditorUiMessageHook(uint32_t message, uintptr_t detail, intptr_t packed);
// Typed text, whole.
void EditorUiText(const char* utf8);

// The editor's selection set, following the selection signals; start-up installs it before the
// start scene opens. The player has none.
void InstallEditorSelectionSet();
// The context menu a right click in the view opens.
NodeContextMenu& GetEditorNodeMenu();
// Scripts' text windows open on the UI layer from now on; the platform's dialog hook answers
// every other dialog.
void InstallUiDialogs();

// What the editor's panels draw each frame, with the UI library's calls.
void SetEditorWidgets(std::function<void()> widgets);

// Draws the frame's UI over the view's image; the device then presents that image. In the
// player only while a text window is visible.
void ComposeEditorFrame(Platform& platform);
// Where the view lies in the window image: below the menu bar, at the view's origin.
Int2 GetEditorViewPlace(Platform& platform);
// The last composed image; null before the first or in the player.
GpuSurface* GetEditorWindowImage();

} // namespace quarn
