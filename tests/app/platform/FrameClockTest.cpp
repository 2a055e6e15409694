#include "app/platform/FrameClock.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

constexpr int64_t Frequency = 1000000; // microseconds

TEST(FrameClock, LongFramesAreCutAndBackwardsCountersCountAsOneMicrosecond) {
    FrameClock clock;
    clock.Start(0);
    clock.EndFrame(300000, Frequency);
    EXPECT_FLOAT_EQ(clock.RawTime(), 0.3f);
    EXPECT_FLOAT_EQ(clock.ClampedTime(), 0.1f);
    EXPECT_NEAR(clock.SmoothedTime(), 0.028f, 1e-6f);
    EXPECT_EQ(clock.FrameCount(), 1u);
    // A counter going backwards counts as one microsecond, standing still as zero.
    clock.EndFrame(200000, Frequency);
    EXPECT_FLOAT_EQ(clock.ClampedTime(), 0.000001f);
    clock.EndFrame(200000, Frequency);
    EXPECT_FLOAT_EQ(clock.ClampedTime(), 0.0f);
}

TEST(FrameClock, SmoothedTimeForgetsAFrameAfterFiveMore) {
    FrameClock clock;
    clock.Start(0);
    int64_t now = 0;
    now += 100000;
    clock.EndFrame(now, Frequency);
    for (int frame = 0; frame < 4; ++frame) {
        now += 20000;
        clock.EndFrame(now, Frequency);
    }
    EXPECT_NEAR(clock.SmoothedTime(), (0.1f + 4 * 0.02f) / 5, 1e-6f);
    now += 20000;
    clock.EndFrame(now, Frequency);
    EXPECT_NEAR(clock.SmoothedTime(), 0.02f, 1e-6f);
}

} // namespace
} // namespace quarn
