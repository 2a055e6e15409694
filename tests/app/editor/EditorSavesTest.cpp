#include "app/input/Keyboard.h"
#include "app/player/SceneCommands.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/scene/EngineState.h"
#include "editor/UndoHistory.h"
#include "tests/app/player/PlayerRun.h"
#include "tests/app/player/PlayerTestSupport.h"
#include "tests/tools/ToolRun.h"

#include <algorithm>
#include <filesystem>
#include <string>

namespace quarn {
namespace {

constexpr uint32_t SaveCommand = 40007;

// A disk on which the program is killed as a save opens its file number `survived` + 1 (from
// the start of the run): the files before it are written whole, the rest not at all.
class KilledDuringSave : public DiskFileSystem {
public:
    explicit KilledDuringSave(int survived) : left_(survived) {}
    std::unique_ptr<OutputStream> OpenForWrite(const char* path, uint32_t flags) override {
        if (left_-- == 0) {
            throw test::ProgramExit{};
        }
        return DiskFileSystem::OpenForWrite(path, flags);
    }

private:
    int left_;
};

// The editor started in a game folder holding "level.scene", its root named "root".
class EditorSaves : public test::PlayerTest {
protected:
    void StartOn(const std::string& scene) {
        folder.WriteFile("config.txt", "");
        folder.WriteFile("level.scene", test::SceneText());
        if (scene.ends_with(".scn")) {
            ASSERT_EQ(test::RunTool(folder, {"scene", "level.scene", scene, "--compact"}).status,
                      0);
        }
        EngineSetup setup;
        setup.editScene = scene;
        ASSERT_TRUE(StartEditor(setup));
        ASSERT_NE(GetSceneRoot(), nullptr);
        ASSERT_FALSE(GameRunning);
    }
    // An edit as the node menu makes one: recorded as unsaved.
    static void Rename(const char* name) {
        GetSceneRoot()->SetName(name);
        GetUndoHistory()->SetUnsavedChanges(true);
    }
    // The name of the root the file holds, as the engine reads it back; "" when it cannot.
    std::string RootNameIn(const std::string& file) const {
        if (test::RunTool(folder, {"scene", file, "back.scene"}).status != 0) {
            return "";
        }
        const std::string text = folder.ReadFile("back.scene");
        const size_t at = text.find("\tname = \"") + 9;
        return text.substr(at, text.find('"', at) - at);
    }
    // A compact file never starts as the text form does.
    bool HoldsText(const std::string& file) const {
        return folder.ReadFile(file).rfind("version = ", 0) == 0;
    }
    size_t Count(const std::string& line) const {
        const std::string text = LogText();
        size_t count = 0;
        for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) {
            ++count;
        }
        return count;
    }
};

struct KilledSave {
    const char* opened;
    int survived; // files the save wrote before the kill
};

class EditorSaveKilled : public EditorSaves, public ::testing::WithParamInterface<KilledSave> {};

// A save is killed between its two files: each file the engine reads back, as it was or as
// saved, and the file the user named is the one saved first.
TEST_P(EditorSaveKilled, LeavesEachFileAsItWasOrAsSaved) {
    test::ExpectInFreshProcess([this] {
        const KilledSave& killed = GetParam();
        ASSERT_NO_FATAL_FAILURE(StartOn(killed.opened));
        Rename("saved");
        FileSystem& disk = *GetFileSystem();
        auto* killing = new KilledDuringSave(killed.survived);
        killing->SetBaseFolder(disk.GetBaseFolder());
        killing->SetGameRoot(disk.GetGameRoot());
        killing->SetUserFolder(disk.GetUserFolder());
        SetFileSystem(killing);
        EXPECT_THROW(SaveCurrentScene(), test::ProgramExit);
        const std::string named = killed.opened;
        const std::string twin = named == "level.scn" ? "level.scene" : "level.scn";
        EXPECT_EQ(RootNameIn(named), killed.survived > 0 ? "saved" : "root");
        if (std::filesystem::exists(folder.Join(twin))) {
            EXPECT_EQ(RootNameIn(twin), "root");
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Files, EditorSaveKilled,
                         ::testing::Values(KilledSave{"level.scene", 1}, KilledSave{"level.scn", 0},
                                           KilledSave{"level.scn", 1}),
                         [](const auto& info) {
                             const std::string opened = info.param.opened;
                             return std::string(opened.ends_with(".scn") ? "Scn" : "Scene") +
                                    "After" + std::to_string(info.param.survived);
                         });

// Opened from its ".scn", a scene saves its text form as ".scene" beside it, never under the
// ".scn" name, and stays the ".scn" scene; Save As to a ".scn" name the same. Each file is
// told once.
FRESH_PROCESS_TEST_F(EditorSaves, ASceneOpenedFromItsCompactFileSavesEachFormUnderItsOwnName) {
    ASSERT_NO_FATAL_FAILURE(StartOn("level.scn"));
    std::filesystem::remove(folder.Join("level.scene"));
    Rename("saved");
    Command(SaveCommand);
    EXPECT_EQ(GetCurrentScenePath(), folder.Join("level.scn"));
    EXPECT_FALSE(HoldsText("level.scn"));
    EXPECT_TRUE(HoldsText("level.scene"));
    EXPECT_EQ(Count("Scene saved as '~/level.scn'"), 1u);
    EXPECT_EQ(Count("Scene saved as '~/level.scene'"), 1u);
    EXPECT_EQ(RootNameIn("level.scn"), "saved");
    EXPECT_EQ(folder.ReadFile("back.scene"), folder.ReadFile("level.scene"));

    dialogs->AnswerPath(folder.Join("other.scn"));
    Command(40012);
    EXPECT_EQ(GetCurrentScenePath(), folder.Join("other.scn"));
    EXPECT_FALSE(HoldsText("other.scn"));
    EXPECT_EQ(folder.ReadFile("other.scene"), folder.ReadFile("level.scene"));
    // Asked for directly, a ".scn" file still gets the compact form.
    EXPECT_TRUE(SaveScene("direct.scn", SaveCurrent));
    EXPECT_EQ(folder.ReadFile("direct.scn"), folder.ReadFile("level.scn"));
}

// Another program's change to either file since the editor read or wrote it is not written
// over without a question; No, the default, keeps it, and Yes saves.
FRESH_PROCESS_TEST_F(EditorSaves, ASaveOverAFileChangedOnDiskAsksFirst) {
    ASSERT_NO_FATAL_FAILURE(StartOn("level.scene"));
    Rename("saved");
    const std::string theirs = test::SceneText(false);
    for (const char* changed : {"level.scene", "level.scn"}) {
        folder.WriteFile(changed, theirs);
        dialogs->AnswerButton(1);
        Command(SaveCommand);
        const ScriptedDialogs::Request& asked = dialogs->Requests().back();
        EXPECT_EQ(asked.title, "Save over a changed file");
        EXPECT_EQ(asked.text.rfind("'" + folder.Join(changed) + "' has changed on disk", 0), 0u)
            << asked.text;
        EXPECT_EQ(asked.type, MessageBoxYesNo | MessageBoxIconWarning | MessageBoxDefaultButton2);
        EXPECT_EQ(folder.ReadFile(changed), theirs);
        EXPECT_FALSE(log.Contains("Scene saved as"));

        dialogs->AnswerButton(0);
        Command(SaveCommand);
        EXPECT_EQ(RootNameIn(changed), "saved");
        // Now as the editor wrote them: no question.
        const size_t asked_before = dialogs->Requests().size();
        Command(SaveCommand);
        EXPECT_EQ(dialogs->Requests().size(), asked_before);
        log.Clear();
    }
}

// Play keeps the scene as the user left it; Stop asks "Save?" for it before the program ends:
// Cancel keeps the game running, Yes writes the edited scene, not the game's state.
FRESH_PROCESS_TEST_F(EditorSaves, StopAfterPlayWithAChangeAsksAndSavesTheSceneAsPlayFoundIt) {
    ASSERT_NO_FATAL_FAILURE(StartOn("level.scene"));
    Rename("edited");
    PlayScene(false);
    ASSERT_TRUE(GameRunning);
    ASSERT_TRUE(StepFrames(3));
    GetSceneRoot()->SetName("played");
    CatchExit();
    dialogs->AnswerButton(2);
    StopScene();
    EXPECT_TRUE(GameRunning);
    EXPECT_EQ(dialogs->Requests().back().title, "Save?");
    EXPECT_EQ(RootNameIn("level.scene"), "root");

    // Its key writes nothing while the game runs, as the greyed File > Save.
    Sdl().InjectKey(KeyLeftCtrl, true);
    Sdl().InjectKey(KeyA + ('S' - 'A'), true);
    Sdl().InjectKey(KeyA + ('S' - 'A'), false);
    Sdl().InjectKey(KeyLeftCtrl, false);
    EXPECT_TRUE(log.Contains("The scene is not saved while the game runs"));
    EXPECT_FALSE(log.Contains("Scene saved as"));

    dialogs->AnswerButton(0);
    EXPECT_THROW(StopScene(), test::ProgramExit);
    EXPECT_EQ(RootNameIn("level.scene"), "edited");
    EXPECT_EQ(RootNameIn("level.scn"), "edited");
}

// Play Standalone runs the scene as the player reads it, from the copy it writes, in place of
// the edited tree; the editor goes on, and Stop asks for the edit as after Play.
FRESH_PROCESS_TEST_F(EditorSaves, PlayStandaloneRunsTheSceneFromItsCopyAndStopAsksForTheEdit) {
    folder.WriteFile("tick.asm", "header 0 0\nstack 32\nfunction \"update\" (float) "
                                 "at=@update\nupdate:\n    line\n    text \"tick\"\n"
                                 "    func 36\n    return 1 0\n");
    ASSERT_EQ(test::RunTool(folder, {"script", "asm", "tick.asm", "tick"}).status, 0);
    folder.WriteFile("config.txt", "");
    folder.WriteFile("level.scene",
                     "version = 44\nnum_nodes = 2\nobj1 {\n\tclass = \"Node\"\n"
                     "\tname = \"root\"\n\tflags = 1\n}\nobj2 {\n\tclass = "
                     "\"Script\"\n\tparent = 1\n\tscriptfile = \"tick.script\"\n}\n");
    EngineSetup setup;
    setup.editScene = "level.scene";
    ASSERT_TRUE(StartEditor(setup));
    ASSERT_TRUE(StepFrames(2));
    EXPECT_FALSE(log.Contains("tick"));
    Rename("edited");
    const uint64_t edited = GetSceneRoot()->GetSerial();
    CatchExit();
    PlayScene(true);
    ASSERT_TRUE(GameRunning);
    EXPECT_TRUE(IsStandalonePlay());
    ASSERT_NE(GetSceneRoot(), nullptr);
    EXPECT_NE(GetSceneRoot()->GetSerial(), edited);
    EXPECT_FALSE(IsAlive(edited));
    EXPECT_EQ(GetSceneRoot()->GetName(), "edited");
    EXPECT_EQ(RootNameIn("data/Quarn/standalone.scene"), "edited");
    ASSERT_TRUE(StepFrames(3));
    EXPECT_EQ(Count("tick"), 3u);
    EXPECT_EQ(RootNameIn("level.scene"), "root");

    dialogs->AnswerButton(0);
    EXPECT_THROW(StopScene(), test::ProgramExit);
    EXPECT_EQ(dialogs->Requests().back().title, "Save?");
    EXPECT_EQ(RootNameIn("level.scene"), "edited");
}

// A scene the editor cannot open at all is told in a box with the reason; a box fits an
// 800-pixel screen however long the path it names.
FRESH_PROCESS_TEST_F(EditorSaves, AnUnopenableSceneIsToldInABoxThatFitsTheScreen) {
    folder.WriteFile("config.txt", "");
    ASSERT_TRUE(StartEditor());
    const std::string deep = std::string(180, 'd') + "/";
    folder.WriteFile(deep + "cut.scn", std::string("\x2C\x00\x00", 3));
    folder.WriteFile("old.scene", "version = 14\nobj1 {\n\tclass = \"Node\"\n}\n");
    const std::pair<std::string, std::string> cases[] = {
        {deep + "cut.scn", "its header cannot be read"},
        {"old.scene", "it has version 14; versions below 15 are not read"},
        {"none.scene", "it cannot be opened: No such file or directory"},
    };
    for (const auto& [file, reason] : cases) {
        ASSERT_TRUE(OpenScene(file.c_str(), OpenStartScene));
        EXPECT_EQ(GetSceneRoot(), nullptr);
        const ScriptedDialogs::Request& told = dialogs->Requests().back();
        EXPECT_EQ(told.title, "Load");
        EXPECT_EQ(told.text,
                  "Scene '" + folder.Join(file) + "' could not be loaded: " + reason + ".");
        size_t widest = 0;
        for (size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
            end = told.shown.find('\n', start);
            widest = std::max(widest, (end == std::string::npos ? told.shown.size() : end) - start);
        }
        EXPECT_LE(int(widest) * BoxCharacterWidth + 2 * BoxMargin, 800) << told.shown;
    }
}

// A game that runs at start is edited by naming its scene: the editor opens it stopped.
TEST(EditorRun, NamingTheSceneOpensItStoppedInAGameThatRunsAtStart) {
    test::TempFolder folder;
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    folder.WriteFile("level.scene", test::SceneText());
    folder.WriteFile("input.txt", "2 command 40007\n3 close\n");
    const test::PlayerExit run = test::RunPlayerIn(
        folder, "", std::string(test::Headless) + " QUARN_INPUT='" + folder.Join("input.txt") + "'",
        "--editor level.scene");
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_NE(run.log.find("Scene '~/level.scene' loaded\n"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("Scene saved as '~/level.scn'\n"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("Play..."), std::string::npos) << run.log;
}

} // namespace
} // namespace quarn
