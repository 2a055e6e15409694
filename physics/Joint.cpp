#include "physics/Joint.h"

#include "physics/PhysicsMaster.h"
#include "physics/RigidBody.h"

#include <utility>

namespace quarn {

Joint::Joint() {
    SetWorld(PhysicsMaster::GetCurrentWorld());
}

Joint::~Joint() {
    Detach();
    SetWorld(nullptr);
}

void Joint::ClearSavedLambda() {
    for (float& lambda : savedLambda_) {
        lambda = 0.0f;
    }
}

void Joint::Attach(RigidBody* a, RigidBody* b) {
    Detach();
    reversed_ = !a || a->GetState() == BodyStatic || a->GetState() == BodyKinematic;
    if (reversed_) {
        std::swap(a, b);
        std::swap(anchors_[0], anchors_[1]);
    }
    nodes_[0] = {this, a, nullptr};
    nodes_[1] = {this, b, nullptr};
    if (a) {
        a->PushJointNode(&nodes_[1]);
    }
    if (b) {
        b->PushJointNode(&nodes_[0]);
    }
}

void Joint::Detach() {
    if (RigidBody* first = nodes_[0].body) {
        first->RemoveJointNode(&nodes_[1]);
    }
    if (RigidBody* second = nodes_[1].body) {
        second->RemoveJointNode(&nodes_[0]);
    }
    nodes_[0] = {};
    nodes_[1] = {};
}

void Joint::Reattach() {
    // Joints made by anchors look their bodies up again once anchors exist; until then a joint
    // whose body changed state lets go of both.
    Detach();
}

void Joint::SetWorld(PhysicsMaster* world) {
    if (world_) {
        world_->RemoveJoint(this);
    }
    world_ = world;
    if (world_) {
        world_->AddJoint(this);
        ClearSavedLambda();
    }
}

void Joint::Prepare(PhysicsMaster* world) {
    SetWorld(world);
    Detach();
    ClearSavedLambda();
    reversed_ = false;
    feedback_ = nullptr;
    Reset();
}

void Joint::Release() {
    Detach();
    SetWorld(nullptr);
}

bool Joint::AreConnected(RigidBody* a, RigidBody* b, int32_t excludedType) {
    if (!a || !b) {
        return false;
    }
    for (JointNode* node = a->GetJointList(); node; node = node->next) {
        if (node->body == b && node->joint->GetType() != excludedType) {
            return true;
        }
    }
    return false;
}

} // namespace quarn
