#pragma once

#include "core/math/Vector.h"

namespace quarn {

// The physics' 3x3 matrix: three rows of four floats, the fourth of each row padding, so that a
// row loads as one aligned quadruple and the layout matches the rotation part the bodies keep.
struct Matrix3 {
    // Identity by default, so a matrix is never read uninitialised.
    float m[3][4] = {{1.0f, 0.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 1.0f, 0.0f}};

    // Component i is row i . v: the inverse rotation of v when the matrix is orthonormal.
    Float3 RotateByTranspose(const Float3& v) const;
};

static_assert(sizeof(Matrix3) == 48);

} // namespace quarn
