#include "core/debug/Profiler.h"

#include "tests/support/RecordingValidityHook.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

uint64_t fakeNow = 0;
uint64_t FakeClock() {
    return fakeNow;
}

class ProfilerTest : public ::testing::Test {
protected:
    void SetUp() override { fakeNow = 1000; }
    SectionProfiler profiler{FakeClock};
};

// The time before the close is not charged to the next period.
TEST_F(ProfilerTest, ClosingThePeriodTurnsTotalsIntoAveragesAndStartsThemAgain) {
    const int32_t load = profiler.AddSection(0, "load", 0);
    const int32_t idle = profiler.AddSection(0, "idle", 0);
    profiler.EnterSection(0, load);
    fakeNow += 30;
    profiler.EnterSection(0, idle);
    profiler.EnterSection(0, load);
    fakeNow += 10;
    profiler.ClosePeriod();
    const auto& sections = profiler.Sections(0);
    EXPECT_EQ(sections[load].averageTicks, 20u);
    EXPECT_EQ(sections[idle].averageTicks, 0u);
    for (const auto& section : sections) {
        EXPECT_EQ(section.hits, 0u);
        EXPECT_EQ(section.ticks, 0u);
    }
    fakeNow += 100;
    profiler.ClosePeriod();
    profiler.EnterSection(0, idle);
    EXPECT_EQ(profiler.Sections(0)[load].ticks, 0u);
}

TEST_F(ProfilerTest, BadLevelsAndIndicesAreReportedAndIgnored) {
    test::RecordingValidityHook hook;
    EXPECT_EQ(profiler.AddSection(4, "none", 0), -1);
    profiler.EnterSection(0, 0);
    profiler.EnterSection(-1, 0);
    EXPECT_EQ(hook.Messages().size(), 3u);
    EXPECT_EQ(profiler.CurrentSection(0), -1);
    EXPECT_TRUE(profiler.Sections(9).empty());
}

} // namespace
} // namespace quarn
