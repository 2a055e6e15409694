#include "core/math/Quaternion.h"

#include "tests/support/MathExpectations.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace quarn {
namespace {

using test::ExpectNear;
using test::ExpectSameRotation;

constexpr float PiFloat = std::numbers::pi_v<float>;

Float3 UnitAxis(float x, float y, float z) {
    return Float3(x, y, z).NormalizedOrSelf();
}

TEST(Quaternion, RotationsFollowRowVectorsAndTheLeftFactorFirst) {
    // FromAxisAngle negates the angle, so a positive angle turns +X towards +Y.
    const Quaternion quarter = Quaternion::FromAxisAngle(PiFloat / 2.0f, Float3(0, 0, 1));
    EXPECT_FLOAT_EQ(quarter.z, -std::sqrt(0.5f));
    EXPECT_FLOAT_EQ(quarter.w, std::sqrt(0.5f));
    ExpectNear(quarter.RotateVector(Float3(1, 0, 0)), Float3(0, 1, 0));
    const Quaternion a = Quaternion::FromAxisAngle(0.7f, UnitAxis(0, 1, 0));
    const Quaternion b = Quaternion::FromAxisAngle(-1.3f, UnitAxis(1, 1, 0));
    const Float3 v(1.0f, 2.0f, 3.0f);
    ExpectNear((a * b).RotateVector(v), b.RotateVector(a.RotateVector(v)));
    Matrix4 m;
    b.ToMatrix(m);
    ExpectNear(b.RotateVector(v), m.TransformNormal(v)); // v * the 3x3 part
}

TEST(Quaternion, NormalizeScalesToUnitAndLeavesZeroFinite) {
    Quaternion scaled(0.0f, 2.0f, 0.0f, 2.0f);
    scaled.Normalize();
    EXPECT_FLOAT_EQ(scaled.y, std::sqrt(0.5f));
    EXPECT_FLOAT_EQ(scaled.w, std::sqrt(0.5f));
    Quaternion zero(0.0f, 0.0f, 0.0f, 0.0f);
    zero.Normalize();
    EXPECT_EQ(zero.w, 0.0f);
}

TEST(Quaternion, SlerpHitsBothEndsAndTakesTheShorterArc) {
    const Quaternion from;
    const Quaternion to = Quaternion::FromAxisAngle(PiFloat / 2.0f, UnitAxis(0, 0, 1));
    ExpectSameRotation(Quaternion::Slerp(from, to, 0.0f), from);
    ExpectSameRotation(Quaternion::Slerp(from, to, 1.0f), to);
    ExpectSameRotation(Quaternion::Slerp(from, to, 0.5f),
                       Quaternion::FromAxisAngle(PiFloat / 4.0f, UnitAxis(0, 0, 1)));
    const Quaternion aboutX = Quaternion::FromAxisAngle(PiFloat / 2.0f, UnitAxis(1, 0, 0));
    const Quaternion negated(-aboutX.x, -aboutX.y, -aboutX.z, -aboutX.w);
    const Quaternion half = Quaternion::Slerp(from, negated, 0.5f);
    ExpectSameRotation(half, Quaternion::FromAxisAngle(PiFloat / 4.0f, UnitAxis(1, 0, 0)));
    EXPECT_GT(half.w, 0.0f); // stayed on the side of the start
    // Nearly equal rotations (dot just above 0.9999) use linear weights.
    const Quaternion mid = Quaternion::Slerp(from, Quaternion(0.01f, 0.0f, 0.0f, 0.99995f), 0.25f);
    EXPECT_FLOAT_EQ(mid.x, 0.0025f);
    EXPECT_FLOAT_EQ(mid.w, 0.75f + 0.25f * 0.99995f);
}

} // namespace
} // namespace quarn
