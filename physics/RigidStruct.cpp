#include "physics/RigidStruct.h"

#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "physics/Anchor.h"
#include "physics/Module.h"
#include "physics/PhysicsMaster.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quarn {

ClassInfo* RigidStruct::classInfo = nullptr;

namespace {

// Where a body keeps its parts: below its first child when that is named "CM".
Node* PartsHolder(RigidBody* body) {
    Node* first = body->GetFirstChild();
    return first && first->GetName() == "CM" ? first : body;
}

// Moves the node under `holder`, keeping where it is in the world.
void MoveKeepingPose(Node* node, Node* holder) {
    Pivot* pivot = (node->GetFlags() & NodeKindPivot) ? static_cast<Pivot*>(node) : nullptr;
    Float3 position;
    Quaternion orientation;
    if (pivot) {
        position = pivot->GetWorldPosition();
        orientation = pivot->GetWorldOrientation();
    }
    node->AttachAsLast(holder);
    if (pivot) {
        pivot->SetWorldOrientation(orientation);
        pivot->SetWorldPosition(position);
    }
}

// Re-attaching changes the body's list; the snapshot is taken first.
void ReattachJoints(RigidBody* body) {
    std::vector<Joint*> joints;
    for (JointNode* node = body->GetJointList(); node; node = node->next) {
        if (node->joint->GetType() != JointRigidMerge) {
            joints.push_back(node->joint);
        }
    }
    for (Joint* joint : joints) {
        joint->Reattach();
    }
}

} // namespace

void RigidStruct::Merge(RigidBody* from, RigidBody* into) {
    if (!from || !into || from == into) {
        return;
    }
    Node* source = PartsHolder(from);
    Node* destination = PartsHolder(into);
    std::vector<uint64_t> children;
    for (Node* child = source->GetFirstChild(); child; child = child->GetNext()) {
        if (child != source) {
            children.push_back(child->GetSerial());
        }
    }
    for (uint64_t serial : children) {
        auto* child = static_cast<Node*>(Entity::FindBySerial(serial));
        if (child && child->GetParent() == source) {
            MoveKeepingPose(child, destination);
        }
    }
    ReattachJoints(from);
    if (from->GetState() == BodyStatic) {
        into->SetState(BodyStatic);
    }
    into->SetDrag(std::max(from->GetDrag(), into->GetDrag()));
    into->SetAngularDrag(std::max(from->GetAngularDrag(), into->GetAngularDrag()));
    from->Delete();
    into->UpdateMass(true);
}

void RigidStruct::Split(Anchor* anchor) {
    Anchor* partner = anchor ? anchor->GetPartner() : nullptr;
    Module* own = anchor ? anchor->GetModule() : nullptr;
    Module* other = partner ? partner->GetModule() : nullptr;
    RigidBody* body = own ? own->GetBody() : nullptr;
    if (!body || !other || other->GetBody() != body) {
        return;
    }
    Node::NewVisit();
    own->StampConnected(anchor);
    if (other->IsStamped()) {
        return;
    }
    Node* parent = body->GetParent();
    if (!parent) {
        LogMessage("RigidStruct: cannot split %s, which has no parent to hold the new body\n",
                   body->GetName().c_str());
        return;
    }
    // The modules to move: those of this side that lie in the old body.
    std::vector<uint64_t> moving;
    for (Node* node = body->GetNextInTree(true); node && node->IsInSubtreeOf(body);
         node = node->GetNextInTree(true)) {
        if (node->IsStamped() && node->GetClass()->IsDerivedFrom(Module::classInfo)) {
            moving.push_back(node->GetSerial());
        }
    }

    auto* split = new RigidStruct();
    split->SetName(body->GetName().c_str());
    split->AttachAfter(parent, body);
    split->SetWorldOrientation(body->GetWorldOrientation());
    split->SetWorldPosition(body->GetWorldPosition());
    split->SetState(body->GetState());
    split->SetLinearVelocity(body->GetLinearVelocity());
    split->SetAngularVelocity(body->GetAngularVelocity());
    split->SetDrag(body->GetDrag());
    split->SetAngularDrag(body->GetAngularDrag());
    Node* holder = split;
    if (PartsHolder(body) != body) {
        auto* centre = new Pivot();
        centre->SetName("CM");
        centre->AttachAsLast(split);
        holder = centre;
    }
    const uint64_t bodySerial = body->GetSerial();
    for (uint64_t serial : moving) {
        auto* module = static_cast<Node*>(Entity::FindBySerial(serial));
        // A module inside another moving module has moved with it already.
        if (module && !module->IsInSubtreeOf(split)) {
            MoveKeepingPose(module, holder);
        }
    }
    if (Entity::FindBySerial(bodySerial) != body) {
        return;
    }
    ReattachJoints(body);
    // A joint that lay within the one body was detached; its two sides may be apart now.
    for (uint64_t serial : moving) {
        if (Module* module = ToModule(Entity::FindBySerial(serial))) {
            for (int32_t i = 0; i < module->GetAnchorCount(); ++i) {
                Joint* joint = module->GetAnchor(i)->GetJoint();
                if (joint && joint->GetType() != JointRigidMerge) {
                    joint->Reattach();
                }
            }
        }
    }
    body->UpdateMass(true);
    split->UpdateMass(true);
    split->SetWorld(PhysicsMaster::GetCurrentWorld());
}

ClassInfo* RigidStruct::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = RigidBody::RegisterClass();
    classInfo =
        new ClassInfo("RigidStruct", []() -> Entity* { return new RigidStruct(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Physics");
    return classInfo;
}

} // namespace quarn
