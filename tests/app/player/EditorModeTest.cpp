#include "app/input/Mouse.h"
#include "app/platform/WindowMessage.h"
#include "app/player/EditorUi.h"
#include "app/player/SceneCommands.h"
#include "core/filesystem/SettingsFile.h"
#include "core/scene/EngineState.h"
#include "tests/app/player/PlayerTestSupport.h"

#include <SDL.h>
#include <imgui.h>
#include <imgui_stdlib.h>

namespace quarn {
namespace {

using EditorMode = test::PlayerTest;

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
    const Int2 origin = GetEditorViewPlace(*GetPlatform());
    const Int2 view = GetPlatform()->GetViewSize();
    ASSERT_EQ(view, Int2(160, 120));
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

TEST_F(EditorMode, AMouseOverTheUiStaysThereAndKeysInAFieldSkipTheEditorsKeys) {
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    folder.WriteFile("level.scene", test::SceneText());
    folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"160,120\"\n");
    ASSERT_TRUE(StartEditor());
    SetEditorWidgets(FieldWindow);
    ASSERT_TRUE(FrameUpdate());
    Mouse& mouse = *Mouse::Get();
    MoveTo(InWindow({50, 50}));
    ASSERT_TRUE(FrameUpdate());
    Sdl().InjectWheel(1);
    EXPECT_EQ(mouse.GetWheel(), 0);
    ASSERT_TRUE(FrameUpdate());
    MoveTo(InWindow({150, 110}));
    ASSERT_TRUE(FrameUpdate());
    Sdl().InjectWheel(1);
    EXPECT_EQ(mouse.GetWheel(), WheelDelta);
    EXPECT_EQ(mouse.GetPosition(), Int2(150, 110));

    // The field holds the keyboard: typed text reaches it, Ctrl+S does not save.
    ASSERT_TRUE(FrameUpdate());
    Sdl().InjectText("hi");
    ASSERT_TRUE(FrameUpdate());
    EXPECT_EQ(fieldText, "hi");
    Sdl().InjectKey(KeyLeftCtrl, true);
    Sdl().InjectKey(KeyA + ('S' - 'A'), true);
    Sdl().InjectKey(KeyA + ('S' - 'A'), false);
    Sdl().InjectKey(KeyLeftCtrl, false);
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
    EXPECT_TRUE(FrameUpdate());
    EXPECT_EQ(GetEditorWindowImage(), nullptr);
}

} // namespace
} // namespace quarn
