#include "core/scene/EventMultiplier.h"

#include "core/object/ClassInfo.h"
#include "core/scene/WitnessProperty.h"

namespace quarn {

ClassInfo* EventMultiplier::classInfo = nullptr;

// Built in place: copying or assigning a reference never carries its listener over.
EventMultiplier::EventMultiplier()
    : witnesses_{EntityRef(this), EntityRef(this), EntityRef(this), EntityRef(this),
                 EntityRef(this), EntityRef(this), EntityRef(this), EntityRef(this)} {}

void EventMultiplier::SetPortValue(int port, const EntityRef& reference) {
    if (port >= 0 && port < WitnessCount) {
        witnesses_[port] = reference;
    }
}

EntityRef EventMultiplier::GetPortValue(int port) const {
    return port >= 0 && port < WitnessCount ? witnesses_[port] : EntityRef();
}

void EventMultiplier::ReceiveEvent(const EventRecord& event) {
    // Any send may delete this node, rewire it or delete the argument: the node is checked and
    // the argument looked up by id before each one. A multiplier wired back to itself loops
    // until the event depth bound of SendEvent ends it.
    const uint64_t serial = GetSerial();
    for (int i = 0; i < WitnessCount && IsAlive(serial); ++i) {
        const EntityRef witness = witnesses_[i]; // the id alone: SendEvent resolves it afresh
        if (witness.GetId() != 0) {
            SendEvent(event.sender, witness, event.argument.GetTarget(), event.value);
        }
    }
}

ClassInfo* EventMultiplier::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "EventMultiplier", []() -> Entity* { return new EventMultiplier; }, &classInfo);
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetCategory("Behaviour");
    AddWitnessProperties(classInfo, WitnessCount);
    return classInfo;
}

} // namespace quarn
