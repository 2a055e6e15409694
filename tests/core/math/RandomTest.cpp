#include "core/math/Random.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

TEST(Random, SeedOneGivesTheGoldenSequence) {
    SeedRandom(1);
    for (int32_t expected : {41, 18467, 6334, 26500, 19169}) {
        EXPECT_EQ(RandomNumber(), expected);
    }
}

} // namespace
} // namespace quarn
