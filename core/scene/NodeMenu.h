#pragma once

#include <string>
#include <vector>

namespace quarn {

class Node;

// One item of the tree pane's context menu for a node: its label, whether it shows a check
// mark or is greyed, and the items of its submenu.
struct NodeMenuItem {
    std::string label;
    bool checked = false;
    bool enabled = true;
    std::vector<NodeMenuItem> items;
};

// An entry a node class adds to the context menu of the selected node. `build` fills the item
// and answers whether the entry applies to the node at all; `execute` runs the user's choice:
// the index of the chosen submenu item.
struct NodeMenuEntry {
    bool (*build)(Node& node, NodeMenuItem& item);
    void (*execute)(Node& node, int choice);
};

// The editor offers the entries in registration order; registering an entry twice adds nothing.
void RegisterNodeMenuEntry(const NodeMenuEntry& entry);
const std::vector<NodeMenuEntry>& GetNodeMenuEntries();

} // namespace quarn
