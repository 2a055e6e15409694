#include "core/scene/NodeSignals.h"

#include "core/debug/Log.h"
#include "core/object/MethodInfo.h"
#include "core/os/EngineWork.h"
#include "core/scene/Node.h"

#include <algorithm>

#include <unordered_set>
#include <vector>

namespace quarn {

namespace {

// Calls `call(method, node)` on every node of the subtree that has the method.
template <class Call>
void WalkSubtree(Node* node, const char* name, bool force, Call call) {
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
    uint64_t taken = 0;
    while (!pending.empty()) {
        Pending next = pending.back();
        pending.pop_back();
        ++taken;
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
            call(*method, next.node);
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
    // A loop of walks through a large scene is work, not a command each.
    ChargeNodesVisited(taken);
}

} // namespace

void CallMethodInSubtree(Node* node, const char* name, void* argument, bool force) {
    WalkSubtree(node, name, force,
                [argument](MethodInfo& method, Node* target) { method.CallSignal(target, argument); });
}

void CallMethodWithRecordInSubtree(Node* node, const char* name, std::span<const uint32_t> record,
                                   bool force) {
    WalkSubtree(node, name, force, [&](MethodInfo& method, Node* target) {
        const int words = std::max(method.GetReturnWords(), 1) + method.GetArgumentWords();
        if (words > MethodRecordWords) {
            LogMessage("Method '%s' of '%s' takes more than %d words and was not called", name,
                       target->GetName().c_str(), MethodRecordWords);
            return;
        }
        // Word 0 is the result slot; parameters past the record read zeros.
        uint32_t block[MethodRecordWords] = {};
        const size_t count = std::min<size_t>(record.size(), MethodRecordWords - 1);
        std::copy_n(record.begin(), count, block + 1);
        method.Call(target, block);
    });
}

} // namespace quarn
