#include "core/scene/SignalFilter.h"

#include "core/object/ClassInfo.h"
#include "core/object/PropertyText.h"
#include "core/scene/WitnessProperty.h"

namespace quarn {

ClassInfo* SignalFilter::classInfo = nullptr;

void SignalFilter::ReceiveEvent(const EventRecord& event) {
    // A sender that no longer lives has no name to compare: nothing passes.
    Entity* sender = event.sender.GetTarget();
    if (!sender || sender->GetName() != filterName_) {
        return;
    }
    SendEvent(event.sender, EntityRef(witness_), event.argument.GetTarget(), event.value);
}

ClassInfo* SignalFilter::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "SignalFilter", []() -> Entity* { return new SignalFilter; }, &classInfo);
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetCategory("Behaviour");
    classInfo
        ->AddProperty<PropertyString, &SignalFilter::GetFilterName, &SignalFilter::SetFilterName>(
            "filtername");
    AddWitnessProperty(classInfo, "witness:signal", 0);
    return classInfo;
}

} // namespace quarn
