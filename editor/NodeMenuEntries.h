#pragma once

namespace quarn {

// The editor's own entries of the node context menu, in this order: "Add new child",
// "Convert to", "Open resource", "Insert subtree...", "Merge subtree...", "Save subtree...",
// "Mirror subtree", "Referents" and "Call function". Start-up registers them before the classes
// register theirs, in the player too, so the classes' entries always follow.
void RegisterEditorNodeMenuEntries();

} // namespace quarn
