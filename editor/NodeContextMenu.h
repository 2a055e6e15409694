#pragma once

#include "core/scene/NodeMenu.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

class Node;
class UiLayer;

// The context menu of one node: every registered entry whose build answers for the node, in
// registration order, shown as a popup of the UI library at the pointer.
class NodeContextMenu {
public:
    struct Built {
        NodeMenuEntry entry;
        NodeMenuItem item;
    };

    // Builds the entries for the node; the popup opens in the next UI frame, headed by a line
    // that names the node.
    void Open(Node& node);
    // The heading: the node's class, its id as the scene file writes it and its name, as in
    // "Sprite obj4 (Logo)".
    const std::string& GetTitle() const { return title_; }
    // Draws the popup while it is open; must run inside the layer's UI frame. Each shown item
    // is named "ctx:" + the labels from its entry down, joined by '|'. A chosen item runs its entry
    // once the popup is drawn, since the entry may open dialogs or delete nodes.
    void Draw(UiLayer& ui);
    bool IsOpen() const { return open_; }

    // The entries as shown: opening a listed submenu fills it here.
    std::vector<Built>& GetBuilt() { return built_; }
    // Runs a choice as a click would: the entry's leaf `choice`, or 0 for an entry without a
    // submenu. Nothing when the node is gone.
    void Choose(size_t entry, int choice);

private:
    // A leaf clicked while drawing: the entry and the leaf's index.
    struct Choice {
        size_t entry = 0;
        int leaf = -1;
    };
    // An entry's item (`top`) or an item of its submenus; `name` is its parent's UI name.
    void DrawItem(UiLayer& ui, const std::string& parentName, size_t entry, NodeMenuItem& item,
                  bool top, Choice& chosen);

    uint64_t node_ = 0;
    std::string title_;
    std::vector<Built> built_;
    bool pending_ = false;
    bool open_ = false;
};

} // namespace quarn
