#pragma once

#include "core/math/Matrix4.h"
#include "core/math/Vector.h"

namespace quarn {

// Rotation as (x, y, z, w). The engine's quaternions follow its row-vector matrices: q rotates v
// as q* v q, which equals v * ToMatrix(q) for a unit q.
struct Quaternion {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 1.0f;

    constexpr Quaternion() = default;
    constexpr Quaternion(float x, float y, float z, float w) : x(x), y(y), z(z), w(w) {}

    // The angle is negated (half of -angle is used) so that the result turns row vectors the
    // same way as the engine's rotation matrices: FromAxisAngle(pi/2, +Z) takes +X to +Y.
    static Quaternion FromAxisAngle(float angle, const Float3& unitAxis);

    // Hamilton product this * other.
    Quaternion operator*(const Quaternion& other) const;

    // Does not normalise q first; a non-unit q also scales v by |q|^2.
    Float3 RotateVector(const Float3& v) const;

    // Writes only the 3x3 part; the fourth row and column of the matrix keep their values.
    void ToMatrix(Matrix4& matrix) const;
    // Reads only the 3x3 part, which must be a pure rotation (normalise scaled rows first).
    static Quaternion FromMatrix(const Matrix4& matrix);

    // Angles in radians about X, Y and Z, the order in which property texts give them.
    static Quaternion FromEuler(Float3 radians);
    // The inverse of FromEuler. Near Y = +-90 degrees (gimbal lock) X is 0 and Z carries the
    // whole remaining turn; FromEuler of the result still gives this rotation back.
    Float3 ToEuler() const;

    // Spherical interpolation from a (t = 0) to b (t = 1) along the shorter arc: b is negated
    // when the two point into opposite halves. Nearly equal rotations interpolate linearly, where
    // the sine ratio would divide by almost zero. The result is not normalised.
    static Quaternion Slerp(const Quaternion& a, Quaternion b, float t);

    // Answers the angle 2 acos(w) and writes the axis to axis, negated to match FromAxisAngle.
    // With |w| >= 1 there is no axis: the angle is 0 and the axis +X.
    float ToAxisAngle(Float3& axis) const;

    // Leaves near-unit values alone so that repeated normalising does not make them drift.
    void Normalize();

    // The rotation turning +Z onto the direction (normalised first; a zero direction gives the
    // identity).
    static Quaternion RotationFromZ(Float3 direction);
};

static_assert(sizeof(Quaternion) == 16);

} // namespace quarn
