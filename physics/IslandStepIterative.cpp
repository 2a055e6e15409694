#include "physics/IslandStepIterative.h"

#include "core/debug/Assertion.h"
#include "physics/IslandStep.h"
#include "physics/Joint.h"
#include "physics/LCPSolver.h"
#include "physics/MatrixKernels.h"
#include "physics/PhysicsMaster.h"
#include "physics/RigidBody.h"
#include "physics/ScratchArena.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quarn {
namespace {

constexpr int RowFloats = 12;
constexpr float RetryCfm = 1e-5f;

uint32_t randomState = 0;

Float3 Load(const float* v) {
    return {v[0], v[1], v[2]};
}

float Dot6(const float* a, const float* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3] + a[4] * b[4] + a[5] * b[5];
}

void AddScaled6(float* out, const float* v, float k) {
    for (int i = 0; i < 6; ++i) {
        out[i] += v[i] * k;
    }
}

// Everything one visit of a row reads, in one place: the sweeps visit rows in shuffled
// order, and separate arrays would cost a cache miss each.
struct alignas(16) PackedRow {
    float J[12];      // scaled by the over-relaxed inverse diagonal
    float invMJt[12]; // M^-1 J^T in the layout of J
    float b;          // scaled as J
    float cfmScale;   // the scale times cfm
    float lo;
    float hi;
    float hiSaved; // a friction row's coefficient
    int32_t findex;
    int32_t body1;
    int32_t body2; // -1: the immovable world
};
static_assert(sizeof(PackedRow) == 128);

// invMJt = M^-1 J^T for one row.
void ComputeInvMJt(const SORSystem& s, int r, PackedRow& row) {
    const float* J = s.J + r * RowFloats;
    for (int side = 0; side < 2; ++side) {
        const int b = side ? row.body2 : row.body1;
        float* out = row.invMJt + 6 * side;
        if (b < 0) {
            std::fill(out, out + 6, 0.0f);
            continue;
        }
        StoreJacobian(out, Load(J + 6 * side) * s.inverseMass[b]);
        StoreJacobian(out + 3, s.inverseInertia[b].Transform(Load(J + 6 * side + 3)));
    }
}

void MultiplyInvMJtLambda(const SORSystem& s, const PackedRow* rows) {
    SetZero(s.fc, s.nb * 6);
    for (int r = 0; r < s.m; ++r) {
        AddScaled6(s.fc + rows[r].body1 * 6, rows[r].invMJt, s.lambda[r]);
        if (rows[r].body2 >= 0) {
            AddScaled6(s.fc + rows[r].body2 * 6, rows[r].invMJt + 6, s.lambda[r]);
        }
    }
}

// out[r] = J_r . v of the row's bodies, v six floats per body.
void MultiplyJ(int m, const float* J, const int32_t* jb, const float* v, float* out) {
    for (int r = 0; r < m; ++r) {
        const float* row = J + r * RowFloats;
        float sum = Dot6(row, v + jb[2 * r] * 6);
        if (jb[2 * r + 1] >= 0) {
            sum += Dot6(row + 6, v + jb[2 * r + 1] * 6);
        }
        out[r] = sum;
    }
}

} // namespace

uint32_t RandomNext() {
    randomState = randomState * 1664525u + 1013904223u;
    return randomState;
}

int32_t RandomInt(int32_t n) {
    return static_cast<int32_t>(static_cast<double>(RandomNext()) * n * (1.0 / 4294967296.0));
}

void SeedSolverRandom(uint32_t state) {
    randomState = state;
}

void SolveSOR(const SORSystem& s, int32_t iterations, float overRelaxation,
              ScratchArena& scratch) {
    ScratchArena::Scope scope(scratch);
    const int m = s.m;
    PackedRow* rows = scratch.Take<PackedRow>(m);
    int32_t* order = scratch.Take<int32_t>(m);

    for (int r = 0; r < m; ++r) {
        s.lambda[r] *= 0.9f;
        PackedRow& row = rows[r];
        row.body1 = s.jb[2 * r];
        row.body2 = s.jb[2 * r + 1];
        row.findex = s.findex[r];
        row.lo = s.lo[r];
        row.hi = s.hi[r];
        row.hiSaved = s.hi[r];
        ComputeInvMJt(s, r, row);
        // Rows pre-scaled by the over-relaxed inverse diagonal, so a visit needs no division.
        const float* J = s.J + r * RowFloats;
        float diagonal = Dot6(row.invMJt, J) + s.cfm[r];
        if (row.body2 >= 0) {
            diagonal += Dot6(row.invMJt + 6, J + 6);
        }
        if (diagonal == 0.0f || !std::isfinite(diagonal)) {
            // No force moves this row: a visit then changes nothing.
            std::fill(row.J, row.J + RowFloats, 0.0f);
            std::fill(row.invMJt, row.invMJt + RowFloats, 0.0f);
            row.b = 0.0f;
            row.cfmScale = 0.0f;
            s.lambda[r] = 0.0f;
            continue;
        }
        const float scale = overRelaxation / diagonal;
        for (int k = 0; k < RowFloats; ++k) {
            row.J[k] = J[k] * scale;
        }
        row.b = s.b[r] * scale;
        row.cfmScale = scale * s.cfm[r];
    }
    MultiplyInvMJtLambda(s, rows);

    // Normal rows before the friction rows that depend on them, as the shuffle's start.
    int j = 0;
    for (int r = 0; r < m; ++r) {
        if (s.findex[r] < 0) {
            order[j++] = r;
        }
    }
    for (int r = 0; r < m; ++r) {
        if (s.findex[r] >= 0) {
            order[j++] = r;
        }
    }
    QUARN_CHECK_ASSERTION(j == m, "j==m");

    float* lambda = s.lambda;
    for (int t = 0; t < iterations; ++t) {
        if ((t & 7) == 0) {
            for (int k = 1; k < m; ++k) {
                std::swap(order[k], order[RandomInt(k + 1)]);
            }
        }
        for (int k = 0; k < m; ++k) {
            const int r = order[k];
            PackedRow& row = rows[r];
            if (row.findex >= 0) {
                row.hi = std::fabs(row.hiSaved * lambda[row.findex]);
                row.lo = -row.hi;
            }
            float* fc1 = s.fc + row.body1 * 6;
            float* fc2 = row.body2 >= 0 ? s.fc + row.body2 * 6 : nullptr;
            float delta = row.b - row.cfmScale * lambda[r] - Dot6(row.J, fc1);
            if (fc2) {
                delta -= Dot6(row.J + 6, fc2);
            }
            const float updated = lambda[r] + delta;
            if (updated < row.lo) {
                delta = row.lo - lambda[r];
                lambda[r] = row.lo;
            } else if (updated > row.hi) {
                delta = row.hi - lambda[r];
                lambda[r] = row.hi;
            } else {
                lambda[r] = updated;
            }
            AddScaled6(fc1, row.invMJt, delta);
            if (fc2) {
                AddScaled6(fc2, row.invMJt + 6, delta);
            }
        }
    }
}

bool StepIslandIterative(RigidBody* const* bodies, int32_t nb, Joint* const* joints, int32_t nj,
                         float h, float worldCfm, float worldErp, int32_t iterations,
                         float overRelaxation, ScratchArena& scratch) {
    ScratchArena::Scope scope(scratch);
    const float inverseH = 1.0f / h;

    float* inverseMass = scratch.Take<float>(nb);
    Matrix3* inverseInertia = scratch.Take<Matrix3>(nb);
    Matrix3* inertia = scratch.Take<Matrix3>(nb);
    for (int b = 0; b < nb; ++b) {
        RigidBody& body = *bodies[b];
        body.SetIslandTag(b);
        inverseMass[b] = body.GetSolverInverseMass();
        inverseInertia[b] = WorldInverseInertia(body);
        const Matrix3 rotation = Matrix3::RotationOf(body.GetWorldMatrix());
        rotation.Transposed().Multiply(body.GetInertia(), inertia[b]);
        inertia[b].Multiply(rotation, inertia[b]);
        // The explicit gyroscopic term; this engine's angular sign makes it w x (I w).
        if (inverseMass[b] != 0.0f) {
            const Float3 w = body.GetWorldAngularVelocity();
            body.AddTorque(w.Cross(inertia[b].Transform(w)));
        }
    }

    // The joints with rows, in their given order.
    Joint** kept = scratch.Take<Joint*>(nj);
    JointInfo1* info = scratch.Take<JointInfo1>(nj);
    int32_t* start = scratch.Take<int32_t>(nj);
    int jointCount = 0;
    int m = 0;
    for (int i = 0; i < nj; ++i) {
        JointInfo1 rows;
        if (!GetIslandRows(*joints[i], bodies, nb, rows)) {
            continue;
        }
        kept[jointCount] = joints[i];
        info[jointCount] = rows;
        start[jointCount] = m;
        m += rows.m;
        ++jointCount;
    }

    float* fc = scratch.Take<float>(static_cast<size_t>(nb) * 6);
    SetZero(fc, nb * 6);
    if (m > 0) {
        float* J = scratch.Take<float>(static_cast<size_t>(m) * RowFloats);
        int32_t* jb = scratch.Take<int32_t>(2 * static_cast<size_t>(m));
        float* c = scratch.Take<float>(m);
        float* cfm = scratch.Take<float>(m);
        float* lo = scratch.Take<float>(m);
        float* hi = scratch.Take<float>(m);
        int32_t* findex = scratch.Take<int32_t>(m);
        float* rhs = scratch.Take<float>(m);
        float* warmStart = scratch.Take<float>(m);
        SetZero(c, m);
        SetValue(cfm, m, worldCfm);
        SetValue(lo, m, -LCPInfinity);
        SetValue(hi, m, LCPInfinity);
        std::fill(findex, findex + m, -1);
        SetZero(J, m * RowFloats);

        JointInfo2 info2;
        info2.fps = inverseH;
        info2.erp = worldErp;
        info2.rowSkip = RowFloats;
        int32_t* jbRow = jb;
        for (int i = 0; i < jointCount; ++i) {
            Joint& joint = *kept[i];
            info2.J1l = J + start[i] * RowFloats;
            info2.J1a = info2.J1l + 3;
            info2.J2l = info2.J1l + 6;
            info2.J2a = info2.J1l + 9;
            info2.c = c + start[i];
            info2.cfm = cfm + start[i];
            info2.lo = lo + start[i];
            info2.hi = hi + start[i];
            info2.findex = findex + start[i];
            joint.GetInfo2(info2);
            const RigidBody* second = joint.GetBody(1);
            const int first = joint.GetBody(0)->GetIslandTag();
            // A second body that does not move with the island acts as the immovable world.
            const int other = second && second->IsMovable() && InIsland(second, bodies, nb)
                                  ? second->GetIslandTag()
                                  : -1;
            const float* saved = joint.GetSavedLambda();
            for (int k = 0; k < info[i].m; ++k) {
                if (info2.findex[k] >= 0) {
                    info2.findex[k] += start[i];
                }
                *jbRow++ = first;
                *jbRow++ = other;
                warmStart[start[i] + k] = saved[k];
            }
        }
        QUARN_CHECK_ASSERTION(jbRow == jb + 2 * m, "jb_ptr == jb+2*m");

        // rhs = c/h + J (M^-1 F + v/h), in world space.
        float* tmp = scratch.Take<float>(static_cast<size_t>(nb) * 6);
        for (int b = 0; b < nb; ++b) {
            RigidBody& body = *bodies[b];
            StoreJacobian(tmp + 6 * b, (body.GetForce() * inverseMass[b] +
                                body.GetWorldLinearVelocity() * inverseH) * -1.0f);
            StoreJacobian(tmp + 6 * b + 3, (inverseInertia[b].Transform(body.GetTorque()) +
                                    body.GetWorldAngularVelocity() * inverseH) * -1.0f);
        }
        MultiplyJ(m, J, jb, tmp, rhs);
        for (int r = 0; r < m; ++r) {
            rhs[r] = c[r] * inverseH - rhs[r];
        }

        float* solveCfm = scratch.Take<float>(m);
        float* lambda = scratch.Take<float>(m);
        SORSystem system;
        system.m = m;
        system.nb = nb;
        system.J = J;
        system.jb = jb;
        system.inverseMass = inverseMass;
        system.inverseInertia = inverseInertia;
        system.lambda = lambda;
        system.fc = fc;
        system.b = rhs;
        system.lo = lo;
        system.hi = hi;
        system.cfm = solveCfm;
        system.findex = findex;
        auto solve = [&](bool soften) {
            std::memcpy(lambda, warmStart, sizeof(float) * m);
            for (int r = 0; r < m; ++r) {
                solveCfm[r] = (soften ? std::max(cfm[r], RetryCfm) : cfm[r]) * inverseH;
            }
            SolveSOR(system, iterations, overRelaxation, scratch);
            return AllFinite(lambda, static_cast<size_t>(m)) &&
                   AllFinite(fc, static_cast<size_t>(nb) * 6);
        };
        // A zero pivot cannot stop this solve, but redundant rows without cfm can still drive
        // it to overflow: soften every row a little and try once more.
        if (!solve(false) && !solve(true)) {
            AbandonIsland(bodies, nb);
            return false;
        }

        for (int i = 0; i < jointCount; ++i) {
            std::copy(lambda + start[i], lambda + start[i] + info[i].m, kept[i]->GetSavedLambda());
        }
        // The constraint force applied is -J^T lambda.
        for (int b = 0; b < nb; ++b) {
            RigidBody& body = *bodies[b];
            body.AddLinearVelocity(ToStoredSpace(body, Load(fc + 6 * b) * -h));
            body.AddAngularVelocity(ToStoredSpace(body, Load(fc + 6 * b + 3) * -h));
        }

        // Every joint with a feedback record hears the whole constraint force on its bodies.
        bool forces = false;
        for (int i = 0; i < jointCount; ++i) {
            JointFeedback* feedback = kept[i]->GetFeedback();
            if (!feedback) {
                continue;
            }
            if (!forces) {
                forces = true;
                for (int b = 0; b < nb; ++b) {
                    // A body that cannot move took no share: its mass may be infinite.
                    const bool movable = inverseMass[b] != 0.0f;
                    StoreJacobian(fc + 6 * b,
                          movable ? Load(fc + 6 * b) * (1.0f / inverseMass[b]) : Float3());
                    StoreJacobian(fc + 6 * b + 3,
                          movable ? inertia[b].Transform(Load(fc + 6 * b + 3)) : Float3());
                }
            }
            const int first = kept[i]->GetBody(0)->GetIslandTag();
            feedback->force1 = Load(fc + 6 * first);
            feedback->torque1 = Load(fc + 6 * first + 3);
            const int second = jb[2 * start[i] + 1];
            if (second >= 0) {
                feedback->force2 = Load(fc + 6 * second);
                feedback->torque2 = Load(fc + 6 * second + 3);
            }
        }
    }

    // The outside forces, then the poses.
    for (int b = 0; b < nb; ++b) {
        RigidBody& body = *bodies[b];
        body.AddLinearVelocity(ToStoredSpace(body, body.GetForce() * (h * inverseMass[b])));
        body.AddAngularVelocity(
            ToStoredSpace(body, inverseInertia[b].Transform(body.GetTorque() * h)));
    }
    IntegrateIsland(bodies, nb, h);
    return true;
}

} // namespace quarn
