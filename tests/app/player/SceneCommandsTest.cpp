#include "app/player/SceneCommands.h"

#include "core/debug/Profiler.h"
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

FRESH_PROCESS_TEST_F(SceneCommands, GameSettingsComeFromTheNearestFolderAboveTheScene) {
    const std::string longFolder(300, 'g');
    const struct {
        const char* file;
        const char* settings;
        std::string scene; // missing, so that every case can open its own
        std::string log;
    } cases[] = {
        {"a/b/game_cfg.txt", "speed = \"2\"\nstandalone = \"false\"\n", "a/b/level.scene",
         "Game settings read from 'a/b/game_cfg.txt'\nBase folder is now '~/a/b/'\n"
         "Scene '~/a/b/level.scene' could not be loaded\n"},
        {"c/game_cfg.txt", "resource_path = \"..\"\n", "c/d/e/level.scene",
         "Game settings read from 'c/game_cfg.txt'\n"
         "Scene '~/c/d/e/level.scene' could not be loaded\n"},
        {"f/game_cfg.txt", "resource_path = \"art\"\n", "f/level.scene",
         "Game settings read from 'f/game_cfg.txt'\nBase folder is now '~/art/'\n"
         "Scene '~/f/level.scene' could not be loaded\n"},
        {"f/game_cfg.txt", "resource_path = \"\"\n", "f/level.scene",
         "Game settings read from 'f/game_cfg.txt'\n"
         "Scene '~/f/level.scene' could not be loaded\n"},
        {"game_cfg.txt", "speed = \"3\"\n", "level.scene",
         "Scene '~/level.scene' could not be loaded\n"},
        {"g/game_cfg.txt", "", longFolder + "/level.scene",
         "Scene path is too long: '" + longFolder + "/level.scene'\n"},
    };
    for (const auto& c : cases) {
        folder.WriteFile(c.file, c.settings);
        GetFileSystem()->SetBaseFolder(folder.Path().c_str());
        GetMainSettings().Remove("resource_path");
        log.Clear();
        EXPECT_TRUE(OpenScene(c.scene.c_str(), OpenStartScene));
        EXPECT_EQ(GetSceneRoot(), nullptr);
        EXPECT_EQ(LogText(), c.log);
    }
    EXPECT_STREQ(GetMainSettings().GetString("base_dir"), "f/");
    EXPECT_STREQ(GetMainSettings().GetString("speed"), "2");
    EXPECT_TRUE(IsStandalone());
}

FRESH_PROCESS_TEST_F(SceneCommands,
                     SavesNameFilesByTheFileNameTakeAutosaveSlotsInTurnAndMayBeVetoed) {
    AutosaveScene(); // nothing to save yet
    folder.WriteFile("level.scene", test::SceneText());
    folder.WriteFile("my.dir/.keep", "");
    ASSERT_TRUE(OpenScene("level.scene", OpenStartScene));
    SignalProbe::Listen();
    dialogs->AnswerPath(folder.Join("my.dir/out"));
    EXPECT_TRUE(SaveScene("", SaveCurrent));
    EXPECT_STREQ(GetUserSettings().GetString("folder_scene"), "my.dir/");
    EXPECT_EQ(GetCurrentScenePath(), folder.Join("my.dir/out.scene"));
    EXPECT_FALSE(SaveScene("", SaveCurrent)); // the dialog cancelled
    EXPECT_TRUE(SaveScene("my.dir/copy", SaveCompact | SaveQuietly));
    EXPECT_TRUE(SaveScene("level.scene", SaveCompact | SaveQuietly));
    for (int count = 0; count < 4; ++count) {
        AutosaveScene();
    }
    SignalProbe::vetoSave = true;
    EXPECT_FALSE(SaveScene("vetoed.scene", 0));
    for (const char* file : {"my.dir/out.scene", "my.dir/copy.scn", "level.scn",
                             "data/Quarn/autosave0.scene", "data/Quarn/autosave2.scene"}) {
        EXPECT_TRUE(Exists(file)) << file;
    }
    EXPECT_FALSE(Exists("vetoed.scene"));
    EXPECT_EQ(Seen(), (std::vector<std::string>{"quarn_save", "quarn_save"}));
    EXPECT_EQ(LogText(), "Scene auto-save as '~/data/Quarn/autosave0.scene' failed\n"
                         "Scene '~/level.scene' loaded\n"
                         "file dialog \"\": \"\" answered \"~/my.dir/out\"\n"
                         "Scene saved as '~/my.dir/out.scene'\n"
                         "file dialog \"\": \"\" answered \"\"\n"
                         "Scene auto-saved as '~/data/Quarn/autosave1.scene'\n"
                         "Scene auto-saved as '~/data/Quarn/autosave2.scene'\n"
                         "Scene auto-saved as '~/data/Quarn/autosave0.scene'\n"
                         "Scene auto-saved as '~/data/Quarn/autosave1.scene'\n");
}

// Without a scene nothing ends the process: closing and stopping forget the ids and close the
// profiler's measuring period.
FRESH_PROCESS_TEST_F(SceneCommands, ClosingAndStoppingWithoutASceneCloseTheProfilersPeriod) {
    const int32_t section = Profiler().AddSection(3, "measured", 0);
    for (void (*command)() : {+[] { CloseScene(false); }, &StopScene}) {
        Profiler().EnterSection(3, section);
        GameRunning = true; // Stop runs only while the game runs
        command();
        EXPECT_EQ(Profiler().Sections(3)[section].hits, 0u);
    }
}

FRESH_PROCESS_TEST_F(SceneCommands, OpeningASecondSceneEndsTheProcess) {
    folder.WriteFile("level.scene", test::SceneText());
    ASSERT_TRUE(OpenScene("level.scene", OpenStartScene));
    CatchExit();
    EXPECT_THROW(OpenScene("level.scene", OpenStartScene), test::ProgramExit);
}

} // namespace
} // namespace quarn
