#include "device/DrawBufferShare.h"

#include "tests/support/CapturingLogSink.h"
#include "tests/support/ScopedValue.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

// Shares hold up to the scene's limit together; one refused keeps what it held, and the first
// refusal alone is told, until every share has been given back.
TEST(DrawBufferShare, SharesStayWithinTheSceneLimitAndTheFirstRefusalIsTold) {
    ASSERT_EQ(DrawBufferShare::SceneBytes(), 0u) << "a share of an earlier test was kept";
    // A refusal is told once until the total next comes back to nothing: an earlier test's
    // refusal at an empty total is forgotten by a share held and let go.
    DrawBufferShare().Hold(1, nullptr);
    const test::ScopedValue<uint64_t> limit(DrawBufferShare::SceneByteLimit, 1000);
    test::CapturingLogSink log;
    DrawBufferShare a, b, c;
    EXPECT_TRUE(a.Hold(600, nullptr));
    EXPECT_FALSE(b.Hold(401, nullptr));
    EXPECT_TRUE(b.Hold(400, nullptr)); // up to the limit exactly
    EXPECT_FALSE(c.Hold(1, nullptr));
    EXPECT_FALSE(c.Hold(UINT64_MAX, nullptr));
    EXPECT_TRUE(a.Hold(100, nullptr)); // a share takes the place of what it held
    EXPECT_FALSE(a.Hold(601, nullptr));
    EXPECT_TRUE(a.Hold(600, nullptr));
    EXPECT_FALSE(a.Hold(601, nullptr));
    EXPECT_EQ(a.Bytes(), 600u);
    EXPECT_EQ(c.Bytes(), 0u);
    EXPECT_EQ(DrawBufferShare::SceneBytes(), 1000u);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].text, "A merged batch of 401 bytes would take the scene's draw "
                                   "buffers past 1000: its meshes are drawn one by one; others "
                                   "past it are not told");
    a.Release();
    b.Release();
    EXPECT_EQ(DrawBufferShare::SceneBytes(), 0u);
    EXPECT_FALSE(c.Hold(1001, nullptr)); // a new scene hears of it again
    EXPECT_EQ(log.Lines().size(), 2u);
}

} // namespace
} // namespace quarn
