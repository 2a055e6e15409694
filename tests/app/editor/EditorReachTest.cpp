#include "app/editor/EditorMenus.h"
#include "app/player/SceneCommands.h"
#include "core/scene/EngineState.h"
#include "render/Sprite.h"
#include "resources/DataBaseResource.h"
#include "resources/Texture.h"
#include "script/machine/ScriptNode.h"
#include "script/machine/ScriptResource.h"
#include "script/nodes/DataBase.h"
#include "script/nodes/Network.h"
#include "tests/app/online/LoopbackHttpServer.h"
#include "tests/app/player/PlayerTestSupport.h"
#include "tests/support/HostileGame.h"
#include "tests/support/HostileHome.h"
#include "tests/support/OpenWays.h"

#include <string>

namespace quarn {
namespace {

constexpr uint32_t LoadCommand = 40002;
constexpr uint32_t SaveAsCommand = 40012;
constexpr uint32_t PlayCommand = 40013;
constexpr uint32_t PlayStandaloneCommand = 40024;
constexpr uint32_t RecoverCommand = 40104;

class EditorReach : public test::WithOpenWays<test::PlayerTest> {
protected:
    // The log says each outside file was left unloaded and each open refused, and the scene's
    // nodes hold nothing of them.
    void ExpectNothingReachedOutside() {
        std::string said;
        for (const auto& line : log.Lines()) {
            said.append(line.text).push_back('\n');
        }
        test::ExpectNothingReachedOutside(said, folder);
        int named = 0;
        const auto unloaded = [&named](const Resource* resource) {
            ++named;
            return !resource || (resource->GetState() & ResourcePlaceholder) != 0;
        };
        for (Node* node = GetSceneRoot()->GetFirstChild(); node; node = node->GetNext()) {
            if (auto* table = dynamic_cast<DataBase*>(node)) {
                EXPECT_EQ(table->GetRecordCount(), 0) << node->GetName();
                EXPECT_TRUE(unloaded(table->GetTable())) << node->GetName();
            } else if (auto* sprite = dynamic_cast<Sprite*>(node)) {
                EXPECT_TRUE(unloaded(sprite->GetTexture())) << node->GetName();
            } else if (auto* script = dynamic_cast<Script*>(node);
                       script && script->GetProgram() &&
                       std::string(script->GetProgram()->GetFullPath()).find("secret") !=
                           std::string::npos) {
                EXPECT_TRUE(unloaded(script->GetProgram())) << node->GetName();
            }
        }
        EXPECT_EQ(named, 9);
    }
};
QUARN_BOTH_OPEN_WAYS(EditorReach);

// Started in the game's folder, the editor opens the start scene and runs its scripts at once,
// holding all it names to the game as the player does.
TEST_P(EditorReach, TheStartSceneReachesNothingOutsideTheGame) {
    test::ExpectInFreshProcess([this] {
        test::WriteHostileGame(folder, "autorun = \"main.scene\"\n");
        ASSERT_EQ(chdir(folder.Join("game").c_str()), 0);
        ASSERT_TRUE(StartEditor());
        ASSERT_NE(GetSceneRoot(), nullptr);
        ASSERT_TRUE(StepFrames(2));
        ExpectNothingReachedOutside();
    });
}

// A scene the user picks in File/Load opens wherever it lies, here in a game below the folder
// the editor started in, and saves where the user says; what it names, and what its scripts
// open once played, stay its own game's.
TEST_P(EditorReach, ASceneTheUserLoadsAndPlaysReachesNothingOutsideItsGame) {
    test::ExpectInFreshProcess([this] {
        test::WriteHostileGame(folder, "");
        ASSERT_TRUE(StartEditor());
        ASSERT_TRUE(Step());
        dialogs->AnswerPath(folder.Join("game/main.scene"));
        Command(LoadCommand);
        ASSERT_NE(GetSceneRoot(), nullptr);
        ASSERT_TRUE(Step());
        // The file the user saves to is theirs too.
        dialogs->AnswerPath(folder.Join("copy.scene"));
        Command(SaveAsCommand);
        EXPECT_NE(folder.ReadFile("copy.scene").find("class = \"DataBase\""), std::string::npos);
        Command(PlayCommand);
        EXPECT_TRUE(GameRunning);
        ASSERT_TRUE(StepFrames(2));
        ExpectNothingReachedOutside();
    });
}

// The editor and the player in a user's home folder holding a downloaded game (HostileHome.h):
// whichever way the game's scene is opened and played, and wherever the program started, its
// scripts reach nothing of the home, and their fetches carry nothing of it.
class HostileHomeRoutes : public test::PlayerTest {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(test::WriteHostileHome(folder, config)); }

    // The scene's fetches go to the test's server instead of port 80.
    void PointFetchesAtServer() {
        for (Node* node = GetSceneRoot(); node; node = NextInSubtree(node, GetSceneRoot(), true)) {
            if (auto* net = dynamic_cast<Network*>(node)) {
                net->SetPort(server.Port());
            }
        }
    }
    // Plays the open scene a few frames and looks at what it did.
    void PlayAndExpectNothingReached(uint32_t command = PlayCommand) {
        ASSERT_NE(GetSceneRoot(), nullptr);
        PointFetchesAtServer();
        Command(command);
        ASSERT_TRUE(GameRunning);
        ASSERT_TRUE(StepFrames(2));
        ExpectNothingReached();
    }
    void ExpectNothingReached() {
        std::string said;
        for (const auto& line : log.Lines()) {
            said.append(line.text).push_back('\n');
        }
        test::ExpectHomeUntouched(folder, said, config != nullptr);
        for (const std::string& request : server.Requests()) {
            EXPECT_EQ(request.find(test::HomeSecret), std::string::npos) << request;
        }
    }
    // The editor started in `start`, opening the game's scene from its command line.
    bool StartEditorIn(const std::string& start) {
        EXPECT_EQ(chdir(start.c_str()), 0);
        EngineSetup setup;
        setup.editScene = folder.Join(test::EvilScene);
        return StartEditor(setup);
    }

    const char* config = "name = \"evil\"\n";
    test::ScopedEnvironment home{"HOME", folder.Path()};
    test::LoopbackHttpServer server{test::LoopbackHttpServer::Answer("ok")};
};

// File/Load... of the game's scene in an editor started in the home folder, then Play; a scene
// dropped on the window opens nothing.
FRESH_PROCESS_TEST_F(HostileHomeRoutes, FileLoadFromTheHomeFolderThenPlay) {
    ASSERT_TRUE(StartEditor());
    ASSERT_TRUE(Step());
    EXPECT_FALSE(OnFileDropped(folder.Join(test::EvilScene).c_str(), 0, 0));
    EXPECT_EQ(GetSceneRoot(), nullptr);
    dialogs->AnswerPath(folder.Join(test::EvilScene));
    Command(LoadCommand);
    PlayAndExpectNothingReached();
    EXPECT_FALSE(server.Requests().empty());
    // Play's autosave names its game, which a recovery runs it as.
    EXPECT_EQ(folder.ReadFile("data/Quarn/autosave0.game"), folder.Join(test::EvilGame) + "/");
}

// An autosave of the game's scene recovered in an editor started in the home folder runs as the
// game it was made of, which the note beside it names.
FRESH_PROCESS_TEST_F(HostileHomeRoutes, RecoverFromAutosaveInTheHomeFolderThenPlay) {
    folder.WriteFile("data/Quarn/autosave0.scene", folder.ReadFile(test::EvilScene));
    folder.WriteFile("data/Quarn/autosave0.game", folder.Join(test::EvilGame) + "/");
    ASSERT_TRUE(StartEditor());
    Command(RecoverCommand);
    PlayAndExpectNothingReached();
}

// The editor's command line, started in the home folder, at the top of the disk and in another
// game's folder.
FRESH_PROCESS_TEST_F(HostileHomeRoutes, CommandLineFromTheHomeFolderThenPlay) {
    ASSERT_TRUE(StartEditorIn(folder.Path()));
    PlayAndExpectNothingReached();
}

FRESH_PROCESS_TEST_F(HostileHomeRoutes, CommandLineFromTheTopOfTheDiskThenPlay) {
    ASSERT_TRUE(StartEditorIn("/"));
    PlayAndExpectNothingReached();
}

FRESH_PROCESS_TEST_F(HostileHomeRoutes, CommandLineFromAnotherGamesFolderThenPlay) {
    folder.WriteFile("Games/other/config.txt", "name = \"other\"\n");
    folder.WriteFile("Games/other/keep.txt", "other's");
    ASSERT_TRUE(StartEditorIn(folder.Join("Games/other")));
    PlayAndExpectNothingReached();
    EXPECT_EQ(folder.ReadFile("Games/other/keep.txt"), "other's");
}

// The recent file starts no other game at start-up; from the File menu it opens as its own game.
FRESH_PROCESS_TEST_F(HostileHomeRoutes, RecentFileFromTheHomeFolderThenPlay) {
    folder.WriteFile("data/Quarn/init.txt",
                     "recent_file1 = \"" + folder.Join(test::EvilScene) + "\"\n");
    ASSERT_TRUE(StartEditor());
    EXPECT_EQ(GetSceneRoot(), nullptr);
    EXPECT_TRUE(log.Contains("is not started: it belongs to the game in '" +
                             folder.Join(test::EvilGame) + "/'"));
    Command(RecentFileCommandBase + 1);
    PlayAndExpectNothingReached();
}

// Saved by the user into the home folder, the scene plays on as the game it was opened in.
FRESH_PROCESS_TEST_F(HostileHomeRoutes, SaveAsIntoTheHomeFolderThenPlay) {
    ASSERT_TRUE(StartEditorIn(folder.Path()));
    dialogs->AnswerPath(folder.Join("copy.scene"));
    Command(SaveAsCommand);
    ASSERT_NE(folder.ReadFile("copy.scene").find("steal.script"), std::string::npos);
    PlayAndExpectNothingReached();
}

FRESH_PROCESS_TEST_F(HostileHomeRoutes, PlayStandaloneFromTheHomeFolder) {
    ASSERT_TRUE(StartEditorIn(folder.Path()));
    PlayAndExpectNothingReached(PlayStandaloneCommand);
}

// A folder without a config.txt is a game for reading: its scenes read what they name, but its
// scripts write only in user://, and the log says so once.
class ReadingHomeRoutes : public HostileHomeRoutes {
protected:
    ReadingHomeRoutes() { config = nullptr; }
};

FRESH_PROCESS_TEST_F(ReadingHomeRoutes, AGameWithoutSettingsWritesOnlyInItsUserFolder) {
    ASSERT_TRUE(StartEditor());
    dialogs->AnswerPath(folder.Join(test::EvilScene));
    Command(LoadCommand);
    PlayAndExpectNothingReached();
    size_t told = 0;
    for (const auto& line : log.Lines()) {
        told += line.text.find("is one for reading") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(told, 1u) << LogText();
}

// The player runs the game of the folder it starts in: another game's recent scene is not
// started; a scene its own settings name in a game below it runs as that game.
FRESH_PROCESS_TEST_F(HostileHomeRoutes, ThePlayerStartsNoOtherGamesRecentScene) {
    folder.WriteFile("data/Quarn/init.txt",
                     "recent_file1 = \"" + folder.Join(test::EvilScene) + "\"\n");
    folder.WriteFile("Games/other/config.txt", "name = \"other\"\n");
    ASSERT_EQ(chdir(folder.Join("Games/other").c_str()), 0);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(StepFrames(2));
    EXPECT_EQ(GetSceneRoot(), nullptr);
    EXPECT_TRUE(log.Contains("is not started: it is not in this game's folder"));
    EXPECT_FALSE(log.Contains("hostile ran"));
}

FRESH_PROCESS_TEST_F(HostileHomeRoutes, ThePlayersStartSceneInAGameBelowRunsAsThatGame) {
    folder.WriteFile("config.txt", std::string("autorun = \"") + test::EvilScene + "\"\n");
    ASSERT_TRUE(Start());
    ASSERT_TRUE(StepFrames(2));
    EXPECT_TRUE(log.Contains("Game folder is now '" + folder.Join(test::EvilGame) + "/'"));
    ExpectNothingReached();
}

} // namespace
} // namespace quarn
