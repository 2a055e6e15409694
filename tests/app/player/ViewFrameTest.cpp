#include "app/editor/EditorUi.h"
#include "editor/MainFrame.h"
#include "editor/UiLayer.h"
#include "tests/app/player/PlayerTestSupport.h"

#include <SDL.h>
#include <cstring>
#include <imgui.h>

namespace quarn {
namespace {

class ViewFrame : public test::PlayerTest {
protected:
    static void Push(SDL_Event event) {
        SDL_PushEvent(&event);
        static_cast<SdlPlatform*>(GetPlatform())->PumpMessages();
    }
    static void Mouse(uint32_t type, int32_t x, int32_t y) {
        SDL_Event event = {};
        event.type = type;
        if (type == SDL_MOUSEMOTION) {
            event.motion.x = x;
            event.motion.y = y;
        } else {
            event.button.button = SDL_BUTTON_LEFT;
            event.button.clicks = 1;
            event.button.x = x;
            event.button.y = y;
        }
        Push(event);
    }

    // What the window shows, as 0xRRGGBB.
    static uint32_t WindowPixel(int32_t x, int32_t y) {
        SDL_Surface* surface =
            SDL_GetWindowSurface(static_cast<SDL_Window*>(GetPlatform()->GetWindowHandle()));
        uint32_t value = 0;
        std::memcpy(&value,
                    static_cast<uint8_t*>(surface->pixels) + y * surface->pitch +
                        x * surface->format->BytesPerPixel,
                    surface->format->BytesPerPixel);
        uint8_t r, g, b;
        SDL_GetRGB(value, surface->format, &r, &g, &b);
        return (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
    }
    static uint32_t ImagePixel(int32_t x, int32_t y) {
        return static_cast<SoftwareSurface*>(GetEditorWindowImage())->ReadArgb(x, y) & 0xFFFFFF;
    }
    static LayoutRect View() {
        const Int2 origin = GetPlatform()->GetViewOrigin();
        const Int2 size = GetPlatform()->GetViewSize();
        return {origin.x, origin.y, origin.x + size.x, origin.y + size.y};
    }
};

FRESH_PROCESS_TEST_F(ViewFrame, ThePlayersViewLiesInsideATwoPixelEdgeExceptOnTheWholeMonitor) {
    folder.WriteFile("config.txt", "editor_windowsize = \"300,200\"\n"
                                   "loadscreen_color_bg = \"0xFFFF0000\"\n");
    ASSERT_TRUE(Start());
    EXPECT_EQ(View(), (LayoutRect{2, 2, 298, 198}));
    EXPECT_EQ(TheRenderDevice()->GetViewportSize(), Int2(296, 196));
    // The last load screen shows inside the edge.
    EXPECT_EQ((std::vector<uint32_t>{WindowPixel(0, 0), WindowPixel(1, 1), WindowPixel(2, 2),
                                     WindowPixel(297, 197), WindowPixel(298, 198),
                                     WindowPixel(299, 199)}),
              (std::vector<uint32_t>{ColorButtonShadow, ColorDarkShadow3D, 0xFF0000, 0xFF0000,
                                     ColorLight3D, ColorButtonHighlight}));

    Platform& platform = *GetPlatform();
    platform.SetWindowMode(WindowFullMonitor, WindowFullMonitor);
    static_cast<SdlPlatform*>(GetPlatform())->PumpMessages();
    Int2 client;
    SDL_GetWindowSize(static_cast<SDL_Window*>(platform.GetWindowHandle()), &client.x, &client.y);
    EXPECT_EQ(View(), (LayoutRect{0, 0, client.x, client.y}));
    EXPECT_EQ(TheRenderDevice()->GetViewportSize(), client);
    platform.SetWindowMode(WindowFullMonitor, 0);
    static_cast<SdlPlatform*>(GetPlatform())->PumpMessages();
    EXPECT_EQ(platform.GetViewOrigin(), Int2(2, 2));
}

FRESH_PROCESS_TEST_F(ViewFrame, ADraggedBarMovesThePanelTheComposedViewAndTheViewport) {
    folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"400,300\"\n");
    EngineSetup setup;
    setup.editor = true;
    ASSERT_TRUE(Start(setup));
    EditorPanel* panel = GetPlatform()->GetMainFramePanel()->CreateChildPanel(PanelLeft, 100);
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(FrameUpdate());
    // The toolbar's row lies above the frame, inside the client area.
    constexpr int32_t Top = ToolbarRowHeight;
    EXPECT_EQ(View(), (LayoutRect{104, Top + 2, 398, Top + 298}));
    // Under the edge and the bar the composed image shows the frame, not the scene.
    EXPECT_EQ(ImagePixel(102, 100), ColorButtonShadow);
    EXPECT_EQ(ImagePixel(100, 100), ColorButtonFace);

    // Pressed in one frame, dragged in the next, released in the third.
    Mouse(SDL_MOUSEBUTTONDOWN, 100, 150);
    ASSERT_TRUE(FrameUpdate());
    Mouse(SDL_MOUSEMOTION, 180, 150);
    ASSERT_TRUE(FrameUpdate());
    EXPECT_EQ(panel->GetSplitterPosition(), 100) << "the drawn bar moves alone";
    Mouse(SDL_MOUSEMOTION, 200, 150);
    Mouse(SDL_MOUSEBUTTONUP, 200, 150);
    ASSERT_TRUE(FrameUpdate());
    EXPECT_EQ(panel->GetSplitterPosition(), 200);
    EXPECT_EQ(panel->GetSize(), Int2(198, 300));
    EXPECT_EQ(View(), (LayoutRect{204, Top + 2, 398, Top + 298}));
    EXPECT_EQ(TheRenderDevice()->GetViewportSize(), Int2(194, 296));
    EXPECT_EQ(ImagePixel(202, 100), ColorButtonShadow);
    EXPECT_EQ(ImagePixel(200, 100), ColorButtonFace);

    // Within the snap distance of the margin (32 from the window's edge) it lands on it.
    Mouse(SDL_MOUSEBUTTONDOWN, 200, 150);
    Mouse(SDL_MOUSEMOTION, 40, 150);
    Mouse(SDL_MOUSEBUTTONUP, 40, 150);
    ASSERT_TRUE(FrameUpdate());
    EXPECT_EQ(panel->GetSplitterPosition(), 32);
    EXPECT_EQ(View().left, 36);

    // A drag held by the bar ends there even when released over a window of the UI.
    SetEditorWidgets([] {
        ImGui::SetNextWindowPos(ImVec2(250, 50));
        ImGui::SetNextWindowSize(ImVec2(120, 200));
        ImGui::Begin("over", nullptr, ImGuiWindowFlags_NoDecoration);
        ImGui::End();
    });
    ASSERT_TRUE(FrameUpdate());
    Mouse(SDL_MOUSEBUTTONDOWN, 32, 150);
    Mouse(SDL_MOUSEMOTION, 300, 150);
    // The captured moves pass the UI by; it learns of the pointer all the same (a window
    // system would tell it).
    GetEditorUi()->MouseMove(300, 150);
    ASSERT_TRUE(FrameUpdate());
    ASSERT_TRUE(GetEditorUi()->WantsMouse());
    Mouse(SDL_MOUSEBUTTONUP, 300, 150);
    EXPECT_EQ(panel->GetSplitterPosition(), 300);
    EXPECT_EQ(MainFrame::Get()->Captured(), nullptr);
    SetEditorWidgets(nullptr);
}

} // namespace
} // namespace quarn
