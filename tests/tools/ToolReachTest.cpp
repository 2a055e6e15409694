#include "tests/support/HostileGame.h"
#include "tests/support/HostileHome.h"
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

// The tools that run a scene, started in the user's home folder, at the top of the disk and in
// another game's folder, on a downloaded game below the home (HostileHome.h): the scene runs as
// its own game, and reaches nothing of the home. The data home is the home's.
TEST(ToolReach, ASceneRunsAsItsOwnGameWhereverTheToolStarts) {
    const std::string scene = std::string(test::EvilScene);
    const struct {
        const char* start; // below the home; "/" for the top of the disk
        std::vector<std::string> arguments;
        bool absolute; // the scene named by its absolute path
    } runs[] = {
        {"", {"render", "SCENE", "--frames", "2", "--out", "shot.png"}, false},
        {"/", {"render", "SCENE", "--frames", "2", "--out", "shot.png"}, true},
        {"Games/other", {"render", "SCENE", "--frames", "2", "--out", "shot.png"}, true},
        {"", {"simulate", "SCENE", "--steps", "1"}, false},
        {"", {"lightmap", "SCENE"}, false},
        {"", {"editor-shot", ".", "shot.png", "--frames", "8", "--input", "input.txt"}, false},
    };
    for (const auto& run : runs) {
        test::TempFolder home;
        ASSERT_NO_FATAL_FAILURE(test::WriteHostileHome(home));
        home.WriteFile("Games/other/config.txt", "name = \"other\"\n");
        home.WriteFile("Games/other/keep.txt", "other's");
        home.WriteFile("input.txt", "1 answer-path " + home.Join(scene) +
                                        "\n1 command 40002\n3 command 40013\n");
        std::vector<std::string> arguments = run.arguments;
        for (std::string& argument : arguments) {
            if (argument == "SCENE") {
                argument = run.absolute ? home.Join(scene) : scene;
            } else if (argument == "shot.png") {
                argument = home.Join("shot.png");
            } else if (argument == "input.txt") {
                argument = home.Join("input.txt");
            }
        }
        const std::string start = std::string(run.start) == "/" ? "/" : home.Join(run.start);
        const test::ToolRun ran =
            test::RunToolIn(start, arguments,
                            "HOME='" + home.Path() + "'" +
                                (run.arguments[0] == "editor-shot" ? " QUARN_LOG=1" : ""),
                            home.Join("data"));
        SCOPED_TRACE(run.arguments[0] + " in " + run.start);
        EXPECT_EQ(ran.status, 0) << ran.err;
        test::ExpectHomeUntouched(home, ran.out + ran.err);
        EXPECT_EQ(home.ReadFile("Games/other/keep.txt"), "other's");
    }
}

} // namespace
} // namespace quarn
