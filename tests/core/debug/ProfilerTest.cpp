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
