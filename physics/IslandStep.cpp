#include "physics/IslandStep.h"

#include "core/debug/Assertion.h"
#include "physics/Joint.h"
#include "physics/PhysicsMaster.h"
#include "physics/RigidBody.h"

#include <algorithm>
#include <cmath>

namespace quarn {

bool InIsland(const RigidBody* body, RigidBody* const* bodies, int32_t nb) {
    const int tag = body ? body->GetIslandTag() : -1;
    return tag >= 0 && tag < nb && bodies[tag] == body;
}

Float3 ToWorldSpace(Pivot* parent, Float3 v) {
    return parent ? parent->LocalToWorldDirection(v) : v;
}

Float3 ToStoredSpace(Pivot* parent, Float3 v) {
    return parent ? parent->WorldToLocalDirection(v) : v;
}

Matrix3 WorldInverseInertia(RigidBody& body) {
    const Matrix3 rotation = Matrix3::RotationOf(body.GetWorldMatrix());
    Matrix3 world;
    rotation.Transposed().Multiply(body.GetSolverInverseInertia(), world);
    world.Multiply(rotation, world);
    return world;
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
