#include "app/player/SceneCommands.h"
#include "core/filesystem/FileSystem.h"
#include "core/object/Property.h"
#include "core/scene/EngineState.h"
#include "tests/app/player/PlayerRun.h"
#include "tests/app/player/PlayerTestSupport.h"
#include "tests/tools/ToolRun.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace quarn {
namespace {

constexpr uint32_t LoadCommand = 40002;
constexpr uint32_t SaveCommand = 40007;

// "objN" blocks of a scene: a class, a name "nN" and the lines given.
std::string Object(int id, const char* className, const std::string& lines = "") {
    const std::string n = std::to_string(id);
    return "obj" + n + " {\n\tclass = \"" + className + "\"\n\tname = \"n" + n + "\"\n" + lines +
           "}\n";
}
std::string Scene(int count, const std::string& objects) {
    return "version = 44\nnum_nodes = " + std::to_string(count) + "\n" +
           Object(1, "Node", "\tflags = 1\n") + objects;
}

int ObjectsIn(const std::string& text) {
    int count = 0;
    for (size_t at = text.find("\nobj"); at != std::string::npos; at = text.find("\nobj", at + 1)) {
        ++count;
    }
    return count;
}

// The editor's dialogs of one kind and title so far.
size_t Asked(const ScriptedDialogs& dialogs, const std::string& title) {
    const auto& requests = dialogs.Requests();
    return static_cast<size_t>(std::count_if(requests.begin(), requests.end(),
                                             [&](const auto& r) { return r.title == title; }));
}

// A scene the editor cannot load as its file has it, what the box says of it, and how many
// objects a save over it keeps.
struct ShortScene {
    const char* name;
    std::string text;
    std::string told;
    int kept;
};

const ShortScene ShortScenes[] = {
    {"MissingParent",
     Scene(4, Object(2, "Pivot", "\tparent = 1\n") + Object(3, "Pivot", "\tparent = 9\n") +
                  Object(4, "Pivot", "\tparent = 1\n")),
     "1 of its objects is not where the file puts it: obj3 (n3) names parent 9, which the file "
     "does not hold; 1 top-level node beside its root (the first: obj3 (n3)) is placed under the "
     "root",
     4},
    {"TwoObjectsOfOneId",
     Scene(5, Object(2, "Pivot", "\tparent = 1\n") + Object(3, "Pivot", "\tparent = 1\n") +
                  Object(3, "Pivot", "\tparent = 1\n") + Object(4, "Pivot", "\tparent = 1\n")),
     "1 of its objects could not be loaded: it could not be found again by its id (obj3 is in "
     "the file more than once)",
     4},
    {"ParentLoop",
     Scene(5, Object(2, "Pivot", "\tparent = 1\n") + Object(3, "Pivot", "\tparent = 1\n") +
                  Object(4, "Pivot", "\tparent = 5\n") + Object(5, "Pivot", "\tparent = 4\n")),
     "1 of its objects is not where the file puts it: obj5 (n5) names parent 4, which would close "
     "a cycle; 1 top-level node beside its root (the first: obj5 (n5)) is placed under the root",
     5},
    {"TwoRoots", Scene(4, Object(2, "Node") + Object(3, "Node") + Object(4, "Node")),
     "3 top-level nodes beside its root (the first: obj2 (n2)) are placed under the root", 4},
    {"CutShort", Scene(3, Object(2, "Pivot", "\tparent = 1\n")),
     "the file is cut short after 2 of the 3 objects its header counts", 2},
};

class ShortSceneInTheEditor : public test::PlayerTest,
                              public ::testing::WithParamInterface<ShortScene> {};

// Told in one box as it opens; Save over it asks, No (the default) keeps the file as it was, Yes
// writes every object the load kept, in one tree that loads whole.
TEST_P(ShortSceneInTheEditor, IsToldOnceAndSavedOverOnlyWhenTheUserSaysSo) {
    test::ExpectInFreshProcess([this] {
        const ShortScene& scene = GetParam();
        folder.WriteFile("config.txt", "");
        folder.WriteFile("level.scene", scene.text);
        ASSERT_TRUE(StartEditor());
        ASSERT_TRUE(Step());
        dialogs->AnswerPath("level.scene");
        Command(LoadCommand);
        ASSERT_NE(GetSceneRoot(), nullptr);
        ASSERT_EQ(Asked(*dialogs, "Scene loaded short"), 1u);
        EXPECT_EQ(Asked(*dialogs, "Validity check"), 0u);
        const std::string path = folder.Join("level.scene");
        EXPECT_TRUE(log.Contains("Scene '" + path + "' did not load whole: " + scene.told))
            << LogText();
        ASSERT_TRUE(Step());

        dialogs->AnswerButton(1);
        Command(SaveCommand);
        const auto& asked = dialogs->Requests().back();
        EXPECT_EQ(asked.title, "Save over a short scene");
        EXPECT_EQ(asked.type, MessageBoxYesNo | MessageBoxIconWarning | MessageBoxDefaultButton2);
        EXPECT_EQ(folder.ReadFile("level.scene"), scene.text);
        EXPECT_FALSE(std::filesystem::exists(folder.Join("level.scn")));

        dialogs->AnswerButton(0);
        Command(SaveCommand);
        const std::string saved = folder.ReadFile("level.scene");
        EXPECT_EQ(ObjectsIn(saved), scene.kept) << saved;
        for (const char* file : {"level.scene", "level.scn"}) {
            const test::ToolRun back = test::RunTool(folder, {"scene", file, "back.scene"});
            EXPECT_EQ(back.status, 0) << file << ": " << back.err;
        }
        // The file now holds what the editor holds: the next save asks nothing.
        const size_t questions = dialogs->Requests().size();
        Command(SaveCommand);
        EXPECT_EQ(dialogs->Requests().size(), questions);
    });
}

INSTANTIATE_TEST_SUITE_P(Scenes, ShortSceneInTheEditor, ::testing::ValuesIn(ShortScenes),
                         [](const auto& info) { return std::string(info.param.name); });

class LoadWithoutAGame : public test::PlayerTest, public ::testing::WithParamInterface<bool> {};

// Started in a folder without a config.txt, the editor takes it as a game without a start scene:
// File/Load opens a scene there by either path and the editor goes on; a second load is refused,
// saying why, and the first scene stays.
TEST_P(LoadWithoutAGame, FileLoadOpensTheSceneAndGoesOn) {
    test::ExpectInFreshProcess([this] {
        folder.WriteFile("level.scene", test::SceneText());
        ASSERT_TRUE(StartEditor());
        EXPECT_EQ(GetSceneRoot(), nullptr);
        EXPECT_EQ(std::string(GetFileSystem()->GetGameRoot()), folder.Path() + "/");
        ASSERT_TRUE(Step());
        dialogs->AnswerPath(GetParam() ? folder.Join("level.scene") : "level.scene");
        Command(LoadCommand);
        Node* root = GetSceneRoot();
        ASSERT_NE(root, nullptr);
        EXPECT_TRUE(log.Contains("Scene '" + folder.Join("level.scene") + "' loaded"));
        ASSERT_TRUE(Step());

        Command(LoadCommand);
        ASSERT_EQ(dialogs->Requests().back().title, "Load");
        EXPECT_EQ(dialogs->Requests().back().text,
                  "No other scene is opened: the editor edits one scene per run, and '" +
                      folder.Join("level.scene") +
                      "' is open. Start the editor again to open another.");
        EXPECT_EQ(GetSceneRoot(), root);
        EXPECT_TRUE(StepFrames(2));
    });
}

INSTANTIATE_TEST_SUITE_P(Paths, LoadWithoutAGame, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Absolute" : "Relative"; });

using EditorBranches = test::PlayerTest;

// Branches that load short are told with the scene; the scene's save writes a branch file only
// when its content was edited, and over one that loaded short only when the user says so.
FRESH_PROCESS_TEST_F(EditorBranches, AreToldWhenShortAndWrittenOnlyWhenEdited) {
    const std::string pair = "version = 44\nidsystem = 0\nnum_nodes = 2\n";
    const std::string branches[][2] = {
        {"twice.branch", pair + Object(5, "Pivot") + Object(5, "Pivot")},
        {"orphan.branch", pair + Object(5, "Pivot") + Object(6, "Pivot", "\tparent = 9\n")},
        {"fine.branch", pair + Object(5, "Pivot") + Object(6, "Pivot", "\tparent = 5\n")},
    };
    std::string instances;
    for (int index = 0; index < 3; ++index) {
        folder.WriteFile(branches[index][0], branches[index][1]);
        // Each after the one before, so that the root's children come in this order.
        const std::string prev = index > 0 ? "\tprev = " + std::to_string(index + 1) + "\n" : "";
        instances += Object(index + 2, "Branch",
                            "\tparent = 1\n" + prev + "\tbranchflags = 1\n\tbranch = \"" +
                                branches[index][0] + "\"\n");
    }
    folder.WriteFile("config.txt", "");
    folder.WriteFile("level.scene", Scene(4, instances));
    ASSERT_TRUE(StartEditor());
    dialogs->AnswerPath("level.scene");
    Command(LoadCommand);
    ASSERT_NE(GetSceneRoot(), nullptr);
    ASSERT_EQ(Asked(*dialogs, "Scene loaded short"), 1u);
    const std::string told = dialogs->Requests().back().text;
    for (const char* line :
         {"\n'twice.branch': 1 of its objects could not be loaded: it could not be found again by "
          "its id (obj5 is in the file more than once).\n",
          "\n'orphan.branch': 1 of its objects is not where the file puts it: obj6 (n6) names "
          "parent 9, which the file does not hold.\n"}) {
        EXPECT_NE(told.find(line), std::string::npos) << told;
    }

    Command(SaveCommand);
    EXPECT_TRUE(log.Contains("Scene saved as '" + folder.Join("level.scene") + "'"));
    for (const auto& [file, text] : branches) {
        EXPECT_EQ(folder.ReadFile(file), text) << file;
    }

    // An edit in each branch that loaded whole or with a node out of place; No keeps the second.
    const auto inner = [](int index) { return GetSceneRoot()->GetChild(index)->GetFirstChild(); };
    for (int index : {1, 2}) {
        ASSERT_NE(inner(index), nullptr);
        inner(index)->FindProperty("pos")->SetFromText(*inner(index), "1,2,3");
    }
    dialogs->AnswerButton(1);
    Command(SaveCommand);
    EXPECT_EQ(Asked(*dialogs, "Save over a short branch"), 1u);
    EXPECT_EQ(folder.ReadFile("orphan.branch"), branches[1][1]);
    EXPECT_NE(folder.ReadFile("fine.branch").find("pos = 1.000000,2.000000,3.000000"),
              std::string::npos);
    EXPECT_EQ(folder.ReadFile("twice.branch"), branches[0][1]);

    // Yes writes the branch as the editor holds it, and from then on it is no longer short.
    dialogs->AnswerButton(0);
    inner(1)->FindProperty("pos")->SetFromText(*inner(1), "4,5,6");
    Command(SaveCommand);
    EXPECT_EQ(Asked(*dialogs, "Save over a short branch"), 2u);
    const std::string written = folder.ReadFile("orphan.branch");
    EXPECT_NE(written.find("pos = 4.000000,5.000000,6.000000"), std::string::npos) << written;
    inner(1)->FindProperty("pos")->SetFromText(*inner(1), "7,8,9");
    Command(SaveCommand);
    EXPECT_EQ(Asked(*dialogs, "Save over a short branch"), 2u);
    EXPECT_NE(folder.ReadFile("orphan.branch").find("pos = 7.000000"), std::string::npos);
}

using PlayerLoads = test::PlayerTest;

// The player leaves out what is not in the scene's one tree, and says so; the load's validity
// reports wait for one box.
FRESH_PROCESS_TEST_F(PlayerLoads, ANodeWithoutItsParentIsLoggedAndTheReportsMakeOneBox) {
    std::string terrains;
    for (int id = 4; id < 9; ++id) {
        terrains += Object(id, "CollisionTerrain", "\tparent = 1\n\tgridsize = -1,5\n");
    }
    folder.WriteFile("level.scene", Scene(8, Object(2, "Pivot", "\tparent = 1\n") +
                                                 Object(3, "Pivot", "\tparent = 9\n") + terrains));
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    ASSERT_TRUE(Start());
    ASSERT_NE(GetSceneRoot(), nullptr);
    EXPECT_TRUE(log.Contains(folder.Join("level.scene") +
                             ": obj3 (n3): property 'parent' of class Pivot: '9' names no "
                             "object of the file"));
    EXPECT_TRUE(log.Contains("Scene " + folder.Join("level.scene") +
                             ": 1 top-level node beside its root (the first: obj3 (n3)) is left "
                             "out of the game"));
    ASSERT_EQ(Asked(*dialogs, "Validity check"), 1u);
    EXPECT_NE(dialogs->Requests().back().text.find("(4 more validity reports are in the log)"),
              std::string::npos);
    EXPECT_TRUE(Step());
}

// A built program (QUARN_PLAYER or QUARN_TOOL) run in `game`, a folder of `folder`, as a user
// runs it, without a display, its input script and the engine's settings in `folder`; its log,
// `folder` written as "~".
std::string RunIn(const test::TempFolder& folder, const std::string& game, const char* program,
                  const std::string& arguments, const std::string& input = "") {
    folder.WriteFile("input.txt", input);
    const std::string command =
        "cd '" + folder.Join(game) + "' && " + test::Headless + " QUARN_DIALOGS=script" +
        (input.empty() ? "" : " QUARN_INPUT='" + folder.Join("input.txt") + "'") +
        " XDG_DATA_HOME='" + folder.Join("data") + "' timeout -k 10 120 '" + program + "' " +
        arguments + " >/dev/null 2>'" + folder.Join("log") + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command << "\n" << folder.ReadFile("log");
    return test::Tilde(folder.ReadFile("log"), folder);
}

// Two games: A, whose start scene's script saves a setting, and B, whose config.txt names no
// start scene. A's runs leave the engine's settings alone, and A's scene, the editor's recent
// file, does not start as B's game at start-up; from the File menu it opens as its own game, and
// in its own game's folder it starts.
TEST(RecentScenes, RunOnlyAsTheGameTheyBelongTo) {
    test::TempFolder folder;
    folder.WriteFile("A/settle.asm", "header 0 0\nstack 64\nfunction \"start\" () at=@start\n"
                                     "start:\n    line\n    text \"best\"\n    text \"42\"\n"
                                     "    func 114\n    line\n    return 0 0\n");
    ASSERT_EQ(test::RunTool(folder, {"script", "asm", "A/settle.asm", "A/settle"}).status, 0);
    folder.WriteFile("A/config.txt", "autorun = \"a.scene\"\n");
    folder.WriteFile(
        "A/a.scene",
        Scene(2, Object(2, "Script", "\tparent = 1\n\tscriptfile = \"settle.script\"\n")));
    folder.WriteFile("B/config.txt", "name = \"B\"\n");

    RunIn(folder, "A", QUARN_PLAYER, "", "3 close\n");
    RunIn(folder, "A", QUARN_TOOL, "render a.scene --frames 2 --out shot.png");
    EXPECT_EQ(folder.ReadFile("data/Quarn/games/A/init.txt"), "best = \"42\"\n");
    EXPECT_FALSE(std::filesystem::exists(folder.Join("data/Quarn/init.txt")));

    folder.WriteFile("data/Quarn/init.txt",
                     "recent_file1 = \"" + folder.Join("A/a.scene") + "\"\n");
    const std::string log =
        RunIn(folder, "B", QUARN_PLAYER, "--editor", "1 command 40086\n3 close\n");
    EXPECT_NE(log.find("Recent file '~/A/a.scene' is not started: it is not in this game's folder "
                       "'~/B/'"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Game folder is now '~/A/'"), std::string::npos) << log;
    EXPECT_NE(log.find("Scene '~/A/a.scene' loaded"), std::string::npos) << log;
    EXPECT_FALSE(std::filesystem::exists(folder.Join("data/Quarn/games/B/init.txt")));

    // In a folder of its own game, with no start scene named, the recent file starts.
    folder.WriteFile("A/config.txt", "");
    EXPECT_NE(RunIn(folder, "A", QUARN_PLAYER, "--editor", "3 close\n")
                  .find("Scene '~/A/a.scene' loaded"),
              std::string::npos);
}

} // namespace
} // namespace quarn
