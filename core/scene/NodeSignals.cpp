#include "core/scene/NodeSignals.h"

#include "core/object/MethodInfo.h"
#include "core/scene/Node.h"

#include <unordered_set>
#include <vector>

namespace quarn {

void CallMethodInSubtree(Node* node, const char* name, void* argument, bool force) {
    if (!node || !name) {
        return;
    }
    // Depth first with an explicit stack, so deep trees cannot exhaust the call stack. Each
    // node's children are taken after its own call, as that call may change them; every pending
    // node is checked again before its turn, since any later call may delete or move it.
    struct Pending {
        Node* node;
        uint64_t serial;
        Node* parent;
        uint64_t parentSerial;
    };
    std::vector<Pending> pending{{node, node->GetSerial(), nullptr, 0}};
    // A node moved from a visited place to one not yet visited is called only once.
    std::unordered_set<uint64_t> visited;
    std::vector<Pending> children;
    while (!pending.empty()) {
        Pending next = pending.back();
        pending.pop_back();
        if (Entity::FindBySerial(next.serial) != next.node) {
            continue;
        }
        if (next.parent && (Entity::FindBySerial(next.parentSerial) != next.parent ||
                            next.node->GetParent() != next.parent)) {
            continue;
        }
        if ((!force && !next.node->IsFullyEnabled()) || !visited.insert(next.serial).second) {
            continue;
        }
        if (MethodInfo* method = next.node->FindMethod(name)) {
            method->CallSignal(next.node, argument);
            if (Entity::FindBySerial(next.serial) != next.node) {
                continue;
            }
        }
        children.clear();
        for (Node* child = next.node->GetFirstChild(); child; child = child->GetNext()) {
            children.push_back({child, child->GetSerial(), next.node, next.serial});
        }
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
}

} // namespace quarn
