// The editor's UI pass at 1024 x 768: a frame of the UI library (a menu bar, a toolbar row and
// two windows of 300 text rows) built and drawn by the engine's UI layer on its software device,
// against the same frame built by the same library and its draw lists drawn by llvmpipe
// (OSMesa) with plain OpenGL calls, both on one rasteriser thread. The images are compared
// before any time is printed.

#include "bench/BenchTiming.h"
#include "bench/FrameCompare.h"
#include "bench/PeerProcess.h"
#include "bench/TexturedFrames.h"
#include "editor/UiLayer.h"

#include <cstdio>
#include <imgui.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

using bench::Height;
using bench::Width;

constexpr uint32_t Background = 0xFF203040;
constexpr float Step = 1.0f / 60.0f;
// Frames built before the one compared, so that windows have settled.
constexpr int SettleFrames = 3;

// The frame: what an editor with a scene tree and a property list shows.
void EditorWidgets() {
    if (ImGui::BeginMainMenuBar()) {
        for (const char* menu :
             {"File", "Edit", "View", "Game", "Functions", "GameObject", "Help"}) {
            if (ImGui::BeginMenu(menu)) {
                ImGui::EndMenu();
            }
        }
        ImGui::EndMainMenuBar();
    }
    ImGui::SetNextWindowPos(ImVec2(0, static_cast<float>(UiMenuBarHeight)));
    ImGui::SetNextWindowSize(ImVec2(static_cast<float>(Width), 28));
    ImGui::Begin("toolbar", nullptr, ImGuiWindowFlags_NoDecoration);
    for (int button = 0; button < 16; ++button) {
        if (button > 0) {
            ImGui::SameLine();
        }
        ImGui::Button(("Tool " + std::to_string(button)).c_str());
    }
    ImGui::End();
    const float top = static_cast<float>(UiMenuBarHeight) + 28;
    for (int window = 0; window < 2; ++window) {
        ImGui::SetNextWindowPos(ImVec2(window * Width / 2.0f, top));
        ImGui::SetNextWindowSize(ImVec2(Width / 2.0f, Height - top));
        ImGui::Begin(window == 0 ? "Scene tree" : "Properties");
        for (int row = 0; row < 300; ++row) {
            ImGui::Text("node %d: Sprite \"sprite_%d\" at %d, %d, %d", row, row, row * 3,
                        row * 7 % 100, -row);
        }
        ImGui::End();
    }
}

// The engine: the layer's whole pass, from its frame's start until the pixels are done.
class EngineUi {
public:
    EngineUi() : frame_(1), layer_(frame_.Device()) {}

    std::vector<uint32_t> Settled() {
        for (int frame = 0; frame <= SettleFrames; ++frame) {
            Run();
        }
        return frame_.ReadBack();
    }

    void Run() {
        SoftwareDevice& device = frame_.Device();
        device.BeginScene();
        device.Clear({}, GpuClearTarget, Background, 1.0f, 0);
        layer_.BeginFrame(Width, Height, Step);
        EditorWidgets();
        layer_.EndFrame();
        device.EndScene();
        frame_.Finish();
    }

private:
    bench::EngineFrame frame_;
    UiLayer layer_;
};

// The peer: the same library's frame, its draw lists drawn by OpenGL as the library's own
// renderers do (pixel centres at halves, one scissor rectangle per command).
class PeerUi {
public:
    PeerUi() {
        context_ = ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.LogFilename = nullptr;
        io.Fonts->AddFontDefault();
        unsigned char* pixels = nullptr;
        int width = 0;
        int height = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
        glGenTextures(1, &font_);
        glBindTexture(GL_TEXTURE_2D, font_);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     pixels);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        glEnable(GL_TEXTURE_2D);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glEnable(GL_SCISSOR_TEST);
        // The library's coordinates as they stand: no half-pixel shift.
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    }
    ~PeerUi() { ImGui::DestroyContext(context_); }
    PeerUi(const PeerUi&) = delete;
    PeerUi& operator=(const PeerUi&) = delete;

    std::vector<uint32_t> Settled() {
        for (int frame = 0; frame <= SettleFrames; ++frame) {
            Run();
        }
        return frame_.Pixels();
    }

    void Run() {
        ImGuiIO& io = ImGui::GetIO();
        io.DisplaySize = ImVec2(static_cast<float>(Width), static_cast<float>(Height));
        io.DeltaTime = Step;
        ImGui::NewFrame();
        EditorWidgets();
        ImGui::Render();
        glDisable(GL_SCISSOR_TEST);
        glClearColor(((Background >> 16) & 0xFF) / 255.0f, ((Background >> 8) & 0xFF) / 255.0f,
                     (Background & 0xFF) / 255.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glEnable(GL_SCISSOR_TEST);
        const ImDrawData& data = *ImGui::GetDrawData();
        for (int list = 0; list < data.CmdListsCount; ++list) {
            const ImDrawList& drawList = *data.CmdLists[list];
            for (const ImDrawCmd& command : drawList.CmdBuffer) {
                if (command.UserCallback || command.ElemCount == 0) {
                    continue;
                }
                const ImDrawVert* v = drawList.VtxBuffer.Data + command.VtxOffset;
                glVertexPointer(2, GL_FLOAT, sizeof(ImDrawVert), &v->pos);
                glTexCoordPointer(2, GL_FLOAT, sizeof(ImDrawVert), &v->uv);
                glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(ImDrawVert), &v->col);
                // Window rows count upwards from the bottom.
                const ImVec4& clip = command.ClipRect;
                glScissor(static_cast<GLint>(clip.x), static_cast<GLint>(Height - clip.w),
                          static_cast<GLsizei>(clip.z - clip.x),
                          static_cast<GLsizei>(clip.w - clip.y));
                glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(command.ElemCount),
                               GL_UNSIGNED_SHORT, drawList.IdxBuffer.Data + command.IdxOffset);
            }
        }
        glFinish();
    }

private:
    bench::PeerFrame frame_;
    ImGuiContext* context_ = nullptr;
    GLuint font_ = 0;
};

} // namespace
} // namespace quarn

int main() {
    using namespace quarn;
    const bench::PeerFrameTimes peer = bench::MeasurePeerFrame<PeerUi>(
        Width * Height, [](PeerUi& peer) { return peer.Settled(); });
    EngineUi engine;
    const std::vector<uint32_t> a = engine.Settled();
    const bench::Difference d = bench::Compare(a, peer.pixels);
    std::printf("editor UI frame: engine and llvmpipe differ by at most %u per channel, by more "
                "than %u in %.4f%% of channels\n",
                d.largest, bench::Tolerance, d.BeyondShare(a.size()) * 100.0);
    if (!d.IsRounding(a.size())) {
        std::printf("FRAMES DISAGREE at (%zu, %zu): %08X against %08X\n", d.pixel % Width,
                    d.pixel / Width, a[d.pixel], peer.pixels[d.pixel]);
        return 1;
    }
    const bench::Timing timing = bench::TimeRounds([&] { engine.Run(); });
    bench::RatioTable table("Editor UI pass 1024 x 768, 1 thread", "llvm ms");
    table.Row("menu bar, toolbar, 2 x 300 text rows", timing, bench::Summarise(peer.rounds));
    return 0;
}
