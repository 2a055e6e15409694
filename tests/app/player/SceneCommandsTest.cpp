#include "app/player/SceneCommands.h"

#include "core/filesystem/FileSystem.h"
#include "core/filesystem/SettingsFile.h"
#include "core/scene/EngineState.h"
#include "core/scenefile/SceneSaver.h"
#include "tests/app/player/PlayerTestSupport.h"

#include <sys/stat.h>

namespace quarn {
namespace {

using test::Seen;
using test::SignalProbe;

// Started without a scene, so each test opens its own.
class SceneCommands : public test::PlayerTest {
protected:
    void SetUp() override {
        folder.WriteFile("config.txt", "");
        ASSERT_TRUE(Start());
        log.Clear();
    }
    bool Exists(const std::string& relative) {
        struct stat info;
        return stat(folder.Join(relative).c_str(), &info) == 0;
    }
};

TEST_F(SceneCommands, GameSettingsComeFromTheNearestFolderAboveTheScene) {
    const std::string base = folder.Path() + "/";
    struct Case {
        const char* settingsFile;
        const char* settings;
        std::string scene; // missing, so that every case can open its own
        const char* read;  // the settings file read, or null
        std::string baseAfter;
    };
    const Case cases[] = {
        {"a/b/game_cfg.txt", "speed = \"2\"\nstandalone = \"false\"\n", "a/b/level.scene",
         "a/b/game_cfg.txt", base + "a/b/"},
        {"c/game_cfg.txt", "resource_path = \"..\"\n", "c/d/e/level.scene", "c/game_cfg.txt", base},
        {"f/game_cfg.txt", "resource_path = \"art\"\n", "f/level.scene", "f/game_cfg.txt",
         base + "art/"},
        {"f/game_cfg.txt", "resource_path = \"\"\n", "f/level.scene", "f/game_cfg.txt", base},
        {"game_cfg.txt", "speed = \"3\"\n", "level.scene", nullptr, base},
        {"g/game_cfg.txt", "", std::string(300, 'g') + "/level.scene", nullptr, base},
    };
    for (const Case& test : cases) {
        folder.WriteFile(test.settingsFile, test.settings);
        GetFileSystem()->SetBaseFolder(base.c_str());
        GetMainSettings().Remove("resource_path");
        log.Clear();
        EXPECT_TRUE(OpenScene(test.scene.c_str(), OpenStartScene));
        EXPECT_EQ(GetSceneRoot(), nullptr);
        if (test.read) {
            EXPECT_TRUE(log.Contains(std::string("Game settings read from '") + test.read + "'"))
                << test.scene;
            EXPECT_EQ(GetMainSettings().GetString("base_dir"),
                      std::string(test.read).substr(0, std::string(test.read).rfind('/') + 1));
        } else {
            EXPECT_FALSE(log.Contains("Game settings")) << test.scene;
        }
        EXPECT_EQ(GetFileSystem()->GetBaseFolder(), test.baseAfter) << test.scene;
    }
    EXPECT_TRUE(log.Contains("Scene path is too long: '" + cases[5].scene + "'"));
    EXPECT_STREQ(GetMainSettings().GetString("speed"), "2");
    EXPECT_TRUE(IsStandalone());
}

TEST_F(SceneCommands, AnScnExtensionInAnyCaseOpensTheCompactForm) {
    folder.WriteFile("source.scene", test::SceneText());
    Node* tree = LoadSceneFile("source.scene", 0, SceneKeepUnmappedIds, nullptr, nullptr, nullptr);
    ASSERT_NE(tree, nullptr);
    ASSERT_TRUE(SaveSceneFile("level.SCN", *tree, 0, SceneWriteRoot | SceneCompact));
    tree->Delete();
    SignalProbe::Listen();
    EXPECT_TRUE(OpenScene("level.SCN", OpenStartScene));
    ASSERT_NE(GetSceneRoot(), nullptr);
    EXPECT_EQ(GetSceneRoot()->GetName(), "root");
    EXPECT_EQ(Seen(), std::vector<std::string>{"loaded"});
    EXPECT_TRUE(log.Contains("Scene '" + folder.Join("level.SCN") + "' loaded"));
}

TEST_F(SceneCommands, SavesNameTheirFilesByTheFileNameAndAReceiverMayVetoThem) {
    folder.WriteFile("level.scene", test::SceneText());
    ASSERT_TRUE(OpenScene("level.scene", OpenStartScene));
    SignalProbe::Listen();
    folder.WriteFile("my.dir/.keep", "");

    dialogs->AnswerPath(folder.Join("my.dir/out"));
    EXPECT_TRUE(SaveScene("", SaveCurrent));
    EXPECT_TRUE(Exists("my.dir/out.scene"));
    EXPECT_STREQ(GetUserSettings().GetString("folder_scene"), "my.dir/");
    EXPECT_EQ(GetCurrentScenePath(), folder.Join("my.dir/out.scene"));
    EXPECT_TRUE(log.Contains("Scene saved as '" + folder.Join("my.dir/out.scene") + "'"));
    EXPECT_FALSE(SaveScene("", SaveCurrent)); // the dialog cancelled

    EXPECT_TRUE(SaveScene("my.dir/copy", SaveCompact | SaveQuietly));
    EXPECT_TRUE(Exists("my.dir/copy.scn"));
    EXPECT_TRUE(SaveScene("level.scene", SaveCompact | SaveQuietly));
    EXPECT_TRUE(Exists("level.scn"));

    Seen().clear();
    SignalProbe::vetoSave = true;
    EXPECT_FALSE(SaveScene("vetoed.scene", 0));
    EXPECT_FALSE(Exists("vetoed.scene"));
    EXPECT_EQ(Seen(), std::vector<std::string>{"quarn_save"});
}

TEST_F(SceneCommands, AutosavesTakeThreeSlotsInTurnAndTellAFailure) {
    AutosaveScene(); // nothing to save yet
    EXPECT_TRUE(log.Contains("Scene auto-save as 'user://Quarn/autosave0.scene' failed"));
    folder.WriteFile("level.scene", test::SceneText());
    ASSERT_TRUE(OpenScene("level.scene", OpenStartScene));
    log.Clear();
    for (int count = 0; count < 4; ++count) {
        AutosaveScene();
    }
    std::vector<std::string> lines;
    for (const auto& line : log.Lines()) {
        lines.push_back(line.text);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Scene auto-saved as 'user://Quarn/autosave1.scene'",
                         "Scene auto-saved as 'user://Quarn/autosave2.scene'",
                         "Scene auto-saved as 'user://Quarn/autosave0.scene'",
                         "Scene auto-saved as 'user://Quarn/autosave1.scene'",
                     }));
    for (const char* slot : {"0", "1", "2"}) {
        EXPECT_TRUE(Exists(std::string("data/Quarn/autosave") + slot + ".scene"));
    }
}

TEST_F(SceneCommands, OpeningASecondSceneEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    folder.WriteFile("level.scene", test::SceneText());
    ASSERT_TRUE(OpenScene("level.scene", OpenStartScene));
    EXPECT_EXIT(OpenScene("level.scene", OpenStartScene), ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace quarn
