#include "app/player/SceneCommands.h"
#include "core/scene/EngineState.h"
#include "render/Sprite.h"
#include "resources/DataBaseResource.h"
#include "resources/Texture.h"
#include "script/machine/ScriptNode.h"
#include "script/machine/ScriptResource.h"
#include "script/nodes/DataBase.h"
#include "tests/app/player/PlayerTestSupport.h"
#include "tests/support/HostileGame.h"
#include "tests/support/OpenWays.h"

#include <string>

namespace quarn {
namespace {

constexpr uint32_t LoadCommand = 40002;
constexpr uint32_t SaveAsCommand = 40012;
constexpr uint32_t PlayCommand = 40013;

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

} // namespace
} // namespace quarn
