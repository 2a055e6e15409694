#include "app/platform/FrameClock.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

constexpr int64_t Frequency = 1000000; // microseconds

TEST(FrameClock, LongFramesAreCutAndBackwardsCountersCountAsOneMicrosecond) {
    FrameClock clock;
    clock.Start(0);
    clock.EndFrame(300000, Frequency);
    EXPECT_FLOAT_EQ(clock.ClampedTime(), 0.1f);
    // A counter going backwards counts as one microsecond, standing still as zero.
    clock.EndFrame(200000, Frequency);
    EXPECT_FLOAT_EQ(clock.ClampedTime(), 0.000001f);
    clock.EndFrame(200000, Frequency);
    EXPECT_FLOAT_EQ(clock.ClampedTime(), 0.0f);
}

} // namespace
} // namespace quarn
