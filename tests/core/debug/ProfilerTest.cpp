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

TEST_F(ProfilerTest, TimeGoesToTheCurrentSectionOfEveryLevelAndDeeperLevelsAreLeft) {
    int32_t load = profiler.AddSection(0, "load", 0);
    profiler.EnterSection(0, load);
    int32_t parse = profiler.AddSection(1, "parse", 42);
    int32_t link = profiler.AddSection(1, "link", 0);
    fakeNow += 10; // load alone
    profiler.EnterSection(1, parse);
    fakeNow += 5; // load and parse
    profiler.EnterSection(1, link);
    fakeNow += 3; // load and link
    profiler.EnterSection(0, load);
    const auto& top = profiler.Sections(0);
    const auto& inner = profiler.Sections(1);
    EXPECT_EQ(top[load].ticks, 18u);
    EXPECT_EQ(top[load].hits, 2u);
    EXPECT_EQ(inner[parse].ticks, 5u);
    EXPECT_EQ(inner[link].ticks, 3u);
    EXPECT_EQ(inner[parse].parent, load);
    // Entering a section leaves every deeper level.
    profiler.EnterSection(1, parse);
    profiler.EnterSection(2, profiler.AddSection(2, "deep", 0));
    profiler.EnterSection(0, load);
    EXPECT_EQ(profiler.CurrentSection(0), load);
    EXPECT_EQ(profiler.CurrentSection(1), -1);
    EXPECT_EQ(profiler.CurrentSection(2), -1);
    fakeNow += 7;
    profiler.EnterSection(0, load);
    EXPECT_EQ(profiler.Sections(1)[parse].ticks, 5u);
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
