#include "app/dialogs/DialogBackend.h"
#include "app/editor/EditorUi.h"
#include "app/input/Keyboard.h"
#include "app/input/Mouse.h"
#include "app/platform/WindowMessage.h"
#include "app/player/SceneCommands.h"
#include "core/filesystem/SettingsFile.h"
#include "core/scene/EngineState.h"
#include "core/scene/NodeMenu.h"
#include "core/scene/SelectionSet.h"
#include "editor/NodeContextMenu.h"
#include "tests/app/player/PlayerTestSupport.h"
#include "tests/app/support/SdlEvents.h"

#include <SDL.h>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <imgui.h>
#include <imgui_stdlib.h>
#include <set>
#include <sys/stat.h>

namespace quarn {
namespace {

using EditorMode = test::PlayerTest;

// The window system's dialogs, their boxes written down instead of shown.
class RecordedBoxes : public SdlDialogs {
public:
    int ShowMessageBox(const char* text, const char* title, uint32_t) override {
        boxes.push_back(std::string(title) + ": " + text);
        return DialogOk;
    }
    int ShowChoiceBox(const char* title, const char* text, const char*) override {
        boxes.push_back(std::string(title) + ": " + text);
        return 0;
    }
    std::vector<std::string> boxes;
};

// The SDL platform on a screen whose work area a test chooses.
class ScreenPlatform : public SdlPlatform {
public:
    ScreenPlatform(std::unique_ptr<MonotonicClock> clock, std::unique_ptr<DialogBackend> dialogs)
        : SdlPlatform("", std::move(clock), std::move(dialogs)) {}
    Int2 GetWorkAreaSize() override { return workArea; }
    Int2 workArea;
};

class EditorOnAScreen : public test::PlayerTest {
protected:
    bool StartOn(Int2 workArea) {
        EngineSetup setup;
        setup.editor = true;
        setup.makePlatform = [this, workArea] {
            auto boxes = std::make_unique<RecordedBoxes>();
            recorded = boxes.get();
            auto fixed = std::make_unique<test::FixedClock>();
            clock = fixed.get();
            screen = new ScreenPlatform(std::move(fixed), std::move(boxes));
            screen->workArea = workArea;
            return screen;
        };
        return InitEngine(setup);
    }
    static Int2 WholeWindow() {
        Int2 whole;
        SDL_GetWindowSize(static_cast<SDL_Window*>(GetPlatform()->GetWindowHandle()), &whole.x,
                          &whole.y);
        return whole;
    }
    RecordedBoxes* recorded = nullptr;
    ScreenPlatform* screen = nullptr;
};

// The view keeps its 1024 x 768 where the screen holds it with the menu bar and the toolbar;
// on an 800-row screen the window takes the screen's height and the view what is left.
FRESH_PROCESS_TEST_F(EditorOnAScreen, TheDefaultWindowFitsTheScreenAndKeepsItsViewWhereItCan) {
    ASSERT_TRUE(StartOn({1280, 800}));
    EXPECT_EQ(WholeWindow(), Int2(1024, 800));
    EXPECT_EQ(GetPlatform()->GetViewSize(),
              Int2(1020, 800 - UiMenuBarHeight - ToolbarRowHeight - 4));
    screen->workArea = {1920, 1080};
    GetPlatform()->SetClientSize(1024, 768);
    EXPECT_EQ(WholeWindow(), Int2(1024, 768 + UiMenuBarHeight + ToolbarRowHeight));
    EXPECT_EQ(GetPlatform()->GetWindowSize(), Int2(1024, 768));
    // The View menu's sizes fit the same way.
    screen->workArea = {1280, 700};
    GetPlatform()->SetClientSize(1280, 720);
    EXPECT_EQ(WholeWindow(), Int2(1280, 700));
    // A screen smaller both ways is filled, bars and all (it was left 43 rows short).
    screen->workArea = {800, 600};
    GetPlatform()->SetClientSize(1024, 768);
    EXPECT_EQ(WholeWindow(), Int2(800, 600));
}

// Without the chooser program File/Load... says why nothing opens; with it, the chooser starts in
// the game's folder when no folder is remembered.
FRESH_PROCESS_TEST_F(EditorOnAScreen, FileLoadWithoutTheDialogProgramSaysSoAndOpensInTheGame) {
    folder.WriteFile("config.txt", "");
    std::filesystem::create_directories(folder.Join("bin"));
    test::ScopedEnvironment path("PATH", folder.Join("bin"));
    ASSERT_TRUE(StartOn({}));
    ASSERT_TRUE(Step());
    Command(40002);
    const std::string missing = "File and folder dialogs need the program \"zenity\", which "
                                "could not be started: No such file or directory. Install it "
                                "(scripts/install-deps does).";
    EXPECT_TRUE(log.Contains(missing)) << LogText();
    EXPECT_EQ(recorded->boxes, std::vector<std::string>{"No dialog program: " + missing});
    EXPECT_EQ(GetSceneRoot(), nullptr);

    // A stand-in chooser writes down how it was started and cancels.
    const std::string chooser =
        folder.WriteFile("bin/zenity", "#!/bin/sh\nfor a; do echo \"$a\"; done > \"" +
                                           folder.Join("asked") + "\"\nexit 1\n");
    chmod(chooser.c_str(), 0755);
    Command(40002);
    EXPECT_NE(folder.ReadFile("asked").find("\n--filename=" + folder.Path() + "/\n"),
              std::string::npos)
        << folder.ReadFile("asked");
    EXPECT_EQ(recorded->boxes.size(), 1u);
}

// A window of the editor's UI at (10, 10), 120 x 80, holding a text field.
std::string fieldText;
void FieldWindow() {
    ImGui::SetNextWindowPos(ImVec2(10, 10));
    ImGui::SetNextWindowSize(ImVec2(120, 80));
    ImGui::Begin("panel", nullptr, ImGuiWindowFlags_NoDecoration);
    static bool focus = true;
    if (focus) {
        ImGui::SetKeyboardFocusHere();
        focus = false;
    }
    ImGui::InputText("##field", &fieldText);
    ImGui::End();
}

FRESH_PROCESS_TEST_F(EditorMode, IsFixedForTheRunAndPlacesTheWindowFromTheUserSettings) {
    folder.WriteFile("config.txt", "autorun = \"game/level.scene\"\n"
                                   "editor_windowpos = \"5,6\"\neditor_windowsize = \"300,200\"\n");
    folder.WriteFile("game/level.scene", test::SceneText());
    // The game's own folder says it runs standalone: the editor stays the editor.
    folder.WriteFile("game/game_cfg.txt", "standalone = \"true\"\n");
    folder.WriteFile("data/Quarn/init.txt",
                     "editor_windowpos = \"30,40\"\neditor_windowsize = \"640,480\"\n");
    ASSERT_TRUE(StartEditor());
    EXPECT_TRUE(EditorRunning);
    EXPECT_STREQ(GetMainSettings().GetString("standalone"), "false");
    EXPECT_FALSE(IsStandalone());
    EXPECT_TRUE(log.Contains("Game settings read from"));
    EXPECT_EQ(TheRenderDevice()->TestCreationFlags(0x40), 0x40u);
    Platform& platform = *GetPlatform();
    // The window's client area, less the view's sunken edge.
    EXPECT_EQ(platform.GetViewSize(), Int2(636, 476));
    // The menu bar lies outside the client area the settings size and place, the toolbar
    // inside it above the view.
    EXPECT_EQ(platform.GetWindowSize(), Int2(640, 480));
    EXPECT_EQ(platform.GetWindowPosition(), Int2(30, 40));
    Int2 whole;
    SDL_GetWindowSize(static_cast<SDL_Window*>(platform.GetWindowHandle()), &whole.x, &whole.y);
    EXPECT_EQ(whole, Int2(640, 480 + UiMenuBarHeight + ToolbarRowHeight));
    EXPECT_TRUE(FrameUpdate());
    EXPECT_FALSE(IsStandalone());
}

FRESH_PROCESS_TEST_F(EditorMode, TheWindowShowsTheViewAsTheBackBufferHoldsItWithTheUiOnTop) {
    folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"160,120\"\n");
    ASSERT_TRUE(StartEditor());
    SetEditorWidgets(FieldWindow);
    ASSERT_TRUE(FrameUpdate());
    ASSERT_NE(GetEditorWindowImage(), nullptr);
    const Int2 origin = GetEditorViewPlace(*GetPlatform());
    const Int2 view = GetPlatform()->GetViewSize();
    ASSERT_EQ(origin, Int2(2, 2 + UiMenuBarHeight + ToolbarRowHeight));
    ASSERT_EQ(view, Int2(156, 116));
    // The scene's black is overdrawn by the panel; the rest of the view is the back buffer's.
    int32_t panel = 0;
    for (int32_t y = 0; y < view.y; ++y) {
        for (int32_t x = 0; x < view.x; ++x) {
            // The panel's place is in window pixels, the menu bar's rows included.
            const int32_t wx = origin.x + x;
            const int32_t wy = origin.y + y;
            const bool underPanel = wx >= 10 && wx < 130 && wy >= 10 && wy < 90;
            if (underPanel) {
                panel += ImagePixel(origin.x + x, origin.y + y) != Pixel(x, y) ? 1 : 0;
            } else {
                ASSERT_EQ(ImagePixel(origin.x + x, origin.y + y), Pixel(x, y)) << x << "," << y;
            }
        }
    }
    EXPECT_GT(panel, 120 * (90 - origin.y) / 2);
}

FRESH_PROCESS_TEST_F(EditorMode, AMouseOverTheUiStaysThereAndKeysInAFieldSkipTheEditorsKeys) {
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    folder.WriteFile("level.scene", test::SceneText());
    folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"160,120\"\n");
    ASSERT_TRUE(StartEditor());
    SetEditorWidgets(FieldWindow);
    ASSERT_TRUE(FrameUpdate());
    Mouse& mouse = *Mouse::Get();
    MoveTo(InWindow({50, 20})); // over the panel, below the toolbar
    ASSERT_TRUE(FrameUpdate());
    Sdl().InjectWheel(1);
    EXPECT_EQ(mouse.GetWheel(), 0);
    ASSERT_TRUE(FrameUpdate());
    MoveTo(InWindow({150, 110}));
    ASSERT_TRUE(FrameUpdate());
    Sdl().InjectWheel(1);
    EXPECT_EQ(mouse.GetWheel(), WheelDelta);
    EXPECT_EQ(mouse.GetPosition(), Int2(150, 110)) << "in the view's coordinates";

    // The field holds the keyboard: typed text reaches it, Ctrl+S does not save.
    ASSERT_TRUE(FrameUpdate());
    Sdl().InjectText("hi");
    ASSERT_TRUE(FrameUpdate());
    EXPECT_EQ(fieldText, "hi");
    // The game's keyboard reads every key, as the keys' state, typed ones too.
    Sdl().InjectKey(KeyA, true);
    ASSERT_TRUE(FrameUpdate());
    EXPECT_TRUE(Keyboard::Get()->IsKeyDown(KeyA));
    Sdl().InjectKey(KeyA, false);
    Sdl().InjectKey(KeyLeftCtrl, true);
    Sdl().InjectKey(KeyA + ('S' - 'A'), true);
    Sdl().InjectKey(KeyA + ('S' - 'A'), false);
    Sdl().InjectKey(KeyLeftCtrl, false);
    EXPECT_FALSE(log.Contains("Scene saved as"));
    EXPECT_EQ(folder.ReadFile("level.scene"), test::SceneText());
}

// A quick chord whose keys are all let go before its frame: SDL's own modifier state has run
// ahead to Ctrl's release when the events between are handled, and they hold the Ctrl they came
// with.
void QuickChord(const std::function<void()>& inside) {
    test::PushKeyEvent(SDL_SCANCODE_LCTRL, true, KMOD_LCTRL);
    inside();
    test::PushKeyEvent(SDL_SCANCODE_LCTRL, false, KMOD_NONE);
    SDL_SetModState(KMOD_NONE);
}
void QuickChord(SDL_Scancode key) {
    QuickChord([key] {
        test::PushKeyEvent(key, true, KMOD_LCTRL);
        test::PushKeyEvent(key, false, KMOD_LCTRL);
    });
}

// Ctrl+S saves, Ctrl+H gives the view the whole window, a Ctrl+click reaches the UI with its
// Ctrl and a text field's Ctrl+A selects all (so that typing replaces it), however quick.
FRESH_PROCESS_TEST_F(EditorMode, AQuickChordKeepsTheModifiersOfItsOwnEvents) {
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    folder.WriteFile("level.scene", test::SceneText());
    folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"160,120\"\n");
    ASSERT_TRUE(StartEditor());
    GameRunning = false;
    GetSceneRoot()->SetName("edited");
    QuickChord(SDL_SCANCODE_S);
    ASSERT_TRUE(Step());
    EXPECT_NE(folder.ReadFile("level.scene").find("edited"), std::string::npos);
    QuickChord(SDL_SCANCODE_H);
    ASSERT_TRUE(Step());
    EXPECT_NE(GetPlatform()->TestWindowState(WindowFullMonitor), 0u);
    QuickChord(SDL_SCANCODE_H);
    ASSERT_TRUE(Step());
    EXPECT_EQ(GetPlatform()->TestWindowState(WindowFullMonitor), 0u);

    std::vector<bool> ctrlClicks;
    SetEditorWidgets([&ctrlClicks] {
        FieldWindow();
        if (ImGui::IsMouseClicked(0)) {
            ctrlClicks.push_back(ImGui::GetIO().KeyCtrl);
        }
    });
    ASSERT_TRUE(StepFrames(2));
    MoveTo({60, 25});
    QuickChord([] {
        for (const bool down : {true, false}) {
            test::PushButtonEvent(SDL_BUTTON_LEFT, down, 1, {60, 25});
        }
    });
    ASSERT_TRUE(StepFrames(3));
    EXPECT_EQ(ctrlClicks, std::vector<bool>{true});
    Sdl().InjectText("typed");
    ASSERT_TRUE(Step());
    ASSERT_EQ(fieldText, "typed");
    QuickChord(SDL_SCANCODE_A);
    ASSERT_TRUE(StepFrames(3));
    Sdl().InjectText("x");
    ASSERT_TRUE(Step());
    EXPECT_EQ(fieldText, "x");
}

FRESH_PROCESS_TEST_F(EditorMode, ThePlayerKeepsItsGameSettingsAndItsDeviceFlags) {
    folder.WriteFile("config.txt", "editor_windowsize = \"300,200\"\n");
    folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"640,480\"\n");
    ASSERT_TRUE(Start());
    EXPECT_FALSE(EditorRunning);
    EXPECT_TRUE(IsStandalone());
    EXPECT_EQ(TheRenderDevice()->TestCreationFlags(0x40), 0u);
    EXPECT_EQ(GetPlatform()->GetViewSize(), Int2(296, 196));
    EXPECT_EQ(GetEditorUi(), nullptr);
    EXPECT_EQ(GetSelectionSet(), nullptr);
    EXPECT_TRUE(FrameUpdate());
    EXPECT_EQ(GetEditorWindowImage(), nullptr);
}

// A still scene: a camera looking at a sprite of the built-in particle picture, each frame
// cleared first.
const char* const SpriteScene =
    "version = 44\nnum_nodes = 4\nobj1 {\n\tclass = \"Node\"\n\tflags = 1\n}\n"
    "obj2 {\n\tclass = \"Camera\"\n\tparent = 1\n}\n"
    "obj3 {\n\tclass = \"RenderTarget\"\n\tparent = 1\n\tprev = 2\n\tcurrentcamera = 2\n"
    "\trt_flags = 180\n}\n"
    "obj4 {\n\tclass = \"Sprite\"\n\tparent = 1\n\tprev = 3\n\tpos = 1,0,8\n"
    "\ttexture = \"res://particle.png\"\n}\n";

// Every path below the folder, relative to it.
std::set<std::string> FilesBelow(const std::string& folder) {
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        files.insert(std::filesystem::relative(entry.path(), folder).string());
    }
    return files;
}

// The player and the editor alike; nothing is written but the user's own folder.
class NothingWritten : public test::PlayerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(NothingWritten, IntoTheHomeOrCurrentFolder) {
    test::ExpectInFreshProcess([this] {
        folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
        folder.WriteFile("level.scene", SpriteScene);
        std::filesystem::create_directories(folder.Join("home"));
        setenv("HOME", folder.Join("home").c_str(), 1);
        // The user's folder is made at start-up; nothing else is.
        const auto written = [this] {
            auto files = FilesBelow(folder.Path());
            std::erase_if(files, [](const std::string& path) { return path.starts_with("data"); });
            return files;
        };
        const auto before = written();
        ASSERT_TRUE(GetParam() ? StartEditor() : Start());
        SetEditorWidgets(FieldWindow);
        ASSERT_TRUE(StepFrames(3));
        Sdl().InjectText("typed");
        ASSERT_TRUE(Click({60, 40}));
        ASSERT_TRUE(StepFrames(3));
        EXPECT_EQ(written(), before);
    });
}

INSTANTIATE_TEST_SUITE_P(PlayerAndEditor, NothingWritten, ::testing::Bool());

FRESH_PROCESS_TEST_F(EditorMode, ASceneFrameDrawnAfterAUiPassEqualsOneDrawnWithout) {
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    folder.WriteFile("level.scene", SpriteScene);
    folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"160,120\"\n");
    ASSERT_TRUE(StartEditor());
    ASSERT_TRUE(StepFrames(2));
    const auto backBuffer = [this] {
        std::vector<uint32_t> pixels;
        for (uint32_t y = 0; y < 120; ++y) {
            for (uint32_t x = 0; x < 160; ++x) {
                pixels.push_back(Pixel(x, y));
            }
        }
        return pixels;
    };
    const std::vector<uint32_t> without = backBuffer();
    EXPECT_NE(std::count(without.begin(), without.end(), without[0]),
              static_cast<ptrdiff_t>(without.size()))
        << "the sprite is not drawn";
    // Text, a field and a scissored child change blending, texture, viewport and scissor.
    SetEditorWidgets([] {
        FieldWindow();
        ImGui::SetNextWindowPos(ImVec2(20, 60));
        ImGui::SetNextWindowSize(ImVec2(100, 40));
        ImGui::Begin("clip");
        ImGui::BeginChild("inner", ImVec2(50, 20), true);
        ImGui::TextUnformatted("a line far too long for the child");
        ImGui::EndChild();
        ImGui::End();
    });
    ASSERT_TRUE(StepFrames(2));
    EXPECT_EQ(backBuffer(), without);
}

FRESH_PROCESS_TEST_F(EditorMode, AClickOverAUiWindowStaysInTheUiAndOneOverTheViewReachesTheMouse) {
    folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"160,120\"\n");
    ASSERT_TRUE(StartEditor());
    int32_t presses = 0;
    SetEditorWidgets([&presses] {
        FieldWindow();
        if (Mouse::Get()->IsDown(0, "")) {
            ++presses;
        }
    });
    ASSERT_TRUE(Step());
    // The field's window covers window pixels (10, 10) to (130, 90).
    ASSERT_TRUE(Click({60, 40}));
    ASSERT_TRUE(Step());
    EXPECT_EQ(presses, 0);
    const Int2 view(140, 100);
    ASSERT_TRUE(Click(InWindow(view)));
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(Mouse::Get()->GetPosition(), view);
}

FRESH_PROCESS_TEST_F(EditorMode,
                     AStoppedSceneIsAutosavedOnceAfterFiveMinutesAndNeverWhileTheGameRuns) {
    folder.WriteFile("config.txt", "");
    folder.WriteFile("level.scene", SpriteScene);
    folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"64,48\"\n");
    ASSERT_TRUE(StartEditor());
    ASSERT_EQ(GetSceneRoot(), nullptr);
    // What the scene-open command runs, its dialog answered.
    dialogs->AnswerPath(folder.Join("level.scene"));
    OpenSceneDialog();
    ASSERT_NE(GetSceneRoot(), nullptr);
    ASSERT_FALSE(GameRunning);
    const std::string autosave = "data/Quarn/autosave0.scene";
    const auto autosaves = [this] {
        const std::string text = LogText();
        size_t count = 0;
        for (size_t at = text.find("Scene auto-saved as"); at != std::string::npos;
             at = text.find("Scene auto-saved as", at + 1)) {
            ++count;
        }
        return count;
    };
    ASSERT_TRUE(StepFrames(2990, 0.1));
    EXPECT_FALSE(std::filesystem::exists(folder.Join(autosave)));
    ASSERT_TRUE(StepFrames(30, 0.1));
    EXPECT_TRUE(std::filesystem::exists(folder.Join(autosave)));
    EXPECT_EQ(autosaves(), 1u);
    ASSERT_TRUE(StepFrames(100, 0.1));
    EXPECT_EQ(autosaves(), 1u);
    // Play saves once as it starts; the running game is never autosaved.
    PlayScene(false);
    ASSERT_TRUE(GameRunning);
    EXPECT_EQ(autosaves(), 2u);
    ASSERT_TRUE(StepFrames(3100, 0.1));
    EXPECT_EQ(autosaves(), 2u);
}

FRESH_PROCESS_TEST_F(EditorMode, ARightClickInTheStoppedViewSelectsTheNodeThereAndOpensItsMenu) {
    // A 40-pixel screen sprite at (100, 100), seen through the scene's camera.
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    folder.WriteFile("level.scene",
                     "version = 44\nnum_nodes = 4\nobj1 {\n\tclass = \"Node\"\n}\n"
                     "obj2 {\n\tclass = \"Camera\"\n\tparent = 1\n}\n"
                     "obj3 {\n\tclass = \"RenderTarget\"\n\tparent = 1\n\tcurrentcamera = 2\n}\n"
                     "obj4 {\n\tclass = \"Sprite\"\n\tname = \"Aim\"\n\tparent = 1\n"
                     "\tmatrixmode = 3\n\tpos = 100.0,100.0,0.0\n\tsize = 40.0,40.0\n}\n");
    folder.WriteFile("pic.bmp", folder.ReadFile("level.scene")); // only listed, never drawn
    folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"320,240\"\n");
    ASSERT_TRUE(StartEditor());
    SelectionSet* selection = GetSelectionSet();
    ASSERT_NE(selection, nullptr);
    Node* sprite = GetSceneRoot()->FindByClassName("Sprite");
    ASSERT_NE(sprite, nullptr);
    const auto rightClick = [&](int32_t x, int32_t y) {
        Sdl().InjectMouseMove(InWindow({x, y}));
        Sdl().InjectButton(SdlPlatform::InjectedButton::Right, true);
        Sdl().InjectButton(SdlPlatform::InjectedButton::Right, false);
    };

    // A running game keeps its clicks.
    ASSERT_TRUE(GameRunning);
    ASSERT_TRUE(FrameUpdate());
    rightClick(110, 100);
    ASSERT_TRUE(FrameUpdate());
    EXPECT_EQ(selection->GetCount(), 0);
    EXPECT_FALSE(GetEditorNodeMenu().IsOpen());

    // The selection's outline lies just outside the sprite's 80..120 pixels, over the view (the
    // node menu opens right of and below the pointer).
    const auto outlined = [] {
        std::vector<bool> sides;
        for (const Int2 side : {Int2(78, 100), Int2(121, 85), Int2(100, 79), Int2(90, 120)}) {
            const Int2 at = InWindow(side);
            sides.push_back(ImagePixel(at.x, at.y) == 0xFFFFAA00u);
        }
        return sides;
    };
    EXPECT_EQ(outlined(), std::vector<bool>(4, false));

    GameRunning = false;
    rightClick(110, 100);
    EXPECT_TRUE(sprite->HasFlag(NodeSelected));
    EXPECT_EQ(selection->GetCount(), 1);
    ASSERT_TRUE(FrameUpdate());
    EXPECT_TRUE(GetEditorNodeMenu().IsOpen());
    EXPECT_EQ(outlined(), std::vector<bool>(4, true));
    // Play keeps the selection, not its outline: the game's frames are the game's alone.
    GameRunning = true;
    ASSERT_TRUE(FrameUpdate());
    EXPECT_EQ(outlined(), std::vector<bool>(4, false));
    EXPECT_TRUE(sprite->HasFlag(NodeSelected));
    GameRunning = false;
    // The menu's first line names the node its entries act on.
    EXPECT_EQ(GetEditorNodeMenu().GetTitle(), "Sprite obj4 (Aim)");
    ASSERT_TRUE(FrameUpdate());
    const auto heading = GetEditorUi()->FindItem("ctx-node");
    const auto first = GetEditorUi()->FindItem("ctx:Add new child");
    ASSERT_TRUE(heading && first);
    EXPECT_LT(heading->bottom, first->top);

    // Esc closes the menu, a submenu it shows with it.
    ASSERT_TRUE(ClickItem("ctx:Add new child"));
    ASSERT_TRUE(FrameUpdate());
    ASSERT_TRUE(FrameUpdate());
    EXPECT_TRUE(GetEditorUi()->FindItem("ctx:Add new child|Gfx"));
    Sdl().InjectKey(KeyEscape, true);
    Sdl().InjectKey(KeyEscape, false);
    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_TRUE(FrameUpdate());
    }
    EXPECT_FALSE(GetEditorNodeMenu().IsOpen());
    EXPECT_FALSE(GetEditorUi()->FindItem("ctx:Add new child|Gfx"));

    auto& built = GetEditorNodeMenu().GetBuilt();
    ASSERT_FALSE(built.empty());
    NodeMenuItem& item = built.front().item;
    EXPECT_EQ(item.label, "Add new child");

    // Add new child, Gfx, Sprite, <pic.bmp>, each submenu opened as the pointer would.
    NodeMenuItem* menu = &item;
    for (const char* label : {"Gfx", "Sprite", "<pic.bmp>"}) {
        NodeMenuItem* next = nullptr;
        for (NodeMenuItem& each : menu->items) {
            next = each.label == label ? &each : next;
        }
        ASSERT_NE(next, nullptr) << label;
        menu = next;
        if (menu->open) {
            menu->open(*menu);
        }
    }
    GetEditorNodeMenu().Choose(0, NodeMenuLeafIndex(item, menu));
    Node* child = sprite->GetLastChild();
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->FindProperty("texture")->GetAsText(*child), "pic.bmp");
    EXPECT_EQ(selection->GetAt(0), child);
}

} // namespace
} // namespace quarn
