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

} // namespace quarn
