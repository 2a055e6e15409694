#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quarn {

class Node;

// One item of the context menu for a node: its label, whether it shows a check mark or is
// greyed, and the items of its submenu.
struct NodeMenuItem {
    std::string label;
    bool checked = false;
    bool enabled = true;
    std::vector<NodeMenuItem> items;
    // When set, the submenu is listed afresh by this each time it opens (a folder on disk),
    // rather than once when the menu is built.
    std::function<void(NodeMenuItem& submenu)> open;
};

// The index of the leaf `leaf` is in a depth-first walk of the item's submenus as they stand
// (leaves only, submenus not counted); -1 when it is not among them.
int NodeMenuLeafIndex(const NodeMenuItem& item, const NodeMenuItem* leaf);
// The leaf with that index and the submenus leading to it (outermost first, the item itself
// excluded); false when there is none.
bool FindNodeMenuLeaf(const NodeMenuItem& item, int index, std::vector<const NodeMenuItem*>& path);

// An entry a node class adds to the context menu of a node. `build` fills the item and answers
// whether the entry applies to the node at all; `execute` runs the user's choice: the index of
// the chosen leaf (NodeMenuLeafIndex) in the item as the user saw it, which is handed in too.
struct NodeMenuEntry {
    bool (*build)(Node& node, NodeMenuItem& item);
    void (*execute)(Node& node, int choice, const NodeMenuItem& item);
};

// The editor offers the entries in registration order; registering an entry twice adds nothing.
void RegisterNodeMenuEntry(const NodeMenuEntry& entry);
const std::vector<NodeMenuEntry>& GetNodeMenuEntries();

} // namespace quarn
