#include "tests/support/HostileGame.h"
#include "tests/support/HostileHome.h"
#include "tests/tools/ToolRun.h"

#include <filesystem>
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

// Runs when the scene sets its "target": copies the payload over TARGET.bashrc, removes
// TARGET.notes.csv, makes TARGET.made.txt and prints "loaded [TARGET]".
constexpr const char* LoadStealProgram =
    "header 0 0\nstack 64\nvar \"target\" string kind=2\n"
    "function \"property_changed\" () at=@changed\n"
    "changed:\n    line\n    text \"payload.txt\"\n    push 0\n    load 1\n    text \".bashrc\"\n"
    "    op string \"+(string):string\"\n    func 92\n"
    "    line\n    push 0\n    load 1\n    text \"notes.csv\"\n"
    "    op string \"+(string):string\"\n    func 90\n"
    "    line\n    push 0\n    load 1\n    text \"made.txt\"\n"
    "    op string \"+(string):string\"\n    func 91\n"
    "    line\n    text \"loaded [\"\n    push 0\n    load 1\n    op string \"+(string):string\"\n"
    "    text \"]\"\n    op string \"+(string):string\"\n    func 36\n    return 0 0\n";

// The tools that only load a scene run its code all the same (a public variable's
// property_changed): started in the home folder, at the top of the disk and in another game's
// folder, on the downloaded game below the home, that code runs as the scene's own game. The
// scene names its program from the game's folder and, as a scene made to be opened from the
// home would, from the home; OUT is named from where the tool starts.
TEST(ToolReach, ToolsThatLoadASceneRunItsCodeAsItsOwnGame) {
    const std::string game = std::string(test::EvilGame) + "/";
    const struct {
        const char* start; // below the home; "/" for the top of the disk
        std::vector<std::string> arguments;
    } runs[] = {
        {"", {"scene", "SCENE", "out.scene"}},
        {"/", {"scene", "SCENE", "HOME/out.scene"}},
        {"Games/other", {"scene", "SCENE", "out.scene"}},
        {"", {"pairs", "SCENE"}},
        {"Games/other", {"contacts", "SCENE", "a", "b"}},
    };
    for (const auto& run : runs) {
        test::TempFolder home;
        ASSERT_NO_FATAL_FAILURE(test::WriteHostileHome(home));
        home.WriteFile("Games/other/config.txt", "name = \"other\"\n");
        home.WriteFile("Games/other/keep.txt", "other's");
        home.WriteFile(game + "load.asm", LoadStealProgram);
        ASSERT_EQ(test::RunTool(home, {"script", "asm", game + "load.asm", game + "load"}).status,
                  0);
        std::string objects =
            "obj2 {\n\tclass = \"CollisionSphere\"\n\tname = \"a\"\n\tparent = 1\n}\n"
            "obj3 {\n\tclass = \"CollisionSphere\"\n\tname = \"b\"\n\tparent = 1\n}\n";
        int id = 3;
        for (const std::string& program : {std::string("load.script"), game + "load.script"}) {
            for (const std::string& form : test::HomeForms(home)) {
                objects += "obj" + std::to_string(++id) + " {\n\tclass = \"Script\"\n" +
                           "\tparent = 1\n\tscriptfile = \"" + program + "\"\n\ttarget = \"" +
                           form + "\"\n}\n";
            }
        }
        home.WriteFile(test::EvilScene,
                       "version = 44\nnum_nodes = " + std::to_string(id) +
                           "\nobj1 {\n\tclass = \"Node\"\n\tname = \"root\"\n\tflags = 1\n}\n" +
                           objects);
        const bool top = std::string(run.start) == "/";
        const std::string start = top ? "/" : home.Join(run.start);
        std::vector<std::string> arguments = run.arguments;
        for (std::string& argument : arguments) {
            if (argument == "SCENE") {
                argument =
                    top ? home.Join(test::EvilScene)
                        : std::filesystem::relative(home.Join(test::EvilScene), start).string();
            } else if (argument.starts_with("HOME/")) {
                argument = home.Join(argument.substr(5));
            }
        }
        const test::ToolRun ran =
            test::RunToolIn(start, arguments, "HOME='" + home.Path() + "'", home.Join("data"));
        SCOPED_TRACE(run.arguments[0] + " in " + run.start);
        EXPECT_EQ(ran.status, 0) << ran.err;
        EXPECT_EQ(home.ReadFile(".bashrc"), "mine");
        EXPECT_EQ(home.ReadFile("notes.csv"), "keep;keep\n");
        EXPECT_FALSE(std::filesystem::exists(home.Join("made.txt")));
        EXPECT_EQ(home.ReadFile("Games/other/keep.txt"), "other's");
        for (const std::string& form : test::HomeForms(home)) {
            EXPECT_NE(ran.out.find("loaded [" + form + "]"), std::string::npos) << form << "\n"
                                                                                << ran.out;
        }
        // The game's own scripts write in their game; OUT lands where the user named it.
        EXPECT_EQ(home.ReadFile(game + ".bashrc"), "pwned");
        if (run.arguments[0] == "scene") {
            EXPECT_TRUE(std::filesystem::exists(
                top ? home.Join("out.scene") : home.Join(std::string(run.start) + "/out.scene")));
            EXPECT_FALSE(std::filesystem::exists(home.Join(game + "out.scene")));
        }
    }
}

} // namespace
} // namespace quarn
