#include "core/scene/SignalEmitter.h"

#include "core/object/ClassInfo.h"
#include "core/object/PropertyText.h"
#include "core/scene/SignalReceiver.h"

namespace quarn {

ClassInfo* SignalEmitter::classInfo = nullptr;

// Receivers are never listed under an empty name, so an empty one reaches nobody. A receiver
// wired back to this emitter loops until the event depth bound of SendEvent ends it.
void SignalEmitter::ReceiveEvent(const EventRecord& event) {
    SignalReceiver::Trigger(signalName_.c_str(), event);
}

ClassInfo* SignalEmitter::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "SignalEmitter", []() -> Entity* { return new SignalEmitter; }, &classInfo);
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetCategory("Behaviour");
    classInfo
        ->AddProperty<PropertyString, &SignalEmitter::GetSignalName, &SignalEmitter::SetSignalName>(
            "signalname");
    return classInfo;
}

} // namespace quarn
