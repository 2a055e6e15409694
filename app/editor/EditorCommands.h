#pragma once

// The editor's commands: the toolbar buttons' handler, the command-handler list other
// subsystems add to, and the table of the menu bar's commands.

#include <cstdint>

namespace quarn {

// (command id, 0) -> true when handled.
using CommandHandler = bool (*)(uint32_t command, int32_t query);

// Appends the handler to the list asked before the command table; the label and the menu's
// name are not kept.
void RegisterCommandHandler(uint32_t command, int32_t query, const char* label,
                            const char* menuName, CommandHandler handler);

// A command message's id, in the order the editor has always tried: the toolbar button it
// names, the handler list (the first true stops), the table. Unknown ids are ignored.
void DispatchCommand(uint32_t id);
// A toolbar button's execution: true when its handler handled it. An id below the toolbar's
// base is taken as the button's index.
bool DispatchToolbarCommand(uint32_t id);
// True for the ids a user's click can send: an item's of the menu bar, as it is loaded, or a
// registered toolbar button's.
bool IsMenuOrToolbarCommand(uint32_t id);

// The editor's own toolbar buttons: query 0 executes, 1 asks for enabled, 2 for checked.
int32_t ToolbarCommandHandler(int32_t command, int32_t query);

void ToggleEditorView();
// Asks for a folder; the chosen one becomes the base folder and the user setting
// "resource_path". A cancelled dialog changes nothing.
void ChangeResourcePath();
// Asks where to save the atlas of the selection's lightmaps, then assembles it.
void AssembleLightmapsCommand();

} // namespace quarn
