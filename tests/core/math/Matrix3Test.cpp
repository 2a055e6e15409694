#include "core/math/Matrix3.h"

#include "core/math/Matrix4.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

TEST(Matrix3, RotateByTransposeUndoesTheRotationAndIgnoresThePadding) {
    // 90 degrees about Z for row vectors (+X to +Y), with junk in every row's fourth float.
    Matrix3 turn;
    turn.m[0][0] = turn.m[1][1] = 0.0f;
    turn.m[0][1] = 1.0f;
    turn.m[1][0] = -1.0f;
    turn.m[0][3] = turn.m[1][3] = turn.m[2][3] = 99.0f;
    Matrix4 full;
    full.FromMatrix3x4(turn.m);

    const Float3 v(0.25f, -2.0f, 3.5f);
    const Float3 back = turn.RotateByTranspose(full.TransformNormal(v));
    EXPECT_FLOAT_EQ(back.x, v.x);
    EXPECT_FLOAT_EQ(back.y, v.y);
    EXPECT_FLOAT_EQ(back.z, v.z);
    const Float3 same = full.RotateByTranspose(v);
    const Float3 rotated = turn.RotateByTranspose(v);
    EXPECT_EQ(rotated.x, same.x);
    EXPECT_EQ(rotated.y, same.y);
    EXPECT_EQ(rotated.z, same.z);
}

} // namespace
} // namespace quarn
