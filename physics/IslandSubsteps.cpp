#include "physics/IslandSubsteps.h"

#include "core/scene/Pivot.h"
#include "physics/IslandStep.h"
#include "physics/Joint.h"
#include "physics/RigidBody.h"
#include "physics/ScratchArena.h"

#include <algorithm>
#include <cmath>

namespace quarn {
namespace {

Float3 Entry(const float* rows, int32_t rowSkip, int k) {
    return {rows[k * rowSkip], rows[k * rowSkip + 1], rows[k * rowSkip + 2]};
}

// Contacts, and joints without anchors, load nothing: their geometry is found afresh each step.
bool Weighs(const Joint& joint) {
    return joint.GetType() != JointContact && joint.GetAnchor(0) && joint.GetAnchor(1);
}

} // namespace

bool WeighsAnyJoint(Joint* const* joints, int32_t nj) {
    return std::any_of(joints, joints + nj, [](const Joint* joint) { return Weighs(*joint); });
}

float MaxTurnOf(RigidBody* const* bodies, int32_t nb, Joint* const* joints, int32_t nj,
                const float* inverseMass, ScratchArena& scratch) {
    if (!WeighsAnyJoint(joints, nj)) {
        return 0.0f;
    }
    float least = HUGE_VALF;
    float most = 0.0f;
    for (int32_t b = 0; b < nb; ++b) {
        if (inverseMass[b] > 0.0f) {
            least = std::min(least, inverseMass[b]);
            most = std::max(most, inverseMass[b]);
        }
    }
    if (most >= UnlikeMassRatio * least) {
        return MaxTurn;
    }
    // A loop shows as a joint between two bodies already joined, the immovable world (node nb)
    // counting as one body.
    ScratchArena::Scope scope(scratch);
    int32_t* root = scratch.Take<int32_t>(static_cast<size_t>(nb) + 1);
    for (int32_t b = 0; b <= nb; ++b) {
        root[b] = b;
    }
    for (int32_t i = 0; i < nj; ++i) {
        const Joint& joint = *joints[i];
        if (!Weighs(joint)) {
            continue;
        }
        const RigidBody* second = joint.GetBody(1);
        const bool secondMoves = second && second->IsMovable() && InIsland(second, bodies, nb);
        const int32_t a = SetRoot(root, joint.GetBody(0)->GetIslandTag());
        const int32_t b = SetRoot(root, secondMoves ? second->GetIslandTag() : nb);
        if (a == b) {
            return MaxTurnOfLikeMasses;
        }
        root[a] = b;
    }
    return 0.0f;
}

void AddJointLoad(const Joint& joint, const JointJacobian& rows, int32_t m, const float* lambda,
                  const int32_t island[2], JointLoad* loads) {
    if (!Weighs(joint)) {
        return;
    }
    for (int side = 0; side < 2; ++side) {
        if (island[side] < 0) {
            continue;
        }
        const float* linear = rows.linear[side];
        const float* angular = rows.angular[side];
        // The rows' force on the body, and the torque of the rows that only turn it.
        Float3 f;
        Float3 t;
        for (int k = 0; k < m; ++k) {
            const Float3 l = Entry(linear, rows.rowSkip, k);
            if (l.x == 0.0f && l.y == 0.0f && l.z == 0.0f) {
                t = t + Entry(angular, rows.rowSkip, k) * lambda[k];
            } else {
                f = f + l * lambda[k];
            }
        }
        RigidBody* body = joint.GetBody(side);
        const Float3 r = joint.GetAnchor(side)->GetWorldPosition() - body->GetWorldPosition();
        // Turning r by a small angle a turns the torque r x f by (a x r) x f: a stiffness
        // (f.r) 1 - f r^T. Bounded by one that no turn makes negative, so that a pushing
        // joint counts as a pulling one: |f||r| 1 - s sym(r f^T), s the sign of f.r, and
        // |t| 1 for the turning rows.
        const float fr = f.Dot(r);
        const float sign = fr > 0.0f ? 1.0f : fr < 0.0f ? -1.0f : 0.0f;
        const float lever = f.Length() * r.Length();
        const float a[3] = {r.x, r.y, r.z};
        const float b[3] = {f.x, f.y, f.z};
        JointLoad& load = loads[island[side]];
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                load.stiffness.m[i][j] -= 0.5f * sign * (a[i] * b[j] + b[i] * a[j]);
            }
            load.stiffness.m[i][i] += lever + t.Length();
        }
        load.lever += lever;
        load.leverSquared += lever * r.Dot(r);
        if (r.Dot(r) > load.arm.Dot(load.arm)) {
            load.arm = r;
        }
    }
}

int32_t CountSubsteps(RigidBody* const* bodies, int32_t nb, const JointLoad* loads,
                      const float* inverseMass, float h, float maxTurn) {
    // A step turns a body about its spin's axis as it stood at the start: a spin s about an arm
    // and a turn w across it move the anchor off its path by about s w h^2 / 2 of the arm, which
    // the joint's error correction then feeds into the chain.
    constexpr float DriftPerTurn = 8e-3f; // of the arm, counted as a radian of turn
    float turn = 0.0f;
    for (int b = 0; b < nb; ++b) {
        const JointLoad& load = loads[b];
        if (!(load.lever > 0.0f) || inverseMass[b] == 0.0f) {
            continue;
        }
        const float length = load.arm.Length();
        if (length > 0.0f) {
            const Float3 w = bodies[b]->GetWorldAngularVelocity();
            const Float3 along = load.arm * (1.0f / length);
            const float spin = std::fabs(w.Dot(along));
            const float across = (w - along * w.Dot(along)).Length();
            const float drift = 0.5f * spin * across * h * h;
            if (std::isfinite(drift)) {
                turn = std::max(turn, drift / DriftPerTurn);
            }
        }
        // The body's mass at its lever alone bounds the swing's rate from above: most bodies
        // need go no further.
        const float held = load.leverSquared / (load.lever * inverseMass[b]);
        const Matrix3& k = load.stiffness;
        const float stiffness = k.m[0][0] + k.m[1][1] + k.m[2][2];
        const float bound = std::max(turn, maxTurn);
        if (!(h * h * stiffness > bound * bound * held)) {
            continue;
        }
        Matrix3 inertia = WorldInertia(*bodies[b]);
        for (int i = 0; i < 3; ++i) {
            inertia.m[i][i] += held;
        }
        if (!InvertAtAnyScale(inertia)) {
            continue;
        }
        Matrix3 rate;
        inertia.Multiply(k, rate);
        // The trace bounds the largest of the swing's squared rates from above.
        const float squared = rate.m[0][0] + rate.m[1][1] + rate.m[2][2];
        if (squared > 0.0f && std::isfinite(squared)) {
            turn = std::max(turn, h * std::sqrt(squared));
        }
    }
    if (!(turn > maxTurn)) {
        return 1;
    }
    return static_cast<int32_t>(std::min(std::ceil(turn / maxTurn), float(MaxSubsteps)));
}

float ArmTurn(RigidBody* const* bodies, int32_t nb, Joint* const* joints, int32_t nj,
              const Float3* angular, float h) {
    float turn = 0.0f;
    for (int32_t i = 0; i < nj; ++i) {
        const Joint& joint = *joints[i];
        if (!Weighs(joint)) {
            continue;
        }
        for (int side = 0; side < 2; ++side) {
            RigidBody* body = joint.GetBody(side);
            if (!body || !body->IsMovable() || !InIsland(body, bodies, nb)) {
                continue;
            }
            const Float3 r = joint.GetAnchor(side)->GetWorldPosition() - body->GetWorldPosition();
            const Float3 w =
                angular ? angular[body->GetIslandTag()] : body->GetWorldAngularVelocity();
            // |w x r| / |r|: the rate across the arm; a spin about the arm moves no anchor.
            const float length = r.Length();
            const float across = length > 0.0f ? w.Cross(r).Length() / length : 0.0f;
            if (std::isfinite(across)) {
                turn = std::max(turn, across * h);
            }
        }
    }
    return turn;
}

int32_t PartsForTurn(float turn) {
    if (!(turn > MaxArmTurn)) {
        return 1;
    }
    return static_cast<int32_t>(std::min(std::ceil(turn / MaxArmTurn), float(MaxSubsteps)));
}

int32_t LastSubsteps(Joint* const* joints, int32_t nj) {
    int32_t last = 1;
    for (int32_t i = 0; i < nj; ++i) {
        if (joints[i]->GetType() != JointContact) {
            last = std::max(last, joints[i]->GetSubsteps());
        }
    }
    return last;
}

int32_t HeldSubsteps(int32_t needed, Joint* const* joints, int32_t nj) {
    const int32_t last = LastSubsteps(joints, nj);
    int32_t held = last;
    if (needed < last - last / 8) {
        held = last - std::max(1, last / 8);
    }
    return std::min(std::max(needed, held), MaxSubsteps);
}

void RememberSubsteps(Joint* const* joints, int32_t nj, int32_t parts) {
    for (int32_t i = 0; i < nj; ++i) {
        joints[i]->SetSubsteps(parts);
    }
}

void SubstepBudget::Plan(const int64_t* rows, const int32_t* lastParts, int32_t count) {
    int64_t total = 0;
    int64_t asked = 0;
    for (int32_t i = 0; i < count; ++i) {
        total += rows[i];
        asked += rows[i] * lastParts[i];
    }
    bound_ = std::max(LeastPartRows, PartsPerRow * total);
    spent_ = 0;
    rowsToCome_ = total;
    mostParts_ = MaxSubsteps;
    if (asked <= bound_) {
        return;
    }
    // The most parts an island may take so that what they asked for last fits: the largest
    // share for which every island asking less gets what it asked and the others the share.
    auto cost = [&](int32_t share) {
        int64_t sum = 0;
        for (int32_t i = 0; i < count; ++i) {
            sum += rows[i] * std::min(lastParts[i], share);
        }
        return sum;
    };
    int32_t low = 1;
    int32_t high = MaxSubsteps;
    while (low < high) {
        const int32_t middle = (low + high + 1) / 2;
        if (cost(middle) <= bound_) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    mostParts_ = low;
}

void SubstepBudget::PlanAlone(int64_t rows) {
    const int32_t whole = 1;
    Plan(&rows, &whole, 1);
}

int32_t SubstepBudget::Grant(int32_t needed, int64_t rows, const RigidBody& first) {
    rows = std::max<int64_t>(rows, 1);
    rowsToCome_ = std::max<int64_t>(rowsToCome_ - rows, 0);
    int32_t parts = std::clamp(needed, 1, mostParts_);
    // The islands still to come keep room for their whole steps: the bound holds however many
    // of them ask for more than they did last step.
    const int64_t room = bound_ - spent_ - rowsToCome_;
    parts = static_cast<int32_t>(std::clamp<int64_t>(room / rows, 1, parts));
    spent_ += parts * rows;
    if (parts < needed) {
        cutIslands_.push_back(first.GetSerial());
        missingParts_ += needed - parts;
    }
    return parts;
}

void SubstepBudget::TakeCuts() {
    cutIslands_.clear();
    missingParts_ = 0;
}

void StartParts(RigidBody* const* bodies, int32_t nb, PartPositions& positions) {
    for (int32_t b = 0; b < nb; ++b) {
        const Float3 p = bodies[b]->GetPosition();
        positions.exact[3 * b] = p.x;
        positions.exact[3 * b + 1] = p.y;
        positions.exact[3 * b + 2] = p.z;
    }
}

void FinishPart(RigidBody* const* bodies, int32_t nb, float h, PartPositions& positions) {
    for (int32_t b = 0; b < nb; ++b) {
        // Position and velocity both in the transform parent's space, as the pose integrates.
        const Float3 v = bodies[b]->GetLinearVelocity();
        double* p = positions.exact + 3 * b;
        p[0] += static_cast<double>(v.x) * h;
        p[1] += static_cast<double>(v.y) * h;
        p[2] += static_cast<double>(v.z) * h;
        const Float3 rounded(static_cast<float>(p[0]), static_cast<float>(p[1]),
                             static_cast<float>(p[2]));
        if (rounded.IsFinite()) {
            bodies[b]->SetPosition(rounded);
        }
    }
}

void SaveOutsideForces(RigidBody* const* bodies, int32_t nb, OutsideForces* saved) {
    for (int b = 0; b < nb; ++b) {
        saved[b] = {bodies[b]->GetForce(), bodies[b]->GetTorque()};
    }
}

void RestoreOutsideForces(RigidBody* const* bodies, int32_t nb, const OutsideForces* saved) {
    for (int b = 0; b < nb; ++b) {
        bodies[b]->SetForce(saved[b].force);
        bodies[b]->SetTorque(saved[b].torque);
    }
}

namespace {

double KineticEnergy(RigidBody& body) {
    const Float3 v = body.GetWorldLinearVelocity();
    const Float3 w = body.GetWorldAngularVelocity();
    return 0.5 * body.GetMass() * v.Dot(v) + 0.5 * w.Dot(WorldInertia(body).Transform(w));
}

} // namespace

void StartOfStep::Take(int32_t nb, ScratchArena& scratch) {
    positions = scratch.Take<Float3>(nb);
    angular = scratch.Take<Float3>(nb);
}

void StartOfStep::Record(RigidBody* const* bodies, int32_t nb) {
    kinetic = 0.0;
    for (int32_t b = 0; b < nb; ++b) {
        kinetic += KineticEnergy(*bodies[b]);
        positions[b] = bodies[b]->GetWorldPosition();
        angular[b] = bodies[b]->GetWorldAngularVelocity();
    }
}

void HoldEnergy(RigidBody* const* bodies, int32_t nb, const StartOfStep& start,
                const OutsideForces* outside, float h) {
    double kinetic = 0.0;
    double work = 0.0;
    for (int32_t b = 0; b < nb; ++b) {
        RigidBody& body = *bodies[b];
        kinetic += KineticEnergy(body);
        // The outside torque turns the body through about the mean of its turns.
        const Float3 turn = (start.angular[b] + body.GetWorldAngularVelocity()) * (0.5f * h);
        work += outside[b].force.Dot(body.GetWorldPosition() - start.positions[b]) +
                outside[b].torque.Dot(turn);
    }
    const double allowed = std::max(start.kinetic + work, 0.0);
    if (!(kinetic > allowed) || !std::isfinite(kinetic)) {
        return;
    }
    const float scale = static_cast<float>(std::sqrt(allowed / kinetic));
    for (int32_t b = 0; b < nb; ++b) {
        RigidBody& body = *bodies[b];
        body.SetLinearVelocity(body.GetLinearVelocity() * scale);
        body.SetAngularVelocity(body.GetAngularVelocity() * scale);
    }
}

} // namespace quarn
