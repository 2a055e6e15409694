#include "core/debug/Assertion.h"

#include "tests/support/RecordingAssertionHook.h"

#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

TEST(Assertion, FailedChecksReachTheHookWithTheirPlaceAndPassingOnesDoNot) {
    ReportAssertion(1, "nobody listens %d", 1); // without a hook: nothing happens
    test::RecordingAssertionHook hook;
    EXPECT_TRUE(QUARN_CHECK_ARGUMENTS(true));
    EXPECT_TRUE(QUARN_CHECK_ASSERTION(true, "n > 0"));
    EXPECT_TRUE(hook.Messages().empty());

    const int line = __LINE__ + 1;
    EXPECT_FALSE(QUARN_CHECK_ARGUMENTS(false));
    EXPECT_FALSE(QUARN_CHECK_ASSERTION(false, "n > 0"));
    ASSERT_EQ(hook.Messages().size(), 2u);
    const std::string place = std::string(__FILE__) + ":" + std::to_string(line);
    EXPECT_EQ(hook.Messages()[0], "Bad argument(s) (" + place + ")");
    EXPECT_EQ(hook.Messages()[1], "assertion \"n > 0\" failed in " + std::string(__FILE__) + ":" +
                                      std::to_string(line + 1));
}

} // namespace
} // namespace quarn
