#pragma once

// The editor's menu bar and toolbar in the running program: made at start-up in the editor,
// brought up to date after every change of the scene or the game's state, drawn over the
// window image, their clicks handed to the main window as command messages.

#include "editor/Toolbar.h"

#include <cstdint>
#include <string>

namespace quarn {

class GpuDevice;
class Menu;
class UiLayer;

// The first recent file's command id is this plus 1.
inline constexpr uint32_t RecentFileCommandBase = 40085;
// The game step's factor while "Fast forward" is held.
inline constexpr float FastForwardFactor = 4.0f;

// Start-up in the editor: the menu bar, the editor's seven toolbar buttons, the toolbar and the
// first refresh. Installs the toolbar rebuild that later class registrations call.
void CreateEditorMenus();
// Null in the player.
Menu* GetEditorMenuBar();

// The menu's enabled, checked and greyed states, the recent files, the title and the toolbar's
// states. The player has neither menu bar nor toolbar, so only the title changes there.
void RefreshMainMenu();
// The Edit menu's Undo and Redo as the undo history has them, the title and the toolbar's
// states: after a step, an undo or a redo.
void UpdateUndoRedoMenu();
// Pauses or resumes the game and refreshes the menus when there are any.
void SetGamePaused(bool paused);

// Makes the toolbar from the registered buttons, group by group, each group followed by a
// separator; only while the editor's menu bar exists.
void BuildToolbarFromRegistry();
// Asks every button's handler whether it is enabled and checked.
void RefreshToolbarStates();
// While the mouse holds the button of that index down.
bool IsToolbarButtonPressed(int32_t index);
// The label of the button the id names; "" for none.
std::string GetToolbarTooltip(int32_t id);
// The index of "Fast forward", -1 before the editor's buttons are registered.
int32_t GetFastForwardButton();

// The toolbar's pictures, "res://toolbar.png", on the UI's device; without them the buttons show
// their frames only. False when the strip could not be read.
bool LoadToolbarStrip(GpuDevice& gpu);

// Draws the menu bar and the toolbar into the UI frame underway; their clicks wait until
// SendChosenCommands.
void DrawEditorMenus(UiLayer& ui, float windowWidth);
// Hands the commands chosen in the last UI frame to the main window's message path.
void SendChosenCommands();

} // namespace quarn
