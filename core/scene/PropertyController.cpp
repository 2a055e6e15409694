#include "core/scene/PropertyController.h"

#include "core/object/ClassInfo.h"
#include "core/object/Property.h"
#include "core/object/PropertyText.h"

namespace quarn {

ClassInfo* PropertyController::classInfo = nullptr;

void PropertyController::ReceiveEvent(const EventRecord&) {
    Node* parent = GetParent();
    Property* property = parent ? parent->FindProperty(propertyName_.c_str()) : nullptr;
    if (!property) {
        return;
    }
    // The parent's setter may run anything, this node's deletion included.
    const std::string value = propertyValue_;
    const GameReachHold hold(holdsGameReach_);
    property->SetFromText(*parent, value.c_str());
}

ClassInfo* PropertyController::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "PropertyController", []() -> Entity* { return new PropertyController; }, &classInfo);
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetCategory("Behaviour");
    classInfo->AddProperty<PropertyString, &PropertyController::GetPropertyName,
                           &PropertyController::SetPropertyName>("propertyname");
    classInfo->AddProperty<PropertyString, &PropertyController::GetAssignedText,
                           &PropertyController::SetAssignedText>("propertyvalue");
    return classInfo;
}

} // namespace quarn
