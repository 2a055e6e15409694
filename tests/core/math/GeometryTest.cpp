#include "core/math/Geometry.h"

#include "tests/support/MathExpectations.h"

#include <cmath>
#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::ExpectNear;

const Aabb UnitCube{Float3(-1, -1, -1), Float3(1, 1, 1)};

TEST(Aabb, RayEntersThroughTheFacingSideOrMisses) {
    const struct {
        const char* name;
        Float3 origin, direction;
        float t;       // -1: a miss
        Float3 normal; // checked on a hit from outside
    } cases[] = {
        {"from outside", {-5, 0, 0}, {1, 0, 0}, 4.0f, {-1, 0, 0}},
        // t is in units of the direction, and a negative direction gives a positive normal.
        {"scaled direction", {0, 0, 5}, {0, 0, -2}, 2.0f, {0, 0, 1}},
        {"through an edge: the lower axis wins", {-3, -3, 0}, {1, 1, 0}, 2.0f, {-1, 0, 0}},
        {"from inside", {0, 0, 0}, {0, 1, 0}, 0.0f, {}},
        {"parallel outside a slab", {5, 0, 0}, {0, 1, 0}, -1.0f, {}},
        {"box behind", {5, 0, 0}, {1, 0, 0}, -1.0f, {}},
        {"slabs overlap nowhere", {-5, 3, 0}, {1, -0.1f, 0}, -1.0f, {}},
        {"NaN direction", {-5, 0, 0}, {NAN, 0, 0}, -1.0f, {}},
    };
    for (const auto& c : cases) {
        Float3 normal;
        EXPECT_FLOAT_EQ(UnitCube.RayIntersect(c.origin, c.direction, &normal), c.t) << c.name;
        if (c.t > 0.0f) {
            EXPECT_FALSE(normal != c.normal) << c.name;
        }
    }
    // Inverted on x only: each x bound still lies ahead of the ray and overlaps the y and z
    // slabs, so comparing near and far across axes alone would report a hit at t = 2.
    const Aabb inverted{Float3(2, 0, 0), Float3(1, 3, 3)};
    EXPECT_EQ(inverted.RayIntersect(Float3(0, 0, 0), Float3(1, 1, 1)), -1.0f);
}

TEST(NextPowerOfTwo, RoundsUpKeepsPowersAndGivesZeroPastTheTop) {
    const uint32_t cases[][2] = {{1, 1},           {5, 8}, {8, 8}, {0x80000000u, 0x80000000u},
                                 {0x80000001u, 0}, {0, 0}};
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(NextPowerOfTwo(value), expected) << value;
    }
}

} // namespace
} // namespace quarn
