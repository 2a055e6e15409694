#include "physics/Joint.h"

#include "core/math/Quaternion.h"
#include "physics/Anchor.h"
#include "physics/Module.h"
#include "physics/PhysicsMaster.h"
#include "physics/RigidBody.h"
#include "physics/RigidStruct.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quarn {
namespace {

constexpr Float3 Basis[3] = {{1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}};

} // namespace

Joint::Joint() {
    SetWorld(PhysicsMaster::GetCurrentWorld());
}

Joint::~Joint() {
    Detach();
    SetWorld(nullptr);
}

void Joint::ClearSavedLambda() {
    substeps_ = 1;
    for (float& lambda : savedLambda_) {
        lambda = 0.0f;
    }
}

void Joint::SetAnchors(Pivot* first, Pivot* second) {
    anchors_[0] = first;
    anchors_[1] = second;
}

Joint::RowFrame Joint::BeginRows(const JointInfo2& info) {
    RowFrame frame;
    frame.first = nodes_[0].body;
    frame.second = nodes_[1].body;
    if (frame.second) {
        const int32_t state = frame.second->GetState();
        frame.secondTakesPart = state == BodyDynamic || state == BodyGhost;
        frame.secondKinematic = state == BodyKinematic;
        frame.p2 = frame.second->GetWorldPosition();
    }
    frame.p1 = frame.first->GetWorldPosition();
    frame.a1 = anchors_[0]->GetWorldPosition();
    frame.a2 = anchors_[1]->GetWorldPosition();
    frame.k = info.fps * (jointErp_ != 0.0f ? jointErp_ : info.erp);
    return frame;
}

namespace {

// Below this turn a step (radians) the drift parts the anchors by less than 2e-6 of the arm:
// the rows leave it to the error correction, and take it in whole from twice the turn. A cut
// that is not gradual set slowly trembling bodies (planks of a bridge at 1 rad/s) trembling on.
constexpr float LeastDriftingTurn = 0.002f;

// Where a body's pose, turning at w (world space) for a step of h, takes the end of the arm r
// off the line the arm's velocity r x w holds it to: toward the axis of the turn, by 1 - cos of
// the angle the pose turns through (the first-order turn of a quaternion, 2 atan(|w| h / 2)).
// Bounded by the arm however fast the body turns.
Float3 TurnDrift(RigidBody& body, Float3 r, float h) {
    const Float3 w = body.GetWorldAngularVelocity();
    const float rate = w.Length();
    const float turn = rate * h;
    if (!(turn > LeastDriftingTurn) || !std::isfinite(turn)) {
        return Float3();
    }
    const float share = std::min(1.0f, turn / LeastDriftingTurn - 1.0f);
    const Float3 axis = w * (1.0f / rate);
    const float angle = 2.0f * std::atan(0.5f * rate * h);
    return axis.Cross(axis.Cross(r)) * ((1.0f - std::cos(angle)) * share);
}

} // namespace

void Joint::SetBallRows(JointInfo2& info, const RowFrame& frame) {
    const Float3 r1 = frame.a1 - frame.p1;
    const Float3 r2 = frame.a2 - frame.p2;
    Float3 error = (frame.a1 - frame.a2) * frame.k;
    // The rows hold the anchors' velocities together, but the poses carry the anchors along
    // arcs: bodies that turn fast (the end of a rope whipping at 80 rad/s) part their anchors
    // within every step by what the arcs leave their tangents, and the error correction takes
    // that back only over the steps after. The rows take the parting in as it comes.
    if (info.h > 0.0f) {
        Float3 drift = TurnDrift(*frame.first, r1, info.h);
        if (frame.second) {
            drift = drift - TurnDrift(*frame.second, r2, info.h);
        }
        error = error + drift * (1.0f / info.h);
    }
    const Float3 followed =
        frame.secondKinematic ? frame.second->GetPointVelocity(frame.a2) : Float3();
    const float c[3] = {error.x - followed.x, error.y - followed.y, error.z - followed.z};
    for (int i = 0; i < 3; ++i) {
        const int s = i * info.rowSkip;
        StoreJacobian(info.J1l + s, Basis[i]);
        StoreJacobian(info.J1a + s, Basis[i].Cross(r1));
        if (frame.secondTakesPart) {
            StoreJacobian(info.J2l + s, Basis[i] * -1.0f);
            StoreJacobian(info.J2a + s, Basis[i].Cross(r2) * -1.0f);
        }
        info.c[i] = c[i];
    }
    if (jointCfm_ != 0.0f) {
        info.cfm[0] = jointCfm_;
    }
}

void Joint::SetFixedOrientationRows(JointInfo2& info, int start, const RowFrame& frame) {
    const Quaternion q1 = anchors_[0]->GetWorldOrientation();
    const Quaternion q2 = anchors_[1]->GetWorldOrientation();
    const Quaternion q = q1 * Quaternion(-q2.x, -q2.y, -q2.z, q2.w);
    Float3 e(q.x, q.y, q.z);
    if (q.w < 0.0f) {
        e = e * -1.0f;
    }
    e = frame.first->LocalToWorldDirection(e) * (2.0f * frame.k);
    const float c[3] = {e.x, e.y, e.z};
    const bool secondMoves = frame.second && frame.second->GetState() != BodyStatic;
    for (int i = 0; i < 3; ++i) {
        const int s = (start + i) * info.rowSkip;
        StoreJacobian(info.J1a + s, Basis[i]);
        if (secondMoves) {
            StoreJacobian(info.J2a + s, Basis[i] * -1.0f);
        }
        info.c[start + i] = c[i];
    }
}

void Joint::Attach(RigidBody* a, RigidBody* b) {
    Detach();
    if (a && a == b) {
        return;
    }
    reversed_ = !a || a->GetState() == BodyStatic || a->GetState() == BodyKinematic;
    if (reversed_) {
        std::swap(a, b);
        std::swap(anchors_[0], anchors_[1]);
    }
    nodes_[0] = {this, a, nullptr};
    nodes_[1] = {this, b, nullptr};
    countedOnBodies_ = GetType() != JointContact;
    const int32_t count = countedOnBodies_ ? 1 : 0;
    if (a) {
        a->PushJointNode(&nodes_[1]);
        a->CountNonContactJoint(count);
    }
    if (b) {
        b->PushJointNode(&nodes_[0]);
        b->CountNonContactJoint(count);
    }
}

void Joint::Detach() {
    const int32_t uncount = countedOnBodies_ ? -1 : 0;
    countedOnBodies_ = false;
    if (RigidBody* first = nodes_[0].body) {
        first->RemoveJointNode(&nodes_[1]);
        first->CountNonContactJoint(uncount);
    }
    if (RigidBody* second = nodes_[1].body) {
        second->RemoveJointNode(&nodes_[0]);
        second->CountNonContactJoint(uncount);
    }
    nodes_[0] = {};
    nodes_[1] = {};
}

namespace {

RigidBody* BodyOf(Pivot* anchor) {
    Anchor* cast = ToAnchor(anchor);
    Module* module = cast ? cast->GetModule() : nullptr;
    return module ? module->GetBody() : nullptr;
}

} // namespace

void Joint::Reattach() {
    Detach();
    if (anchors_[0] && anchors_[1]) {
        // Attach orders bodies and anchors afresh from the anchors' own order.
        Pivot* first = anchors_[reversed_ ? 1 : 0];
        Pivot* second = anchors_[reversed_ ? 0 : 1];
        anchors_[0] = first;
        anchors_[1] = second;
        Attach(BodyOf(first), BodyOf(second));
    }
}

void Joint::AttachAnchors(Anchor* a, Anchor* b, bool snap) {
    if (snap || GetType() == JointRigidMerge) {
        Module::SnapToAnchor(a->GetModule(), a, b);
    }
    anchors_[0] = a;
    anchors_[1] = b;
    reversed_ = false;
    RigidBody* first = BodyOf(a);
    RigidBody* second = BodyOf(b);
    if (GetType() == JointRigidMerge) {
        if (first && second) {
            RigidStruct::Merge(first, second);
        }
        return;
    }
    Attach(first, second);
}

void Joint::UpdateErp() {
    Anchor* a = ToAnchor(anchors_[0]);
    Anchor* b = ToAnchor(anchors_[1]);
    if (a && b) {
        jointErp_ = std::max(a->GetErp(), b->GetErp());
    }
}

void Joint::UpdateCfm() {
    Anchor* a = ToAnchor(anchors_[0]);
    Anchor* b = ToAnchor(anchors_[1]);
    if (a && b) {
        jointCfm_ = std::max(a->GetCfm(), b->GetCfm());
    }
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
    // Every candidate pair of a step asks for its bodies; walking a list of a dozen contacts
    // each time cost a tenth of a crowd's step, where nearly no body has another joint.
    if (excludedType == JointContact &&
        (a->GetNonContactJointCount() == 0 || b->GetNonContactJointCount() == 0)) {
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
