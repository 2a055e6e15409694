#include "TestPaths.h"
#include "app/player/SceneCommands.h"
#include "script/nodes/SoundNodes.h"
#include "tests/app/player/PlayerTestSupport.h"
#include "tests/tools/ToolRun.h"

#include <filesystem>
#include <string>

namespace quarn {
namespace {

struct Example {
    const char* folder; // as the build lays it out
    const char* scene;
};

class ExampleInTheEditor : public test::PlayerTest,
                           public ::testing::WithParamInterface<Example> {};

// Opened in the editor and saved with no edit, an example writes the same bytes after thirty
// frames of its sounds and particles as at once, in either form, and the tool loads and saves
// them to the same bytes again.
TEST_P(ExampleInTheEditor, SavesWithNoEditToTheSameBytesInEitherForm) {
    test::ExpectInFreshProcess([this] {
        const Example& example = GetParam();
        for (const auto& file : std::filesystem::directory_iterator(
                 std::string(QUARN_EXAMPLES "/") + example.folder)) {
            std::filesystem::copy_file(file.path(), folder.Join(file.path().filename()));
        }
        // A small window draws its frames fast.
        folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"240,180\"\n");
        EngineSetup setup;
        setup.editScene = example.scene;
        ASSERT_TRUE(StartEditor(setup));
        ASSERT_NE(GetSceneRoot(), nullptr) << LogText();
        const std::string scene = example.scene;
        const std::string twin = scene.substr(0, scene.rfind('.')) + ".scn";
        SaveCurrentScene();
        const std::string text = folder.ReadFile(scene);
        const std::string compact = folder.ReadFile(twin);
        ASSERT_FALSE(text.empty() || compact.empty()) << LogText();

        ASSERT_TRUE(StepFrames(30));
        if (auto* hum = dynamic_cast<SoundEmitter*>(GetSceneRoot()->FindByName("Hum"))) {
            EXPECT_GT(hum->GetProgress(), 0.0f) << "the hum has not played";
        }
        SaveCurrentScene();
        EXPECT_EQ(folder.ReadFile(scene), text);
        EXPECT_EQ(folder.ReadFile(twin), compact);

        ASSERT_EQ(test::RunTool(folder, {"scene", scene, "again.scene"}).status, 0);
        EXPECT_EQ(folder.ReadFile("again.scene"), text);
        ASSERT_EQ(test::RunTool(folder, {"scene", twin, "again.scn", "--compact"}).status, 0);
        EXPECT_EQ(folder.ReadFile("again.scn"), compact);
    });
}

INSTANTIATE_TEST_SUITE_P(Games, ExampleInTheEditor,
                         ::testing::Values(Example{"first-game", "game.scene"},
                                           Example{"catch", "catch.scene"},
                                           Example{"editor-session", "level.scene"}),
                         [](const auto& info) {
                             std::string name = info.param.folder;
                             std::erase(name, '-');
                             return name;
                         });

} // namespace
} // namespace quarn
