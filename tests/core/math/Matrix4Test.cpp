#include "core/math/Matrix4.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace quarn {
namespace {

// The point (x, y, z, 1) as a row vector times m.
Float3 TransformPoint(const Float3& p, const Matrix4& m) {
    const Float4 t = m.GetRow(3);
    return m.TransformNormal(p) + Float3(t.x, t.y, t.z);
}

// 90 degrees about Z for row vectors: +X goes to +Y.
Matrix4 QuarterTurnAboutZ() {
    Matrix4 m;
    m.At(0, 0) = m.At(1, 1) = 0.0f;
    m.At(0, 1) = 1.0f;
    m.At(1, 0) = -1.0f;
    return m;
}

void ExpectEqual(const Float3& actual, const Float3& expected) {
    EXPECT_FLOAT_EQ(actual.x, expected.x);
    EXPECT_FLOAT_EQ(actual.y, expected.y);
    EXPECT_FLOAT_EQ(actual.z, expected.z);
}

TEST(Matrix4, ProductAppliesTheLeftMatrixFirst) {
    Matrix4 translate;
    translate.SetTranslation(Float3(10.0f, 0.0f, 0.0f));
    const Matrix4 rotate = QuarterTurnAboutZ();
    Matrix4 translateThenRotate;
    translate.Multiply(rotate, translateThenRotate);
    ExpectEqual(TransformPoint(Float3(1, 0, 0), translateThenRotate), Float3(0, 11, 0));
    Matrix4 rotateThenTranslate = rotate;
    rotateThenTranslate *= translate; // writes into its own left operand
    ExpectEqual(TransformPoint(Float3(1, 0, 0), rotateThenTranslate), Float3(10, 1, 0));
}

// A scaled, sheared, rotated and translated matrix: every cofactor path takes part.
Matrix4 GeneralMatrix() {
    Matrix4 m;
    const float values[16] = {2.0f,  0.5f, -1.0f, 0.0f, 0.3f, 3.0f,  0.7f, 0.0f,
                              -0.4f, 1.2f, 1.5f,  0.2f, 4.0f, -2.0f, 7.0f, 1.0f};
    std::copy(values, values + 16, m.m);
    return m;
}

TEST(Matrix4, InverseUndoesTheMatrixAndIsAllZeroForASingularOne) {
    const Matrix4 m = GeneralMatrix();
    Matrix4 product;
    m.Multiply(m.Inverted(), product);
    Matrix4 inPlace = m;
    EXPECT_NE(inPlace.Invert(inPlace), 0.0f); // the determinant comes back
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(product.m[i], Matrix4().m[i], 1e-5f) << "element " << i;
        EXPECT_FLOAT_EQ(inPlace.m[i], m.Inverted().m[i]) << "element " << i;
    }
    Matrix4 flat;
    flat.At(2, 2) = 0.0f; // squashes z
    flat.At(3, 0) = 5.0f;
    const Matrix4 inverse = flat.Inverted();
    for (float value : inverse.m) {
        EXPECT_EQ(value, 0.0f);
    }
    // Mapping a point back through it lands on the origin, not on NaN (w is 0 there).
    ExpectEqual(inverse.TransformCoord(Float3(1.0f, 2.0f, 3.0f)), Float3());
}

} // namespace
} // namespace quarn
