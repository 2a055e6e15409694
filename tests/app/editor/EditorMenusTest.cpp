#include "app/editor/EditorMenus.h"

#include "app/editor/EditorCommands.h"
#include "app/editor/EditorSettings.h"
#include "app/input/Keyboard.h"
#include "app/player/SceneCommands.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/SettingsFile.h"
#include "core/os/EditorToolbar.h"
#include "core/scene/EngineState.h"
#include "editor/EditorMenu.h"
#include "editor/EditorPanel.h"
#include "editor/Toolbar.h"
#include "tests/app/player/PlayerTestSupport.h"

#include <SDL.h>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace quarn {
namespace {

// The editor started in a folder holding "level.scene", which it has not opened.
class EditorMenus : public test::PlayerTest {
protected:
    void SetUp() override {
        folder.WriteFile("config.txt", "");
        folder.WriteFile("level.scene", test::SceneText());
        ASSERT_TRUE(StartEditor());
        ASSERT_NE(GetEditorMenuBar(), nullptr);
    }
    static Menu& Bar() { return *GetEditorMenuBar(); }
    static Toolbar& Buttons() { return *static_cast<Toolbar*>(GetPlatform()->GetToolbarWindow()); }
    bool Exists(const std::string& relative) {
        struct stat info;
        return stat(folder.Join(relative).c_str(), &info) == 0;
    }
    void OpenLevel() { ASSERT_TRUE(OpenScene("level.scene", OpenStartScene)); }
    // Ctrl and a letter, pressed and released.
    void CtrlKey(char letter) {
        Sdl().InjectKey(KeyLeftCtrl, true);
        Sdl().InjectKey(KeyA + (letter - 'A'), true);
        Sdl().InjectKey(KeyA + (letter - 'A'), false);
        Sdl().InjectKey(KeyLeftCtrl, false);
    }
    // The File menu's recent entries: (id, text).
    static std::vector<std::pair<uint32_t, std::string>> RecentEntries() {
        std::vector<std::pair<uint32_t, std::string>> entries;
        const std::vector<MenuItem>& file = Bar().Menus()[0].items;
        for (size_t index = RecentFilesPosition; index < file.size(); ++index) {
            entries.emplace_back(file[index].id, file[index].text);
        }
        return entries;
    }
};

// Records what reached it.
std::vector<std::string> calls;
int32_t RecordingButton(int32_t command, int32_t query) {
    if (query == ToolbarExecute) {
        calls.push_back("button " + std::to_string(command));
    }
    return command == 1;
}
bool RecordingHandler(uint32_t command, int32_t) {
    calls.push_back("handler " + std::to_string(command));
    return command == 40080;
}

FRESH_PROCESS_TEST_F(EditorMenus, ACommandGoesToItsButtonThenTheHandlersThenTheTable) {
    const int32_t declines =
        RegisterToolbarButton(30, 0, false, "declines", "Tools", RecordingButton);
    const int32_t handles =
        RegisterToolbarButton(31, 1, false, "handles", "Tools", RecordingButton);
    RegisterCommandHandler(40080, 0, "Deploy...", "File", RecordingHandler);
    Command(static_cast<uint32_t>(ToolbarCommandBase + handles));
    Command(static_cast<uint32_t>(ToolbarCommandBase + declines));
    Command(40080);
    EXPECT_EQ(calls,
              (std::vector<std::string>{"button 1", "button 0",
                                        "handler " + std::to_string(ToolbarCommandBase + declines),
                                        "handler 40080"}));
    // A table row runs after the handlers decline; an id nobody claims is ignored.
    calls.clear();
    OpenLevel();
    Command(40013);
    EXPECT_TRUE(GameRunning);
    Command(40999);
    EXPECT_EQ(calls, (std::vector<std::string>{"handler 40013", "handler 40999"}));
}

FRESH_PROCESS_TEST_F(EditorMenus, TheToolbarHoldsTheGroupsInOrderEachClosedByASeparator) {
    // The physics master and the sweep-and-prune space registered theirs at start-up.
    const std::vector<ToolbarButton>& records = Buttons().Buttons();
    std::vector<std::pair<int32_t, int32_t>> shown; // (image, id); separators (-1, 0)
    for (const ToolbarButton& record : records) {
        shown.emplace_back(record.style & ToolbarStyleSeparator ? -1 : record.image, record.id);
    }
    EXPECT_EQ(shown, (std::vector<std::pair<int32_t, int32_t>>{{0, 41000},
                                                               {-1, 0}, // File
                                                               {-1, 0}, // Edit
                                                               {4, 41001},
                                                               {5, 41002},
                                                               {6, 41003},
                                                               {18, 41004}, // Game
                                                               {7, 41009},
                                                               {8, 41010},
                                                               {-1, 0}, //
                                                               {13, 41005},
                                                               {40, 41006},
                                                               {-1, 0}, // View
                                                               {-1, 0}, // Camera
                                                               {22, 41007},
                                                               {23, 41008},
                                                               {-1, 0},    // Layer
                                                               {-1, 0}})); // Tools
    EXPECT_EQ(records[3].style, ToolbarStyleCheck);
    EXPECT_EQ(records[6].style, ToolbarStyleButton); // Fast forward is held, not toggled
    EXPECT_EQ(GetFastForwardButton(), 4);
    EXPECT_EQ(GetToolbarTooltip(41000), "Save");
    EXPECT_EQ(GetToolbarTooltip(41008), "Area layer");
    EXPECT_EQ(GetToolbarTooltip(41011), "");
    EXPECT_EQ(GetToolbarTooltip(40000), "");
}

FRESH_PROCESS_TEST_F(EditorMenus, TheEditorsButtonsAnswerForTheGamesState) {
    struct Answers {
        bool enabled, checked;
    };
    const struct {
        int32_t command;
        Answers stopped, running, paused;
    } cases[] = {
        {40026, {true, false}, {false, false}, {false, false}},
        {40030, {true, false}, {true, true}, {true, true}},
        {40031, {false, false}, {true, false}, {true, false}},
        {40032, {false, false}, {true, false}, {true, true}},
        {40068, {false, false}, {true, false}, {true, false}},
        {40112, {true, false}, {true, false}, {true, false}},
        {40027, {false, false}, {false, false}, {false, false}},
    };
    OpenLevel();
    for (int state = 0; state < 3; ++state) {
        GameRunning = state > 0;
        GamePaused = state == 2;
        for (const auto& c : cases) {
            const Answers& want = state == 0 ? c.stopped : state == 1 ? c.running : c.paused;
            EXPECT_EQ(ToolbarCommandHandler(c.command, ToolbarIsEnabled) != 0, want.enabled)
                << c.command << " in state " << state;
            EXPECT_EQ(ToolbarCommandHandler(c.command, ToolbarIsChecked) != 0, want.checked)
                << c.command << " in state " << state;
        }
    }
    // "Editor view" is always enabled and shows whether the panels are on.
    EXPECT_EQ(ToolbarCommandHandler(40124, ToolbarIsEnabled), 1);
    EXPECT_EQ(ToolbarCommandHandler(40124, ToolbarIsChecked) != 0,
              GetPlatform()->QueryActivePanel());
    EXPECT_EQ(ToolbarCommandHandler(40068, ToolbarExecute), 0);
    EXPECT_EQ(ToolbarCommandHandler(40027, ToolbarExecute), 0);
}

FRESH_PROCESS_TEST_F(EditorMenus, TheMenusStatesFollowTheSceneAndTheGame) {
    // Enabled states of Play, Save, Stop, Pause, Load, Play..., Undo; Pause's check.
    const uint32_t ids[] = {40013, 40007, 40014, 40021, 40002, 40044, 40010};
    const auto states = [&ids] {
        std::string text;
        for (uint32_t id : ids) {
            text += Bar().Find(id)->enabled ? '1' : '0';
        }
        return text + (Bar().Find(40021)->checked ? " checked" : "");
    };
    EXPECT_EQ(states(), "0000110");
    OpenLevel();
    EXPECT_EQ(states(), "1100110");
    Command(40013);
    EXPECT_EQ(states(), "0011000");
    Command(40021);
    EXPECT_TRUE(GamePaused);
    EXPECT_EQ(states(), "0011000 checked");
    EXPECT_TRUE(Buttons().IsButtonChecked(41003));
    // A script's pause refreshes nothing: the button shows the last refresh.
    GamePaused = false;
    EXPECT_TRUE(Buttons().IsButtonChecked(41003));
    RefreshMainMenu();
    EXPECT_FALSE(Buttons().IsButtonChecked(41003));
}

FRESH_PROCESS_TEST_F(EditorMenus, TheRecentFilesReplaceThePlaceholdersAndStaleEntriesGo) {
    SettingsFile& user = GetUserSettings();
    RefreshMainMenu(); // no recent files: the placeholders go
    EXPECT_TRUE(RecentEntries().empty());
    for (const char* path : {"c.scene", "b.scene", "a.scene", "x.scene"}) {
        AddRecentFile(path);
    }
    AddRecentFile("b.scene"); // the third moves to the front
    RefreshMainMenu();
    using Entries = std::vector<std::pair<uint32_t, std::string>>;
    EXPECT_EQ(
        RecentEntries(),
        (Entries{{40086, "b.scene"}, {40087, "x.scene"}, {40088, "a.scene"}, {40089, "c.scene"}}));
    user.SetInt("recent_files", 2);
    RefreshMainMenu();
    EXPECT_EQ(RecentEntries(), (Entries{{40086, "b.scene"}, {40087, "x.scene"}}));
    user.SetInt("recent_files", 12);
    user.Remove("recent_file2"); // the list stops at the first gap
    RefreshMainMenu();
    EXPECT_EQ(RecentEntries(), (Entries{{40086, "b.scene"}}));
    EXPECT_EQ(user.GetInt("recent_files"), 9);
}

FRESH_PROCESS_TEST_F(EditorMenus, ARecentEntryOpensItsSceneAndAMissingOneAsksForIt) {
    CatchExit();
    dialogs->AnswerPath(""); // the open dialog, cancelled
    Command(40086);
    EXPECT_EQ(dialogs->Requests().size(), 1u);
    GetUserSettings().SetString("recent_file1", "level.scene");
    Command(40086);
    EXPECT_NE(GetSceneRoot(), nullptr);
}

FRESH_PROCESS_TEST_F(EditorMenus, CtrlSAndFileSaveWriteTheSceneAndItsCompactTwin) {
    OpenLevel();
    CtrlKey('S');
    EXPECT_TRUE(log.Contains("Scene saved as"));
    ASSERT_TRUE(Exists("level.scn"));
    const std::string byKey = folder.ReadFile("level.scene");
    const std::string twinByKey = folder.ReadFile("level.scn");
    std::filesystem::remove(folder.Join("level.scn"));
    Command(40007);
    ASSERT_TRUE(Exists("level.scn"));
    EXPECT_EQ(folder.ReadFile("level.scene"), byKey);
    EXPECT_EQ(folder.ReadFile("level.scn"), twinByKey);
}

// A save that cannot be written says why where the user looks, by Ctrl+S and by File > Save.
FRESH_PROCESS_TEST_F(EditorMenus, AFailedSaveRaisesADialogWithTheReason) {
    OpenLevel();
    // The scene's file has become a folder: nothing can take its place.
    std::filesystem::remove(folder.Join("level.scene"));
    std::filesystem::create_directory(folder.Join("level.scene"));
    CtrlKey('S');
    Command(40007);
    const std::vector<ScriptedDialogs::Request>& asked = dialogs->Requests();
    ASSERT_EQ(asked.size(), 2u);
    for (const ScriptedDialogs::Request& request : asked) {
        EXPECT_EQ(request.title, "Save failed");
        EXPECT_EQ(request.text, "Scene '" + folder.Join("level.scene") +
                                    "' was not saved: " + std::strerror(EISDIR));
        EXPECT_EQ(request.buttons, std::vector<std::string>{"OK"});
    }
    EXPECT_FALSE(log.Contains("Scene saved as"));
    EXPECT_FALSE(Exists("level.scn"));
}

FRESH_PROCESS_TEST_F(EditorMenus, ACancelledCtrlSLeavesTheRecentFilesAlone) {
    dialogs->AnswerPath(""); // without a scene path Ctrl+S asks where to save
    GetUserSettings().SetString("recent_file1", "kept.scene");
    CtrlKey('S');
    EXPECT_EQ(dialogs->Requests().size(), 1u);
    EXPECT_STREQ(GetUserSettings().GetString("recent_file1"), "kept.scene");
    EXPECT_FALSE(GetUserSettings().HasKey("recent_file2"));
}

FRESH_PROCESS_TEST_F(EditorMenus, ACancelledResourcePathChangesNothingAndAChosenOneEndsInASlash) {
    const std::string base = GetFileSystem()->GetBaseFolder();
    dialogs->AnswerPath("");
    dialogs->AnswerPath(folder.Join("art"));
    Command(40066);
    EXPECT_EQ(GetFileSystem()->GetBaseFolder(), base);
    EXPECT_FALSE(GetUserSettings().HasKey("resource_path"));
    Command(40066);
    EXPECT_EQ(GetFileSystem()->GetBaseFolder(), folder.Join("art") + "/");
    EXPECT_EQ(GetUserSettings().GetString("resource_path"), folder.Join("art") + "/");
    EXPECT_EQ(dialogs->Requests()[0].title, "Choose new resource path...");
}

FRESH_PROCESS_TEST_F(EditorMenus, AnAtlasNameGetsItsExtensionFromTheFileNameOnly) {
    EXPECT_EQ(WithDefaultExtension("a.b/level", ".bmp"), "a.b/level.bmp");
    EXPECT_EQ(WithDefaultExtension("a.b/level.jpg", ".bmp"), "a.b/level.jpg");
    // Without a selection the command asks, remembers the folder and assembles nothing.
    folder.WriteFile("maps.d/.keep", "");
    dialogs->AnswerPath(folder.Join("maps.d/level"));
    Command(40067);
    EXPECT_STREQ(GetUserSettings().GetString("folder_lightmaps"), "maps.d/");
    EXPECT_FALSE(Exists("maps.d/level.bmp"));
}

FRESH_PROCESS_TEST_F(EditorMenus, TheGameStepIsFourFramesOnlyWhileFastForwardIsHeld) {
    OpenLevel();
    Command(40013);
    ASSERT_TRUE(StepFrames(3));
    const auto button = GetEditorUi()->FindItem("tool:4");
    ASSERT_TRUE(button);
    MoveTo({static_cast<int32_t>(button->CentreX()), static_cast<int32_t>(button->CentreY())});
    // The game step over the frame time of one frame.
    const auto stepFactor = [this] {
        const float frameTime = GetPlatform()->GetFrameTime();
        EXPECT_TRUE(Step());
        return GameStep / frameTime;
    };
    Sdl().InjectButton(SdlPlatform::InjectedButton::Left, true);
    EXPECT_EQ(stepFactor(), 1.0f); // the press reaches the UI in this frame's drawing
    EXPECT_EQ(stepFactor(), FastForwardFactor);
    EXPECT_EQ(stepFactor(), FastForwardFactor);
    Sdl().InjectButton(SdlPlatform::InjectedButton::Left, false);
    stepFactor();
    EXPECT_EQ(stepFactor(), 1.0f);
}

FRESH_PROCESS_TEST_F(EditorMenus, ClickingFileSaveWritesTheSceneAndItsTwin) {
    OpenLevel();
    ASSERT_TRUE(Step());
    ASSERT_TRUE(ClickItem("menu:File"));
    ASSERT_TRUE(Step());
    ASSERT_TRUE(ClickItem("cmd:40007"));
    ASSERT_TRUE(Step());
    EXPECT_TRUE(Exists("level.scn"));
    EXPECT_TRUE(log.Contains("Scene saved as"));
}

FRESH_PROCESS_TEST_F(EditorMenus, ClickingPlayStartsTheGameAndShowsItChecked) {
    OpenLevel();
    ASSERT_TRUE(Step());
    ASSERT_TRUE(ClickItem("tool:1"));
    ASSERT_TRUE(Step());
    EXPECT_TRUE(GameRunning);
    EXPECT_TRUE(Buttons().IsButtonChecked(41001));
    EXPECT_FALSE(Buttons().IsButtonEnabled(41000)); // Save, while the game runs
}

FRESH_PROCESS_TEST_F(EditorMenus, TheSmallWindowSizeLeavesTheViewThatSizeBelowTheMenuAndToolbar) {
    ASSERT_TRUE(Step());
    ASSERT_TRUE(ClickItem("menu:View"));
    ASSERT_TRUE(Step());
    ASSERT_TRUE(ClickItem("menu:Set window size"));
    ASSERT_TRUE(Step());
    ASSERT_TRUE(ClickItem("cmd:40130"));
    ASSERT_TRUE(StepFrames(2)); // the command, then the window's new size
    EditorPanel& frame = *GetPlatform()->GetMainFramePanel();
    EXPECT_EQ(frame.GetSize(), Int2(640, 380));
    EXPECT_EQ(frame.GetOrigin(), Int2(0, ToolbarRowHeight));
    EXPECT_EQ(GetPlatform()->GetWindowSize(), Int2(640, 380));
    // The view lies inside the frame's two-pixel edge.
    EXPECT_EQ(GetPlatform()->GetViewSize(), Int2(636, 376));
    EXPECT_EQ(GetEditorViewPlace(*GetPlatform()), Int2(2, UiMenuBarHeight + ToolbarRowHeight + 2));
    int width = 0, height = 0;
    SDL_GetWindowSize(static_cast<SDL_Window*>(GetPlatform()->GetWindowHandle()), &width, &height);
    EXPECT_EQ(height, 380 + UiMenuBarHeight + ToolbarRowHeight);
}

FRESH_PROCESS_TEST_F(EditorMenus, AnOpenMenuIsDrawnOverTheView) {
    OpenLevel();
    ASSERT_TRUE(Step());
    ASSERT_TRUE(ClickItem("menu:File"));
    ASSERT_TRUE(Step());
    const auto item = GetEditorUi()->FindItem("cmd:40004"); // "Exit", well inside the view
    ASSERT_TRUE(item);
    const Int2 place = GetEditorViewPlace(*GetPlatform());
    const int32_t x = static_cast<int32_t>(item->left) + 2;
    const int32_t y = static_cast<int32_t>(item->CentreY());
    ASSERT_GT(y, place.y);
    EXPECT_NE(ImagePixel(x, y),
              Pixel(static_cast<uint32_t>(x - place.x), static_cast<uint32_t>(y - place.y)));
    // Beside the menu the view shows as the back buffer holds it.
    EXPECT_EQ(ImagePixel(600, y),
              Pixel(static_cast<uint32_t>(600 - place.x), static_cast<uint32_t>(y - place.y)));
}

using PlayerMenus = test::PlayerTest;

FRESH_PROCESS_TEST_F(PlayerMenus, ThePlayerHasNoMenuBarOrToolbarEvenWithAPhysicsMaster) {
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    folder.WriteFile("level.scene",
                     "version = 44\nnum_nodes = 2\nobj1 {\n\tclass = \"Node\"\n\tname = \"root\"\n"
                     "\tflags = 1\n}\nobj2 {\n\tclass = \"PhysicsMaster\"\n\tname = \"physics\"\n"
                     "\tparent = 1\n}\n");
    ASSERT_TRUE(Start());
    ASSERT_NE(GetSceneRoot(), nullptr);
    ASSERT_TRUE(StepFrames(2));
    BuildEditorToolbar();
    EXPECT_EQ(GetEditorMenuBar(), nullptr);
    EXPECT_EQ(GetPlatform()->GetToolbarWindow(), nullptr);
    EXPECT_EQ(GetPlatform()->GetToolbarHeight(), 0);
}

} // namespace
} // namespace quarn
