#include "core/math/Matrix3.h"

#include "core/math/Matrix4.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <limits>

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

Matrix3 Rows(std::initializer_list<float> values) {
    Matrix3 out;
    auto it = values.begin();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            out.m[i][j] = *it++;
        }
    }
    return out;
}

TEST(Matrix3, MultiplyAndInvertGiveTheIdentityBackEvenInPlace) {
    Matrix3 a = Rows({2.0f, 1.0f, 0.5f, -1.0f, 3.0f, 0.25f, 0.0f, 1.5f, 4.0f});
    Matrix3 inverse = a;
    ASSERT_TRUE(inverse.Invert());
    a.Multiply(inverse, a);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            EXPECT_NEAR(a.m[i][j], i == j ? 1.0f : 0.0f, 1e-6f) << i << "," << j;
        }
        EXPECT_EQ(a.m[i][3], 0.0f);
    }
}

TEST(Matrix3, InvertOfASingularOrNonFiniteMatrixGivesZero) {
    const float inf = std::numeric_limits<float>::infinity();
    const Matrix3 cases[] = {
        Rows({1.0f, 2.0f, 3.0f, 2.0f, 4.0f, 6.0f, 0.0f, 0.0f, 1.0f}),
        Rows({inf, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f}),
        Rows({3e38f, 0.0f, 0.0f, 0.0f, 3e38f, 0.0f, 0.0f, 0.0f, 3e38f}),
    };
    for (Matrix3 m : cases) {
        EXPECT_FALSE(m.Invert());
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 4; ++j) {
                EXPECT_EQ(m.m[i][j], 0.0f);
            }
        }
    }
}

} // namespace
} // namespace quarn
