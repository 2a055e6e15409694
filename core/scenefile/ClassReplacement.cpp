#include "core/scenefile/ClassReplacement.h"

#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/Property.h"
#include "core/object/Signals.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "core/scene/NodeSignals.h"

#include <vector>

namespace quarn {

Node* ReplaceNodeClass(Node& node, ClassInfo& classInfo, bool announce) {
    auto* replacement = dynamic_cast<Node*>(classInfo.CreateInstance());
    if (!replacement) {
        LogMessage("Class %s makes no node; %s keeps its class", classInfo.GetName(),
                   node.GetDisplayName().c_str());
        return nullptr;
    }
    EngineStateScope replacing(EngineReplacingClass);
    const uint64_t oldSerial = node.GetSerial();
    const uint64_t newSerial = replacement->GetSerial();

    std::vector<uint64_t> children;
    for (Node* child = node.GetFirstChild(); child; child = child->GetNext()) {
        children.push_back(child->GetSerial());
    }
    for (uint64_t serial : children) {
        if (Node* child = FindLiveNode(serial)) {
            child->Detach();
        }
    }
    if (!IsAlive(oldSerial)) {
        return FindLiveNode(newSerial);
    }

    ClassInfo* oldClass = node.GetClass();
    const int count = oldClass ? oldClass->GetPropertyCount() : 0;
    for (int index = 0; index < count; ++index) {
        const Property* from = oldClass->GetProperty(index);
        if (!from || IsNodePlacement(*from)) {
            continue;
        }
        const Property* to = classInfo.FindProperty(from->GetName());
        if (!to || IsNodePlacement(*to)) {
            continue;
        }
        if (to->GetValueType() == from->GetValueType()) {
            uint32_t words[MaxValueWords] = {};
            from->ReadValue(node, words);
            to->WriteValue(*replacement, words);
        } else {
            to->SetFromText(*replacement, from->GetAsText(node).c_str());
        }
    }

    Node* parent = node.GetParent();
    Node* previous = node.GetPrevious();
    const uint64_t parentSerial = parent ? parent->GetSerial() : 0;
    const uint64_t previousSerial = previous ? previous->GetSerial() : 0;
    node.Detach();
    if (IsAlive(oldSerial) && IsAlive(newSerial)) {
        replacement->TakeOverId(node.GetId());
    }
    // A new branch takes an id system of its own, which its flags setter makes sure of, before
    // the children move in.
    if (const Property* flags = classInfo.FindProperty("branchflags"); flags && IsAlive(newSerial)) {
        uint32_t words[MaxValueWords] = {};
        flags->ReadValue(*replacement, words);
        flags->WriteValue(*replacement, words);
    }
    if (Node* liveParent = FindLiveNode(parentSerial); liveParent && IsAlive(newSerial)) {
        Node* livePrevious = FindLiveNode(previousSerial);
        replacement->AttachAfter(liveParent, livePrevious && livePrevious->GetParent() == liveParent
                                                 ? livePrevious
                                                 : nullptr);
    }
    // The old node has given up its id, place and children; left alive it would still stand in
    // its class's instance list and hear class signals.
    if (Node* old = FindLiveNode(oldSerial)) {
        old->Delete();
    }
    if (!IsAlive(newSerial)) {
        return nullptr;
    }
    if (announce) {
        SendSignal("nodecreation", static_cast<Entity*>(replacement), true);
    }
    for (uint64_t serial : children) {
        Node* child = FindLiveNode(serial);
        if (child && IsAlive(newSerial) && !child->GetParent()) {
            child->AttachAsLast(replacement);
        }
    }
    if (announce && IsAlive(newSerial)) {
        CallMethodInSubtree(replacement, "loaded", nullptr, true);
    }
    return FindLiveNode(newSerial);
}

} // namespace quarn
