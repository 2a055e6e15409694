#include "physics/ContactJoint.h"

#include "collision/CollisionVolume.h"
#include "physics/LCPSolver.h"
#include "physics/PhysicsMaster.h"
#include "physics/RigidBody.h"

namespace quarn {
namespace {

// The share of the push-out rate at which a new contact's bodies close toward its minimum
// depth: at the full rate the iterative sweeps, which lag the exact answer, rock a stack about
// its contacts.
constexpr float ContactApproachShare = 0.1f;
// The share of its minimum depth past which a contact counts as sunk deep: a resting one sits
// far closer to it, while one whose bodies met a step late is centimetres past.
constexpr float DeepShareOfMinDepth = 0.1f;

void Store(float* row, Float3 v) {
    row[0] = v.x;
    row[1] = v.y;
    row[2] = v.z;
}

} // namespace

void ContactJoint::Reset() {
    surface.mode = 0;
    surface.mu = 0.0f;
    depth = 0.0f;
    position = Float3();
    normal = Float3();
    warmFriction_ = Float3();
    settled_ = false;
    pushOut_ = 0.0f;
    sunkDeep_ = false;
}

void ContactJoint::SetVolumes(const CollisionVolume* first, const CollisionVolume* second) {
    volumeSerials_[0] = first ? first->GetSerial() : 0;
    volumeSerials_[1] = second ? second->GetSerial() : 0;
}

Float3 ContactJoint::GetFrictionForce() const {
    const float* lambda = GetSavedLambda();
    return rows_ < 3 ? Float3() : tangents_[0] * lambda[1] + tangents_[1] * lambda[2];
}

void ContactJoint::WarmStart(float normalForce, Float3 frictionForce) {
    GetSavedLambda()[0] = normalForce;
    warmFriction_ = frictionForce;
}

void ContactJoint::GetInfo1(JointInfo1& info) {
    if (surface.mu < 0.0f) {
        surface.mu = 0.0f;
    }
    rows_ = surface.mu > 0.0f ? 3 : 1;
    info.m = rows_;
    // Kept as it always was: the two friction rows count as unbounded although the bounded
    // normal row comes first; the island step orders rows by this and the solver copes.
    info.nub = surface.mu == LCPInfinity ? 2 : 0;
}

void ContactJoint::GetInfo2(JointInfo2& info) {
    const int s = info.rowSkip;
    RigidBody* first = GetBody(0);
    RigidBody* second = GetBody(1);
    pushOut_ = 0.0f;
    sunkDeep_ = false;
    if (!first) {
        return; // attached to nothing: no body to hold
    }
    const bool secondTakesPart = second && second->GetState() != BodyStatic;
    const bool secondKinematic = second && second->GetState() == BodyKinematic;

    // Negated into locals rather than in place, so asking twice gives the same rows.
    const float sign = reversed_ ? -1.0f : 1.0f;
    const Float3 n = normal * sign;
    const Float3 motion = surface.motion * sign;
    const Float3 r1 = position - first->GetWorldPosition();
    const Float3 r2 = second ? position - second->GetWorldPosition() : Float3();
    const Float3 partnerVelocity = secondKinematic ? second->GetPointVelocity(position) : Float3();

    Store(info.J1l, n * -1.0f);
    Store(info.J1a, (n * -1.0f).Cross(r1));
    if (secondTakesPart) {
        Store(info.J2l, n);
        Store(info.J2a, n.Cross(r2));
    }

    const float erp = (surface.mode & ContactSoftErp) ? surface.softErp : info.erp;
    const float k = info.fps * erp;
    // The minimum depth is where a contact settles, not a slack it may rest anywhere in: a new
    // one short of it lets its bodies close toward it until it first gets there. A contact left
    // resting in the slack had nothing to take back a tilt or a slide (a box placed exactly on
    // another finds its corners' contacts one step and loses some the next, and the solver's
    // softness lets the more loaded side sink), and a tall stack placed touching tipped. Once
    // there it holds short of it as before: closing then too rocks a stack of small boxes about
    // its contacts under the iterative sweeps.
    const float excess = depth - surface.minDepth;
    float push = k * excess;
    if (excess < 0.0f) {
        push = settled_ ? 0.0f : push * ContactApproachShare;
    }
    const PhysicsMaster* world = GetWorld();
    const float maxVelocity = world ? world->GetContactMaxVel() : LCPInfinity;
    if (push > maxVelocity) {
        push = maxVelocity;
    } else if (push < -maxVelocity) {
        push = -maxVelocity;
    }
    info.c[0] = push;
    pushOut_ = push > 0.0f ? push : 0.0f;
    sunkDeep_ = excess > DeepShareOfMinDepth * surface.minDepth;
    if (surface.mode & ContactMotion) {
        info.c[0] += motion.Dot(n);
    }
    if (secondKinematic) {
        info.c[0] += partnerVelocity.Dot(n);
    }
    if (surface.mode & ContactSoftCfm) {
        info.cfm[0] = surface.softCfm;
    }
    info.lo[0] = 0.0f;
    info.hi[0] = LCPInfinity;

    if (rows_ < 2) {
        return;
    }
    Float3* t = tangents_;
    if (surface.mode & ContactFrictionDirection) {
        t[0] = surface.frictionDirection;
        t[1] = t[0].Cross(n);
    } else {
        PlaneSpace(n, t[0], t[1]);
    }
    // A recalled friction force starts the solve along this step's directions.
    float* lambda = GetSavedLambda();
    lambda[1] = warmFriction_.Dot(t[0]);
    lambda[2] = warmFriction_.Dot(t[1]);
    const uint32_t scaledBits[2] = {ContactFrictionScaled1, ContactFrictionScaled2};
    for (int row = 1; row < rows_ && row < 3; ++row) {
        const Float3 tangent = t[row - 1];
        Store(info.J1l + row * s, tangent);
        Store(info.J1a + row * s, tangent.Cross(r1));
        if (secondTakesPart) {
            Store(info.J2l + row * s, tangent * -1.0f);
            Store(info.J2a + row * s, (tangent * -1.0f).Cross(r2));
        }
        if (surface.mode & ContactMotion) {
            info.c[row] -= motion.Dot(tangent);
        }
        if (secondKinematic) {
            info.c[row] -= partnerVelocity.Dot(tangent);
        }
        const float bound = (row == 2 && (surface.mode & ContactMu2)) ? surface.mu2 : surface.mu;
        info.lo[row] = -bound;
        info.hi[row] = bound;
        if (surface.mode & scaledBits[row - 1]) {
            info.findex[row] = 0;
        }
    }
}

} // namespace quarn
