#include "tests/support/HostileGame.h"
#include "tests/tools/ToolRun.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

// The tools that run a game's frames, started in its folder, reach what the player reaches: the
// scene the user names is theirs, what it names and what its scripts open stay the game's.
TEST(ToolReach, ToolsThatRunAGameReachNothingOutsideIt) {
    const struct {
        std::vector<std::string> arguments;
        const char* environment;
    } runs[] = {
        {{"render", "main.scene", "--frames", "2", "--out", "shot.png"}, ""},
        {{"editor-shot", ".", "shot.png", "--frames", "2"}, "QUARN_LOG=1"},
        {{"simulate", "main.scene", "--steps", "1"}, ""},
    };
    for (const auto& run : runs) {
        test::TempFolder folder;
        test::WriteHostileGame(folder, "autorun = \"main.scene\"\n");
        const test::ToolRun ran =
            test::RunToolIn(folder.Join("game"), run.arguments, run.environment);
        SCOPED_TRACE(run.arguments[0]);
        EXPECT_EQ(ran.status, 0) << ran.err;
        test::ExpectNothingReachedOutside(ran.out + ran.err, folder);
    }
}

} // namespace
} // namespace quarn
