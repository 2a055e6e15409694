#include "core/scene/NodeMenu.h"

namespace quarn {

namespace {

std::vector<NodeMenuEntry>& Entries() {
    static std::vector<NodeMenuEntry> entries;
    return entries;
}

} // namespace

void RegisterNodeMenuEntry(const NodeMenuEntry& entry) {
    for (const NodeMenuEntry& known : Entries()) {
        if (known.build == entry.build && known.execute == entry.execute) {
            return;
        }
    }
    Entries().push_back(entry);
}

const std::vector<NodeMenuEntry>& GetNodeMenuEntries() {
    return Entries();
}

namespace {

// Walks the leaves depth first with an explicit stack: a menu built from a deep folder tree
// must not exhaust the call stack.
template <class Visit>
bool WalkLeaves(const NodeMenuItem& item, std::vector<const NodeMenuItem*>& path, Visit visit) {
    struct Frame {
        const NodeMenuItem* menu;
        size_t next;
    };
    std::vector<Frame> frames{{&item, 0}};
    int index = 0;
    while (!frames.empty()) {
        Frame& frame = frames.back();
        if (frame.next == frame.menu->items.size()) {
            frames.pop_back();
            if (!path.empty()) {
                path.pop_back();
            }
            continue;
        }
        const NodeMenuItem& child = frame.menu->items[frame.next++];
        if (child.items.empty() && !child.open) {
            path.push_back(&child);
            if (visit(child, index++)) {
                return true;
            }
            path.pop_back();
        } else {
            path.push_back(&child);
            frames.push_back({&child, 0});
        }
    }
    return false;
}

} // namespace

int NodeMenuLeafIndex(const NodeMenuItem& item, const NodeMenuItem* leaf) {
    std::vector<const NodeMenuItem*> path;
    int found = -1;
    WalkLeaves(item, path, [&](const NodeMenuItem& each, int index) {
        found = &each == leaf ? index : -1;
        return found >= 0;
    });
    return found;
}

bool FindNodeMenuLeaf(const NodeMenuItem& item, int index, std::vector<const NodeMenuItem*>& path) {
    path.clear();
    return index >= 0 &&
           WalkLeaves(item, path, [index](const NodeMenuItem&, int each) { return each == index; });
}

} // namespace quarn
