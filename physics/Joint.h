#pragma once

#include "core/math/Vector.h"

#include <cstdint>

namespace quarn {

class Anchor;
class JointLimitMotor;
class Node;
class PhysicsMaster;
class Pivot;
class RigidBody;
class Joint;

// The kinds GetType answers; scripts and the world compare against them.
enum JointType : int32_t {
    JointBall = 1,
    JointHinge = 2,
    JointFixed = 3,
    JointRigidMerge = 4,
    JointContact = 5,
    JointSlider = 8,
};

// The numbers CreateJoint accepts; AXIS and HINGE both make a hinge, and the anchors' torque
// command tells them apart.
enum JointCreation : int32_t {
    CreateBall = 1,
    CreateAxis = 2,
    CreateFixed = 3,
    CreateRigidMerge = 4,
    CreateHinge = 7,
    CreateSlider = 8,
};

// A joint's place in one body's joint list: walking a body's list gives, per joint, the other
// body (null for the world).
struct JointNode {
    Joint* joint = nullptr;
    RigidBody* body = nullptr;
    JointNode* next = nullptr;
};

// +J^T lambda per body as the island step found it: the negation of what the constraint applied.
struct JointFeedback {
    Float3 force1;
    Float3 torque1;
    Float3 force2;
    Float3 torque2;
};

struct JointInfo1 {
    int32_t m = 0;   // rows
    int32_t nub = 0; // unbounded rows, always the first ones
};

// Where a joint writes its rows. The caller zeroes J and c and presets cfm, lo = -FLT_MAX,
// hi = FLT_MAX and findex = -1, so a joint writes only what differs. Row i of J1l starts at
// J1l + i * rowSkip (likewise J1a, J2l, J2a); each entry is three floats.
struct JointInfo2 {
    // 1 / the world's step length: the rate at which rows take back their errors. An island
    // stepped in parts takes them back as one whole step does: at the parts' own rate a step cut
    // finer than the one before would throw out the last step's error at once, and the chain
    // with it.
    float fps = 0.0f;
    float erp = 0.0f; // the world's error reduction
    float* J1l = nullptr;
    float* J1a = nullptr;
    float* J2l = nullptr;
    float* J2a = nullptr;
    int32_t rowSkip = 0; // a multiple of 4
    float* c = nullptr;
    float* cfm = nullptr;
    float* lo = nullptr;
    float* hi = nullptr;
    int32_t* findex = nullptr; // relative to the joint's first row; -1 for none
    // The length of the step, or of the part of it, the rows are solved for (s); 0 where none
    // is known, and the rows then take nothing in for the turns it makes.
    float h = 0.0f;
};

// Writes one three-float Jacobian entry.
inline void StoreJacobian(float* row, Float3 v) {
    row[0] = v.x;
    row[1] = v.y;
    row[2] = v.z;
}

// A constraint between two bodies, or one body and the world. Every row has its angular part
// J_l x r (r the point minus the body's world position), matching the point velocity v + r x w.
class Joint {
public:
    // Joins the current world's joint list when there is one.
    Joint();
    virtual ~Joint();
    Joint(const Joint&) = delete;
    Joint& operator=(const Joint&) = delete;

    // Prepares joint-specific state after (re)attaching to a world.
    virtual void Reset() {}
    virtual void GetInfo1(JointInfo1& info) = 0;
    virtual void GetInfo2(JointInfo2& info) = 0;
    virtual int32_t GetType() const { return 0; }
    virtual JointLimitMotor* GetLimitMotor() { return nullptr; }
    // The joint's angle or position and its rate; 0 for joints without one.
    virtual float GetVariable() { return 0.0f; }
    virtual float GetVariableRate() { return 0.0f; }

    // The first body must be the one that moves: when a is absent, STATIC or KINEMATIC the two
    // bodies (and the anchors) trade places and the joint is marked reversed.
    // A body cannot be held to itself: with a equal to b the joint stays detached.
    void Attach(RigidBody* a, RigidBody* b);
    void Detach();
    // Called when a body's state changes and when modules change bodies: looks the anchors'
    // bodies up again.
    void Reattach();
    // Takes the anchors' modules' bodies; with snap, or always for a rigid merge, first moves
    // a's module so that the anchors meet. A rigid merge joins the bodies into one.
    void AttachAnchors(Anchor* a, Anchor* b, bool snap);
    // The larger of the two anchors' values.
    void UpdateErp();
    void UpdateCfm();
    // The number CreateJoint made the joint with.
    int32_t GetCreation() const { return creation_; }
    void SetCreation(int32_t creation) { creation_ = creation; }
    void SetWorld(PhysicsMaster* world);
    // For pooled contact joints: a clean joint in the world's list, attached to nothing.
    void Prepare(PhysicsMaster* world);
    // Gives a pooled joint back: detached and out of the world's list.
    void Release();
    // Whether a joint of a type other than `excludedType` links a with b.
    static bool AreConnected(RigidBody* a, RigidBody* b, int32_t excludedType);

    // The anchors whose world transforms give the joint its geometry, in the order of the bodies
    // they belong to; Attach swaps them with the bodies.
    void SetAnchors(Pivot* first, Pivot* second);
    Pivot* GetAnchor(int index) const { return anchors_[index]; }
    RigidBody* GetBody(int index) const { return nodes_[index].body; }
    bool IsReversed() const { return reversed_; }
    PhysicsMaster* GetWorld() const { return world_; }
    int32_t GetIslandTag() const { return islandTag_; }
    void SetIslandTag(int32_t tag) { islandTag_ = tag; }
    JointFeedback* GetFeedback() const { return feedback_; }
    void SetFeedback(JointFeedback* feedback) { feedback_ = feedback; }
    // Multipliers an iterative solver carries from one step to the next.
    float* GetSavedLambda() { return savedLambda_; }
    const float* GetSavedLambda() const { return savedLambda_; }
    // The parts its island's last step asked to be cut into (IslandSubsteps).
    int32_t GetSubsteps() const { return substeps_; }
    void SetSubsteps(int32_t parts) { substeps_ = parts; }

    // The world's joint list.
    Joint* nextInWorld_ = nullptr;
    Joint* previousInWorld_ = nullptr;

protected:
    // What every anchor joint's rows share; see BeginRows.
    struct RowFrame {
        RigidBody* first = nullptr;
        RigidBody* second = nullptr;
        bool secondTakesPart = false; // DYNAMIC or GHOST
        bool secondKinematic = false;
        Float3 a1, a2; // anchors, world
        Float3 p1, p2; // bodies, world; p2 is 0 without a second body
        float k = 0.0f;
    };
    // False when an anchor is missing: such a joint has no geometry and writes no rows.
    bool HasGeometry() const { return anchors_[0] && anchors_[1]; }
    RowFrame BeginRows(const JointInfo2& info);
    // Rows 0-2 hold the anchors together.
    void SetBallRows(JointInfo2& info, const RowFrame& frame);
    // Three rows from `start` keep the anchors' orientations together.
    void SetFixedOrientationRows(JointInfo2& info, int start, const RowFrame& frame);

    bool reversed_ = false;
    bool active_ = true;
    float jointErp_ = 0.0f; // 0: the world's value applies
    float jointCfm_ = 0.0f;

private:
    int32_t creation_ = 0;
    void ClearSavedLambda();

    JointFeedback* feedback_ = nullptr;
    Pivot* anchors_[2] = {};
    float savedLambda_[6] = {};
    int32_t substeps_ = 1;
    // Beside the nodes: the walk that finds the islands reads it from a body's list, node by node.
    int32_t islandTag_ = 0;
    // Node 0 holds the first body and sits in the second body's list; node 1 the other way round.
    JointNode nodes_[2];
    // Whether Attach counted the joint on its bodies as one that is not a contact.
    bool countedOnBodies_ = false;
    PhysicsMaster* world_ = nullptr;
};

} // namespace quarn
