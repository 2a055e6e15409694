#include "app/input/Mouse.h"
#include "app/platform/WindowMessage.h"
#include "app/player/EditorUi.h"
#include "app/player/SceneCommands.h"
#include "core/scene/NodeMenu.h"
#include "core/scene/SelectionSet.h"
#include "editor/NodeContextMenu.h"
#include "core/filesystem/SettingsFile.h"
#include "core/scene/EngineState.h"
#include "tests/app/player/PlayerTestSupport.h"

#include <SDL.h>
#include <imgui.h>
#include <imgui_stdlib.h>

namespace quarn {
namespace {

class EditorMode : public test::PlayerTest {
protected:
    bool StartEditor() {
        EngineSetup setup;
        setup.editor = true;
        return Start(setup);
    }

    static void Push(SDL_Event event) {
        SDL_PushEvent(&event);
        static_cast<SdlPlatform*>(GetPlatform())->PumpMessages();
    }
    static void MoveTo(int32_t x, int32_t y) {
        SDL_Event event = {};
        event.type = SDL_MOUSEMOTION;
        event.motion.x = x;
        event.motion.y = y;
        Push(event);
    }
    static void Wheel() {
        SDL_Event event = {};
        event.type = SDL_MOUSEWHEEL;
        event.wheel.y = 1;
        Push(event);
    }
    static void Key(SDL_Keycode key, bool down) {
        SDL_Event event = {};
        event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        event.key.keysym.sym = key;
        event.key.keysym.scancode = SDL_GetScancodeFromKey(key);
        Push(event);
    }
    static void Type(const char* text) {
        SDL_Event event = {};
        event.type = SDL_TEXTINPUT;
        std::snprintf(event.text.text, sizeof(event.text.text), "%s", text);
        Push(event);
    }

    static uint32_t ImagePixel(int32_t x, int32_t y) {
        return static_cast<SoftwareSurface*>(GetEditorWindowImage())->ReadArgb(x, y);
    }
};

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

TEST_F(EditorMode, IsFixedForTheRunAndPlacesTheWindowFromTheUserSettings) {
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
    EXPECT_EQ(platform.GetViewSize(), Int2(640, 480));
    EXPECT_TRUE(FrameUpdate());
    EXPECT_FALSE(IsStandalone());
}

TEST_F(EditorMode, TheWindowShowsTheViewAsTheBackBufferHoldsItWithTheUiOnTop) {
    folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"160,120\"\n");
    ASSERT_TRUE(StartEditor());
    SetEditorWidgets(FieldWindow);
    ASSERT_TRUE(FrameUpdate());
    ASSERT_NE(GetEditorWindowImage(), nullptr);
    const Int2 origin = GetPlatform()->GetViewOrigin();
    const Int2 view = GetPlatform()->GetViewSize();
    ASSERT_EQ(view, Int2(160, 120));
    // The scene's black is overdrawn by the panel; the rest of the view is the back buffer's.
    int32_t panel = 0;
    for (int32_t y = 0; y < view.y; ++y) {
        for (int32_t x = 0; x < view.x; ++x) {
            const bool underPanel = x >= 10 && x < 130 && y >= 10 && y < 90;
            if (underPanel) {
                panel += ImagePixel(origin.x + x, origin.y + y) != Pixel(x, y) ? 1 : 0;
            } else {
                ASSERT_EQ(ImagePixel(origin.x + x, origin.y + y), Pixel(x, y)) << x << "," << y;
            }
        }
    }
    EXPECT_GT(panel, 120 * 80 / 2);
}

TEST_F(EditorMode, AMouseOverTheUiStaysThereAndKeysInAFieldSkipTheEditorsKeys) {
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    folder.WriteFile("level.scene", test::SceneText());
    folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"160,120\"\n");
    ASSERT_TRUE(StartEditor());
    SetEditorWidgets(FieldWindow);
    ASSERT_TRUE(FrameUpdate());
    Mouse& mouse = *Mouse::Get();
    MoveTo(50, 50);
    ASSERT_TRUE(FrameUpdate());
    Wheel();
    EXPECT_EQ(mouse.GetWheel(), 0);
    ASSERT_TRUE(FrameUpdate());
    MoveTo(150, 110);
    ASSERT_TRUE(FrameUpdate());
    Wheel();
    EXPECT_EQ(mouse.GetWheel(), WheelDelta);
    EXPECT_EQ(mouse.GetPosition(), Int2(150, 110));

    // The field holds the keyboard: typed text reaches it, Ctrl+S does not save.
    ASSERT_TRUE(FrameUpdate());
    Type("hi");
    ASSERT_TRUE(FrameUpdate());
    EXPECT_EQ(fieldText, "hi");
    SDL_SetModState(KMOD_LCTRL);
    Key(SDLK_s, true);
    Key(SDLK_s, false);
    SDL_SetModState(KMOD_NONE);
    EXPECT_FALSE(log.Contains("Scene saved as"));
    EXPECT_EQ(folder.ReadFile("level.scene"), test::SceneText());
}

TEST_F(EditorMode, ThePlayerKeepsItsGameSettingsAndItsDeviceFlags) {
    folder.WriteFile("config.txt", "editor_windowsize = \"300,200\"\n");
    folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"640,480\"\n");
    ASSERT_TRUE(Start());
    EXPECT_FALSE(EditorRunning);
    EXPECT_TRUE(IsStandalone());
    EXPECT_EQ(TheRenderDevice()->TestCreationFlags(0x40), 0u);
    EXPECT_EQ(GetPlatform()->GetViewSize(), Int2(300, 200));
    EXPECT_EQ(GetEditorUi(), nullptr);
    EXPECT_EQ(GetSelectionSet(), nullptr);
    EXPECT_TRUE(FrameUpdate());
    EXPECT_EQ(GetEditorWindowImage(), nullptr);
}

TEST_F(EditorMode, ARightClickInTheStoppedViewSelectsTheNodeThereAndOpensItsMenu) {
    // A 40-pixel screen sprite at (100, 100), seen through the scene's camera.
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    folder.WriteFile("level.scene",
                     "version = 44\nnum_nodes = 4\nobj1 {\n\tclass = \"Node\"\n}\n"
                     "obj2 {\n\tclass = \"Camera\"\n\tparent = 1\n}\n"
                     "obj3 {\n\tclass = \"RenderTarget\"\n\tparent = 1\n\tcurrentcamera = 2\n}\n"
                     "obj4 {\n\tclass = \"Sprite\"\n\tparent = 1\n\tmatrixmode = 3\n"
                     "\tpos = 100.0,100.0,0.0\n\tsize = 40.0,40.0\n}\n");
    folder.WriteFile("pic.bmp", folder.ReadFile("level.scene")); // only listed, never drawn
    folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"320,240\"\n");
    ASSERT_TRUE(StartEditor());
    SelectionSet* selection = GetSelectionSet();
    ASSERT_NE(selection, nullptr);
    Node* sprite = GetSceneRoot()->FindByClassName("Sprite");
    ASSERT_NE(sprite, nullptr);
    const Int2 view = GetPlatform()->GetViewOrigin();
    const auto rightClick = [&](int32_t x, int32_t y) {
        for (uint32_t type : {SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP}) {
            SDL_Event event = {};
            event.type = type;
            event.button.button = SDL_BUTTON_RIGHT;
            event.button.x = view.x + x;
            event.button.y = view.y + y;
            Push(event);
        }
    };

    // A running game keeps its clicks.
    ASSERT_TRUE(GameRunning);
    ASSERT_TRUE(FrameUpdate());
    rightClick(110, 100);
    ASSERT_TRUE(FrameUpdate());
    EXPECT_EQ(selection->GetCount(), 0);
    EXPECT_FALSE(GetEditorNodeMenu().IsOpen());

    GameRunning = false;
    rightClick(110, 100);
    EXPECT_TRUE(sprite->HasFlag(NodeSelected));
    EXPECT_EQ(selection->GetCount(), 1);
    ASSERT_TRUE(FrameUpdate());
    EXPECT_TRUE(GetEditorNodeMenu().IsOpen());
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
