#include "core/object/NamedConstants.h"

#include <gtest/gtest.h>
#include <iterator>

namespace quarn {
namespace {

TEST(NamedConstants, TheFirstRegistrationOfANameWins) {
    RegisterNamedConstant("TEST_NORMAL", 0);
    RegisterNamedConstant("TEST_NORMAL", 5);
    int32_t value = -1;
    ASSERT_TRUE(FindNamedConstant("TEST_NORMAL", &value));
    EXPECT_EQ(value, 0);
}

TEST(NamedConstants, NamesCompareExactlyAndInByteOrder) {
    RegisterNamedConstant("ORDER_b", 2);
    RegisterNamedConstant("ORDER_B", 1);
    RegisterNamedConstant("ORDER_a", 3);
    int32_t value = 0;
    EXPECT_FALSE(FindNamedConstant("order_b", &value));
    EXPECT_FALSE(FindNamedConstant(nullptr, &value));
    auto upper = NamedConstants().find("ORDER_B");
    ASSERT_NE(upper, NamedConstants().end());
    EXPECT_EQ(std::next(upper)->first, "ORDER_a") << "upper case sorts before lower case";
}

} // namespace
} // namespace quarn
