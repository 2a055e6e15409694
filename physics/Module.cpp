#include "physics/Module.h"

#include "core/debug/Validity.h"
#include "core/object/ClassInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "physics/Anchor.h"
#include "physics/Joint.h"
#include "physics/RigidBody.h"

#include <algorithm>
#include <memory>

namespace quarn {

ClassInfo* Module::classInfo = nullptr;

namespace {

// A module reference that reads as the bare id in decimal.
class PropertyModuleId : public PropertyEntity {
public:
    using PropertyEntity::PropertyEntity;
    std::string GetAsText(const Entity& object) const override {
        uint32_t id = 0;
        GetValue(object, &id);
        return std::to_string(static_cast<int32_t>(id));
    }
};

template <class T>
T* CastEntity(Entity* entity, ClassInfo* classInfo) {
    return entity && classInfo ? static_cast<T*>(entity->CastTo(classInfo)) : nullptr;
}

// The module that `anchor`'s partner belongs to, or null when it is not attached.
Module* AttachedModule(Anchor* anchor) {
    Anchor* partner = anchor->GetPartner();
    return partner ? partner->GetModule() : nullptr;
}

Anchor* ConnectingAnchorSearch(Node* node, Module* target) {
    if (!node) {
        return nullptr;
    }
    node->Stamp();
    Anchor* anchor = ToAnchor(node);
    if (!anchor) {
        for (Node* child = node->GetFirstChild(); child; child = child->GetNext()) {
            if (Anchor* found = ConnectingAnchorSearch(child, target)) {
                return found;
            }
        }
        return nullptr;
    }
    Module* reached = AttachedModule(anchor);
    if (!reached) {
        return nullptr;
    }
    if (reached == target) {
        return anchor;
    }
    if (reached->IsStamped()) {
        return nullptr;
    }
    return ConnectingAnchorSearch(reached, target) ? anchor : nullptr;
}

} // namespace

Module* ToModule(Entity* entity) {
    return CastEntity<Module>(entity, Module::classInfo);
}

Anchor* ToAnchor(Entity* entity) {
    return CastEntity<Anchor>(entity, Anchor::classInfo);
}

RigidBody* ToRigidBody(Entity* entity) {
    return CastEntity<RigidBody>(entity, RigidBody::classInfo);
}

Module::Module() : body_(this), masterModule_(this) {}

Module::~Module() {
    for (Anchor* anchor : anchors_) {
        anchor->ForgetModule(this);
    }
    anchors_.clear();
}

void Module::ParentFlagsChanged(Node* parent, bool attached) {
    for (Node* node = parent; node; node = node->GetParent()) {
        if (RigidBody* body = ToRigidBody(node)) {
            body_.SetId(attached ? body->GetId() : 0);
        }
    }
    Pivot::ParentFlagsChanged(parent, attached);
}

Anchor* Module::GetAnchor(int32_t index) const {
    return index >= 0 && index < GetAnchorCount() ? anchors_[index] : nullptr;
}

int32_t Module::FindAnchorIndex(const Anchor* anchor) const {
    auto found = std::find(anchors_.begin(), anchors_.end(), anchor);
    return found == anchors_.end() ? -1 : static_cast<int32_t>(found - anchors_.begin());
}

void Module::AddAnchor(Anchor* anchor) {
    if (FindAnchorIndex(anchor) < 0) {
        anchors_.push_back(anchor);
    }
}

void Module::RemoveAnchor(Anchor* anchor) {
    std::erase(anchors_, anchor);
}

RigidBody* Module::GetBody() const {
    return ToRigidBody(body_.GetTarget());
}

void Module::StampConnected(Anchor* excluded) {
    // Only rigid links hold a structure together; a stack keeps long chains off the call stack.
    std::vector<Module*> pending{this};
    Stamp();
    while (!pending.empty()) {
        Module* module = pending.back();
        pending.pop_back();
        for (Anchor* anchor : module->anchors_) {
            Joint* joint = anchor->GetJoint();
            Module* reached = AttachedModule(anchor);
            if (anchor == excluded || !reached || reached->IsStamped() || !joint ||
                joint->GetType() != JointRigidMerge) {
                continue;
            }
            reached->Stamp();
            pending.push_back(reached);
        }
    }
}

void Module::SnapToAnchor(Module* module, Anchor* own, Anchor* target) {
    if (!module || !own || !target || module->GetBodyId() == 0) {
        return;
    }
    Module* targetModule = target->GetModule();
    const bool shared = targetModule && targetModule->GetBodyId() == module->GetBodyId();
    const Quaternion qP = own->GetWorldOrientation();
    const Quaternion qQ = target->GetWorldOrientation();
    const Quaternion c(-qP.x, -qP.y, -qP.z, qP.w);
    // A module sharing target's body moves alone inside it; any other takes its body along.
    Pivot* moved = shared ? static_cast<Pivot*>(module) : module->GetBody();
    if (!moved) {
        return;
    }
    moved->SetWorldOrientation(moved->GetWorldOrientation() * c * qQ);
    const Float3 d = target->GetWorldPosition() - own->GetWorldPosition();
    moved->SetWorldPosition(moved->GetWorldPosition() + d);
}

void Module::SnapToModule(Node* node) {
    // An explicit stack in the order the recursive walk would take.
    std::vector<Node*> pending{node};
    while (!pending.empty()) {
        Node* current = pending.back();
        pending.pop_back();
        current->Stamp();
        if (Anchor* anchor = ToAnchor(current)) {
            Module* reached = AttachedModule(anchor);
            if (!reached || reached->IsStamped()) {
                continue;
            }
            SnapToAnchor(reached, anchor->GetPartner(), anchor);
            pending.push_back(reached);
            continue;
        }
        const size_t first = pending.size();
        for (Node* child = current->GetFirstChild(); child; child = child->GetNext()) {
            pending.push_back(child);
        }
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(first), pending.end());
    }
}

Anchor* Module::FindConnectingAnchor(Module* from, Module* to) {
    Node::NewVisit();
    return ConnectingAnchorSearch(from, to);
}

int32_t Module::CountAttachedAnchors(Node* node) {
    int32_t count = 0;
    std::vector<Node*> pending{node};
    while (!pending.empty()) {
        Node* current = pending.back();
        pending.pop_back();
        if (Anchor* anchor = ToAnchor(current)) {
            count += anchor->GetJoint() ? 1 : 0;
            continue;
        }
        for (Node* child = current->GetFirstChild(); child; child = child->GetNext()) {
            pending.push_back(child);
        }
    }
    return count;
}

// Script methods ------------------------------------------------------------------------------

Entity* Module::ScriptFindConnectingAnchor(Entity* from, Entity* to) {
    Module* fromModule = ToModule(from);
    Module* toModule = ToModule(to);
    return fromModule && toModule ? FindConnectingAnchor(fromModule, toModule) : nullptr;
}

void Module::ScriptSnapToModule(Entity* module) {
    if (!ValidityCheck(module != nullptr, "SnapToModule received a null-entity")) {
        return;
    }
    Node::NewVisit();
    if (Module* start = ToModule(module)) {
        SnapToModule(start);
    }
}

int32_t Module::ScriptCountAttachedAnchors(Entity* module) {
    Module* cast = ToModule(module);
    return ValidityCheck(cast != nullptr, "Module is none") ? CountAttachedAnchors(cast) : 0;
}

int32_t Module::ScriptGetAnchorCount(Entity* module) {
    Module* cast = ToModule(module);
    return ValidityCheck(cast != nullptr, "Module is none") ? cast->GetAnchorCount() : 0;
}

Entity* Module::ScriptGetAnchor(Entity* module, int32_t index) {
    // An index outside the list reads as none.
    Module* cast = ToModule(module);
    return ValidityCheck(cast != nullptr, "Module is none") ? cast->GetAnchor(index) : nullptr;
}

ClassInfo* Module::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = Pivot::RegisterClass();
    classInfo = new ClassInfo("Module", []() -> Entity* { return new Module(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Physics");
    using M = Module;
    const uint32_t none = 0;
    Anchor::SetModuleResultType(ClassTypeBase + classInfo->GetClassNumber());
    classInfo
        ->AddProperty("master_mod",
                      std::make_unique<PropertyModuleId>(ClassTypeBase + classInfo->GetClassNumber()),
                      MakeGetter<&M::GetMasterModule>(), MakeSetter<&M::SetMasterModule>())
        ->SetDefault(&none);
    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "():RigidBody", BindMethod<&M::ScriptGetBody>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(Module,Module):Anchor",
                         BindMethod<&M::ScriptFindConnectingAnchor>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(Module)", BindMethod<&M::ScriptSnapToModule>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(Module):int",
                         BindMethod<&M::ScriptCountAttachedAnchors>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(Module):int", BindMethod<&M::ScriptGetAnchorCount>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(Module,int):Anchor",
                         BindMethod<&M::ScriptGetAnchor>(), MethodScript);
    return classInfo;
}

} // namespace quarn
