#include "physics/IslandStep.h"

#include "core/debug/Assertion.h"
#include "physics/ContactJoint.h"
#include "physics/Joint.h"
#include "physics/PhysicsMaster.h"
#include "physics/RigidBody.h"
#include "physics/ScratchArena.h"

#include <algorithm>
#include <cmath>

namespace quarn {

bool InIsland(const RigidBody* body, RigidBody* const* bodies, int32_t nb) {
    const int tag = body ? body->GetIslandTag() : -1;
    return tag >= 0 && tag < nb && bodies[tag] == body;
}

namespace {

bool NoBodyFasterThan(RigidBody* const* bodies, int32_t nb, float speed) {
    return std::none_of(bodies, bodies + nb, [speed](const RigidBody* body) {
        return body->GetLinearVelocity().LengthSquared() > speed * speed;
    });
}

} // namespace

bool ComingToRest(RigidBody* const* bodies, int32_t nb) {
    return NoBodyFasterThan(bodies, nb, RestingSpeed);
}

bool HasCalmed(RigidBody* const* bodies, int32_t nb) {
    return NoBodyFasterThan(bodies, nb, CalmSpeed);
}

Float3 ToWorldSpace(Pivot* parent, Float3 v) {
    return parent ? parent->LocalToWorldDirection(v) : v;
}

Float3 ToStoredSpace(Pivot* parent, Float3 v) {
    return parent ? parent->WorldToLocalDirection(v) : v;
}

namespace {

// A body-frame tensor in world space: R^T T R, the rows of R the body's axes. A tensor alike
// about every axis (a cube's, a ball's) is its own turn on unscaled axes, kept exact.
Matrix3 InWorldSpace(RigidBody& body, const Matrix3& tensor) {
    const Matrix3 rotation = Matrix3::RotationOf(body.GetWorldMatrix());
    if (tensor.IsScaledIdentity() && rotation.HasUnitRows()) {
        return tensor;
    }
    Matrix3 world;
    rotation.Transposed().Multiply(tensor, world);
    world.Multiply(rotation, world);
    return world;
}

} // namespace

Matrix3 WorldInverseInertia(RigidBody& body) {
    return InWorldSpace(body, body.GetSolverInverseInertia());
}

Matrix3 WorldInertia(RigidBody& body) {
    return InWorldSpace(body, body.GetInertia());
}

namespace {

// s v = w x v.
Matrix3 Cross(Float3 w) {
    Matrix3 s = Matrix3::Zero();
    s.m[0][1] = -w.z;
    s.m[0][2] = w.y;
    s.m[1][0] = w.z;
    s.m[1][2] = -w.x;
    s.m[2][0] = -w.y;
    s.m[2][1] = w.x;
    return s;
}

} // namespace

Float3 GyroscopicTorque(const Matrix3& inertia, Float3 w, float h) {
    if (inertia.IsScaledIdentity()) {
        return Float3(); // w x (k w) is 0
    }
    const Float3 momentum = inertia.Transform(w);
    // The slope of w x (I w) in w is [w]x I - [I w]x; the Newton matrix is I - h times it.
    Matrix3 slope;
    Cross(w).Multiply(inertia, slope);
    const Matrix3 turn = Cross(momentum);
    Matrix3 newton = inertia;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            newton.m[i][j] -= h * (slope.m[i][j] - turn.m[i][j]);
        }
    }
    if (!InvertAtAnyScale(newton)) {
        return Float3();
    }
    // The change of w, as the torque that gives it over h.
    return inertia.Transform(newton.Transform(w.Cross(momentum)));
}

bool GetIslandRows(Joint& joint, RigidBody* const* bodies, int32_t nb, JointInfo1& info) {
    info = JointInfo1();
    joint.GetInfo1(info);
    QUARN_CHECK_ASSERTION(
        info.m >= 0 && info.m <= 6 && info.nub >= 0 && info.nub <= info.m,
        "info[i].m >= 0 && info[i].m <= 6 && info[i].nub >= 0 && info[i].nub <= info[i].m");
    const bool firstInIsland = QUARN_CHECK_ASSERTION(InIsland(joint.GetBody(0), bodies, nb),
                                                     "joint's first body in the island");
    return info.m > 0 && info.m <= 6 && firstInIsland;
}

int64_t CountIslandRows(Joint* const* joints, int32_t nj) {
    int64_t rows = 0;
    for (int32_t i = 0; i < nj; ++i) {
        JointInfo1 info;
        joints[i]->GetInfo1(info);
        rows += info.m > 0 && info.m <= 6 ? info.m : 0;
    }
    return rows;
}

bool AllFinite(const float* values, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (!std::isfinite(values[i])) {
            return false;
        }
    }
    return true;
}

bool InvertAtAnyScale(Matrix3& m) {
    float largest = 0.0f;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            largest = std::max(largest, std::fabs(m.m[i][j]));
        }
    }
    int exponent = 0;
    if (largest > 0.0f && std::isfinite(largest)) {
        std::frexp(largest, &exponent);
    }
    // Entries below float's normal range would need a scale beyond it: 2^125 brings them near
    // enough, and an inverse that overflows is refused below.
    exponent = std::max(exponent, -125);
    // The inverse of m s is that of m over s: the same scale takes it back.
    const float scale = std::ldexp(1.0f, -exponent);
    const auto rescale = [&m, scale] {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                m.m[i][j] *= scale;
            }
        }
    };
    rescale();
    if (!m.Invert()) {
        return false;
    }
    rescale();
    if (!m.IsFinite()) {
        m = Matrix3::Zero();
        return false;
    }
    return true;
}

int32_t SetRoot(int32_t* parent, int32_t b) {
    while (parent[b] != b) {
        parent[b] = parent[parent[b]];
        b = parent[b];
    }
    return b;
}

void HeaviestJoined(RigidBody* const* bodies, int32_t nb, Joint* const* joints, int32_t nj,
                    const float* inverseMass, float* heaviest, ScratchArena& scratch) {
    ScratchArena::Scope scope(scratch);
    // The bodies joints hold together, as sets that share a root.
    int32_t* root = scratch.Take<int32_t>(static_cast<size_t>(nb));
    for (int32_t b = 0; b < nb; ++b) {
        root[b] = b;
    }
    auto find = [root](int32_t b) { return SetRoot(root, b); };
    for (int32_t i = 0; i < nj; ++i) {
        const Joint& joint = *joints[i];
        const RigidBody* first = joint.GetBody(0);
        const RigidBody* second = joint.GetBody(1);
        if (joint.GetType() != JointContact && InIsland(first, bodies, nb) &&
            InIsland(second, bodies, nb) && second->IsMovable()) {
            root[find(first->GetIslandTag())] = find(second->GetIslandTag());
        }
    }
    // The least inverse mass of a set that moves, at its root.
    std::copy(inverseMass, inverseMass + nb, heaviest);
    for (int32_t b = 0; b < nb; ++b) {
        float& least = heaviest[find(b)];
        if (inverseMass[b] > 0.0f && (least == 0.0f || inverseMass[b] < least)) {
            least = inverseMass[b];
        }
    }
    for (int32_t b = 0; b < nb; ++b) {
        heaviest[b] = heaviest[find(b)];
    }
}

namespace {

// The speed of a body's kinetic energy, turning included: sqrt(2 E / m).
float KineticSpeed(RigidBody& body, const Matrix3& inertia) {
    const Float3 v = body.GetLinearVelocity();
    const Float3 w = body.GetWorldAngularVelocity();
    const float turning = w.Dot(inertia.Transform(w)) * body.GetInverseMass();
    return std::sqrt(v.Dot(v) + std::max(0.0f, turning));
}

} // namespace

Matrix3* WorldInertias(RigidBody* const* bodies, int32_t nb, ScratchArena& scratch) {
    Matrix3* inertia = scratch.Take<Matrix3>(nb);
    for (int b = 0; b < nb; ++b) {
        inertia[b] = WorldInertia(*bodies[b]);
    }
    return inertia;
}

StartMotion StartSpeeds(RigidBody* const* bodies, int32_t nb, const Matrix3* inertia,
                        ScratchArena& scratch) {
    float* speed = scratch.Take<float>(nb);
    for (int b = 0; b < nb; ++b) {
        RigidBody& body = *bodies[b];
        speed[b] = body.IsMovable() && body.GetInverseMass() > 0.0f
                       ? KineticSpeed(body, inertia[b])
                       : body.GetLinearVelocity().Length();
    }
    return {inertia, speed};
}

void HoldSqueezedBodies(RigidBody* const* bodies, int32_t nb, const StartMotion& start, float h,
                        ScratchArena& scratch) {
    ScratchArena::Scope scope(scratch);
    // Per body, its start's kinetic speed raised by the work its outside forces did over the step
    // at the velocities it ends with, and by a step's worth of them across its motion (what the
    // solve moves a resting body by to take back a tilt or a sinking). Added in squares, not as a
    // step's fall on top of the start: a pinch held over many steps raised the bound by a step's
    // fall each step, a metre a second every second under gravity.
    float* own = scratch.Take<float>(nb);
    for (int b = 0; b < nb; ++b) {
        RigidBody& body = *bodies[b];
        const float inverseMass = body.GetInverseMass();
        const float work =
            body.GetForce().Dot(ToWorldSpace(body.GetTransformParent(), body.GetLinearVelocity())) +
            body.GetTorque().Dot(body.GetWorldAngularVelocity());
        const float pushed = body.GetForce().Length() * inverseMass * h;
        own[b] = std::sqrt(start.speed[b] * start.speed[b] + pushed * pushed +
                           std::max(0.0f, 2.0f * h * work * inverseMass));
    }
    // Heaviest first, so that a partner vouches for a body with its motion only once it is held
    // itself, and with no more than its own kinetic speed: two light bodies pinched together
    // pumped each other over several steps, each spun up and flinging the other at its rim's
    // speed.
    int32_t* order = scratch.Take<int32_t>(nb);
    bool* held = scratch.Take<bool>(nb);
    // Each body's kinetic speed, found when first asked for and again once the hold scales it:
    // a partner of many contacts was asked for its own at each.
    float* kinetic = scratch.Take<float>(nb);
    for (int b = 0; b < nb; ++b) {
        order[b] = b;
        held[b] = false;
        kinetic[b] = -1.0f;
    }
    const auto kineticSpeed = [bodies, kinetic, &start](int32_t b) {
        if (kinetic[b] < 0.0f) {
            kinetic[b] = KineticSpeed(*bodies[b], start.inertia[b]);
        }
        return kinetic[b];
    };
    // A body that touches nothing is left to its own motion.
    const auto holdable = [bodies](int32_t b) {
        const RigidBody& body = *bodies[b];
        return body.IsMovable() && body.GetInverseMass() > 0.0f && body.GetJointList();
    };
    // Only a body past its own bound is held, and only a held one changes another's: where none
    // is, as in most steps, nothing is left to do.
    bool anyPast = false;
    for (int b = 0; b < nb && !anyPast; ++b) {
        anyPast = holdable(b) && kineticSpeed(b) > own[b];
    }
    if (!anyPast) {
        return;
    }
    // Ties in their island's order, without the buffer a stable sort would take every step.
    std::sort(order, order + nb, [bodies](int32_t a, int32_t b) {
        const float ia = bodies[a]->GetInverseMass();
        const float ib = bodies[b]->GetInverseMass();
        return ia < ib || (ia == ib && a < b);
    });
    for (int k = 0; k < nb; ++k) {
        const int b = order[k];
        held[b] = true;
        RigidBody& body = *bodies[b];
        if (!holdable(b)) {
            continue;
        }
        const float speed = kineticSpeed(b);
        if (!(speed > own[b])) {
            continue;
        }
        float fastest = 0.0f;
        bool contactsOnly = true;
        for (JointNode* node = body.GetJointList(); node; node = node->next) {
            if (node->joint->GetType() != JointContact) {
                contactsOnly = false;
                break;
            }
            const auto& contact = static_cast<const ContactJoint&>(*node->joint);
            RigidBody* partner =
                contact.GetBody(0) == &body ? contact.GetBody(1) : contact.GetBody(0);
            float reach = contact.GetPushOut() - contact.GetDeepPushOut();
            if (partner && InIsland(partner, bodies, nb)) {
                const int p = partner->GetIslandTag();
                reach += held[p] ? std::min(partner->GetPointVelocity(contact.position).Length(),
                                            kineticSpeed(p))
                                 : own[p];
            } else if (partner) {
                reach += partner->GetPointVelocity(contact.position).Length();
            }
            if (contact.surface.mode & ContactMotion) {
                reach += contact.surface.motion.Length();
            }
            fastest = std::max(fastest, reach);
        }
        const float bound = std::max(own[b], fastest);
        if (contactsOnly && speed > bound) {
            const float scale = bound / speed;
            body.SetLinearVelocity(body.GetLinearVelocity() * scale);
            body.SetAngularVelocity(body.GetAngularVelocity() * scale);
            kinetic[b] = KineticSpeed(body, start.inertia[b]);
        }
    }
}

void IntegrateIsland(RigidBody* const* bodies, int32_t nb, float h, const Float3* pushVelocity) {
    for (int b = 0; b < nb; ++b) {
        if (pushVelocity) {
            RigidBody& body = *bodies[b];
            body.IntegratePose(h, ToStoredSpace(body.GetTransformParent(), pushVelocity[2 * b]),
                               ToStoredSpace(body.GetTransformParent(), pushVelocity[2 * b + 1]));
        } else {
            bodies[b]->IntegratePose(h);
        }
    }
    for (int b = 0; b < nb; ++b) {
        bodies[b]->SetForce(Float3());
        bodies[b]->SetTorque(Float3());
    }
}

void AbandonIsland(RigidBody* const* bodies, int32_t nb, int64_t rows) {
    for (int b = 0; b < nb; ++b) {
        bodies[b]->SetForce(Float3());
        bodies[b]->SetTorque(Float3());
    }
    if (nb > 0 && bodies[0]->GetWorld()) {
        bodies[0]->GetWorld()->ReportFailedIsland(*bodies[0], nb, rows, false);
    }
}

} // namespace quarn
