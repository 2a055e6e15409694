#pragma once

// The arrays an iteration system points into, for the solver tests that build systems by hand.

#include "core/math/Matrix3.h"
#include "physics/IslandStepIterative.h"

#include <cstdint>
#include <vector>

namespace quarn::test {

// Per row its 12 entries of J (6 a body), its two bodies (-1: the world), right side, bounds,
// cfm and friction index; per body its inverse mass and inertia and the fc a solve writes.
struct SystemRows {
    // The system over the rows, its multipliers in `lambda`, its fc cleared.
    SORSystem View(std::vector<float>& lambda) {
        fc.assign(6 * static_cast<size_t>(nb), 0.0f);
        SORSystem s;
        s.m = static_cast<int32_t>(lo.size());
        s.nb = nb;
        s.J = J.data();
        s.jb = jb.data();
        s.inverseMass = inverseMass.data();
        s.inverseInertia = inverseInertia.data();
        s.lambda = lambda.data();
        s.fc = fc.data();
        s.b = b.data();
        s.lo = lo.data();
        s.hi = hi.data();
        s.cfm = cfm.data();
        s.findex = findex.data();
        return s;
    }

    int nb = 0;
    std::vector<float> J, b, lo, hi, cfm, inverseMass, fc;
    std::vector<int32_t> jb, findex;
    std::vector<Matrix3> inverseInertia;
};

} // namespace quarn::test
