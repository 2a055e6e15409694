#include "physics/IslandBodySpace.h"

#include "physics/IslandStep.h"
#include "physics/IslandStepLCP.h"
#include "physics/Joint.h"
#include "physics/RigidBody.h"
#include "physics/ScratchArena.h"

#include <algorithm>
#include <cmath>

namespace quarn {
namespace {

constexpr int RowFloats = 8;
// A row's part in a solve: its sides into K (about 80 multiply-adds), and twice into the right
// side, out of the answer and through the product between (about 90 more).
constexpr int64_t RowSolveWork = 170;
// A row's part in a product: its sides out of the velocities and into them.
constexpr int64_t RowProductWork = 25;

double Dot(const double* v, const float* row) {
    return v[0] * row[0] + v[1] * row[1] + v[2] * row[2] + v[3] * row[4] + v[4] * row[5] +
           v[5] * row[6];
}

void AddScaled(double* v, const float* row, double k) {
    v[0] += k * row[0];
    v[1] += k * row[1];
    v[2] += k * row[2];
    v[3] += k * row[4];
    v[4] += k * row[5];
    v[5] += k * row[6];
}

} // namespace

bool IslandBodySpace::Build(const IslandSystem& system, int32_t nb, float h, const int32_t* rank,
                            ScratchArena& scratch) {
    const int32_t m = system.m;
    m_ = m;
    j_ = system.J;
    jm_ = system.JM;
    // Places in the order of the ranks, for the bodies that move.
    int32_t* byRank = scratch.Take<int32_t>(static_cast<size_t>(std::max(nb, 1)));
    for (int32_t b = 0; b < nb; ++b) {
        byRank[rank[b]] = b;
    }
    int32_t* placeOfBody = scratch.Take<int32_t>(static_cast<size_t>(std::max(nb, 1)));
    mass_ = scratch.Take<float>(static_cast<size_t>(std::max(nb, 1)));
    inertia_ = scratch.Take<Matrix3>(static_cast<size_t>(std::max(nb, 1)));
    places_ = 0;
    for (int32_t k = 0; k < nb; ++k) {
        const int32_t b = byRank[k];
        placeOfBody[b] = -1;
        if (!(system.inverseMass[b] > 0.0f)) {
            continue;
        }
        Matrix3 inertia = system.inverseInertia[b];
        if (!InvertAtAnyScale(inertia)) {
            return false;
        }
        mass_[places_] = 1.0f / system.inverseMass[b];
        inertia_[places_] = inertia;
        if (!std::isfinite(mass_[places_])) {
            return false;
        }
        placeOfBody[b] = places_++;
    }

    offset_ = scratch.Take<int32_t>(2 * static_cast<size_t>(std::max(m, 1)));
    place_ = scratch.Take<int32_t>(2 * static_cast<size_t>(std::max(m, 1)));
    cfm_ = scratch.Take<double>(static_cast<size_t>(std::max(m, 1)));
    diagonal_ = scratch.Take<double>(static_cast<size_t>(std::max(m, 1)));
    int32_t* reach = scratch.Take<int32_t>(static_cast<size_t>(std::max(places_, 1)));
    for (int32_t p = 0; p < places_; ++p) {
        reach[p] = p;
    }
    const double inverseH = 1.0 / static_cast<double>(h);
    for (int32_t i = 0; i < system.jointCount; ++i) {
        const Joint& joint = *system.joints[i];
        const int32_t rows = system.info[i].m;
        const int32_t first = placeOfBody[joint.GetBody(0)->GetIslandTag()];
        const int32_t second =
            system.secondTakesPart[i] ? placeOfBody[joint.GetBody(1)->GetIslandTag()] : -1;
        if (first >= 0 && second >= 0) {
            reach[first] = std::min(reach[first], second);
            reach[second] = std::min(reach[second], first);
        }
        for (int32_t k = 0; k < rows; ++k) {
            const int32_t r = system.start[i] + k;
            offset_[2 * r] = (2 * system.start[i] + k) * RowFloats;
            offset_[2 * r + 1] = offset_[2 * r] + rows * RowFloats;
            place_[2 * r] = first;
            place_[2 * r + 1] = second;
            cfm_[r] = static_cast<double>(system.cfm[r]) * inverseH;
            // Without cfm a row has no weight of its own in K.
            if (!(cfm_[r] > 0.0) || !std::isfinite(cfm_[r])) {
                return false;
            }
            diagonal_[r] = static_cast<double>(system.diagonal[r]) + cfm_[r];
        }
    }
    velocity_ = scratch.Take<double>(6 * static_cast<size_t>(std::max(places_, 1)));
    room_ = scratch.Take<double>(18 * static_cast<size_t>(std::max(places_, 1)));
    inFactor_ = scratch.Take<bool>(static_cast<size_t>(std::max(m, 1)));
    std::fill(inFactor_, inFactor_ + m, false);
    factored_ = false;
    k_.Shape(places_, reach, scratch);
    return true;
}

int64_t IslandBodySpace::SolveWork() const {
    return RowSolveWork * m_ + k_.FactorWork() + 2 * k_.SolveWork();
}

BodyBlockMatrix::Side IslandBodySpace::SideOf(int32_t r, int32_t s) const {
    BodyBlockMatrix::Side side;
    side.place = place_[2 * r + s];
    side.linear = j_ + offset_[2 * r + s];
    side.angular = side.linear + 4;
    return side;
}

void IslandBodySpace::Multiply(const double* x, double* out) const {
    MultiplyRows(nullptr, m_, x, out);
}

int64_t IslandBodySpace::ProductWork() const {
    return RowProductWork * m_;
}

int64_t IslandBodySpace::TakeRows(const int32_t* rows, int32_t count, ScratchArena&) {
    taken_ = rows;
    takenCount_ = count;
    // The rows that come into K or leave it since the last factor.
    int64_t changes = 0;
    if (factored_) {
        int32_t k = 0;
        for (int32_t r = 0; r < m_; ++r) {
            const bool taken = k < count && rows[k] == r;
            k += taken ? 1 : 0;
            changes += taken != inFactor_[r] ? 1 : 0;
        }
    }
    updating_ = factored_ && changes * k_.UpdateWork() < k_.FactorWork();
    const int64_t factorWork = updating_ ? changes * k_.UpdateWork() : k_.FactorWork();
    return RowSolveWork * count + factorWork + 2 * k_.SolveWork();
}

bool IslandBodySpace::FactorTaken(ScratchArena& scratch) {
    factored_ = false;
    if (updating_) {
        bool* taken = scratch.Take<bool>(static_cast<size_t>(m_));
        std::fill(taken, taken + m_, false);
        for (int32_t k = 0; k < takenCount_; ++k) {
            taken[taken_[k]] = true;
        }
        bool updated = true;
        for (int32_t r = 0; r < m_ && updated; ++r) {
            if (taken[r] != inFactor_[r]) {
                const double weight = 1.0 / cfm_[r];
                updated = k_.Update(SideOf(r, 0), SideOf(r, 1), taken[r] ? weight : -weight, room_);
                inFactor_[r] = taken[r];
            }
        }
        if (updated) {
            factored_ = true;
            return true;
        }
        // Rounding took a change too far: the work of a new factor is not counted.
    }
    k_.Clear();
    for (int32_t p = 0; p < places_; ++p) {
        k_.AddBody(p, mass_[p], inertia_[p]);
    }
    std::fill(inFactor_, inFactor_ + m_, false);
    for (int32_t k = 0; k < takenCount_; ++k) {
        const int32_t r = taken_[k];
        k_.AddRow(SideOf(r, 0), SideOf(r, 1), 1.0 / cfm_[r]);
        inFactor_[r] = true;
    }
    factored_ = k_.Factor();
    return factored_;
}

bool IslandBodySpace::SolveTaken(double* rhs, ScratchArena& scratch) {
    ScratchArena::Scope scope(scratch);
    if (!FactorTaken(scratch)) {
        return false;
    }
    // The difference that gives x is of values far larger than x (C is small), and a factor
    // changed row by row has rounding of its own: once more on what the first answer leaves.
    double* x = scratch.Take<double>(static_cast<size_t>(takenCount_));
    double* left = scratch.Take<double>(static_cast<size_t>(takenCount_));
    std::fill(x, x + takenCount_, 0.0);
    std::copy(rhs, rhs + takenCount_, left);
    for (int pass = 0; pass < 2; ++pass) {
        SolveTakenOnce(left, scratch);
        for (int32_t k = 0; k < takenCount_; ++k) {
            x[k] += left[k];
        }
        if (pass == 0) {
            MultiplyRows(taken_, takenCount_, x, left);
            for (int32_t k = 0; k < takenCount_; ++k) {
                left[k] = rhs[k] - left[k];
            }
        }
    }
    std::copy(x, x + takenCount_, rhs);
    return true;
}

void IslandBodySpace::SolveTakenOnce(double* rhs, ScratchArena& scratch) const {
    // x = C^-1 (rhs - J y) with K y = J^T C^-1 rhs, K = M + J^T C^-1 J over the rows taken.
    ScratchArena::Scope scope(scratch);
    double* y = scratch.Take<double>(6 * static_cast<size_t>(std::max(places_, 1)));
    std::fill(y, y + 6 * static_cast<size_t>(places_), 0.0);
    for (int32_t k = 0; k < takenCount_; ++k) {
        const int32_t r = taken_[k];
        for (int32_t s = 0; s < 2; ++s) {
            const int32_t p = place_[2 * r + s];
            if (p >= 0) {
                AddScaled(y + 6 * p, j_ + offset_[2 * r + s], rhs[k] / cfm_[r]);
            }
        }
    }
    k_.Solve(y);
    for (int32_t k = 0; k < takenCount_; ++k) {
        const int32_t r = taken_[k];
        double value = rhs[k];
        for (int32_t s = 0; s < 2; ++s) {
            const int32_t p = place_[2 * r + s];
            if (p >= 0) {
                value -= Dot(y + 6 * p, j_ + offset_[2 * r + s]);
            }
        }
        rhs[k] = value / cfm_[r];
    }
}

void IslandBodySpace::MultiplyRows(const int32_t* rows, int32_t count, const double* x,
                                   double* out) const {
    // The velocities the rows' forces give (M^-1 J^T x), then each row's J v + cfm x.
    double* v = velocity_;
    std::fill(v, v + 6 * static_cast<size_t>(places_), 0.0);
    for (int32_t k = 0; k < count; ++k) {
        const int32_t r = rows ? rows[k] : k;
        for (int32_t s = 0; s < 2; ++s) {
            const int32_t p = place_[2 * r + s];
            if (p >= 0) {
                AddScaled(v + 6 * p, JMOf(r, s), x[k]);
            }
        }
    }
    for (int32_t k = 0; k < count; ++k) {
        const int32_t r = rows ? rows[k] : k;
        double sum = cfm_[r] * x[k];
        for (int32_t s = 0; s < 2; ++s) {
            const int32_t p = place_[2 * r + s];
            if (p >= 0) {
                sum += Dot(v + 6 * p, j_ + offset_[2 * r + s]);
            }
        }
        out[k] = sum;
    }
}

} // namespace quarn
