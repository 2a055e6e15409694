// A glow chain of four full-screen post-process passes at 1024 x 768 (BLUR_HORIZONTAL from the
// back buffer, BLUR_VERTICAL, HIGHPASS, GLOW back onto it), run by the engine's render target
// on its software device with the built-in texop programs, against the same copy and four
// passes on llvmpipe (OSMesa) with equivalent GLSL fragment shaders, on one rasteriser thread
// and on all of them, engine and llvmpipe taking turns round by round. The images are compared
// before any time is taken.

#include "bench/BenchTiming.h"
#include "bench/EngineScene.h"
#include "bench/FrameCompare.h"
#include "bench/GlProgram.h"
#include "bench/PeerProcess.h"
#include "bench/TexturedFrames.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/scene/SceneClasses.h"
#include "device/GpuRenderDevice.h"
#include "gpu/software/RenderThreads.h"
#include "render/Camera.h"
#include "render/PostProcess.h"
#include "render/RenderTarget.h"
#include "resources/Texture.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace quarn {
namespace {

using bench::Height;
using bench::Width;

constexpr float HighPass = 0.3f;
constexpr float Glow = 1.0f;

uint32_t Pattern(uint32_t x, uint32_t y) {
    return 0xFF000000u | ((x * 7 + y) & 0xFF) << 16 | ((y * 5 + x / 3) & 0xFF) << 8 |
           (((x + y) * 3) & 0xFF);
}

// The engine as a game runs it: a render target drawing the chain's nodes.
class EngineChain {
public:
    EngineChain() : device_(bench::MakeSceneDevice(Width, Height)) {
        Software().SetRasterizer(std::make_unique<SoftwareRasterizer>(1));
        SetFileSystem(&files_);
        RegisterSceneClasses();
        Texture::RegisterClass();
        root_ = bench::MakeNode<Node>(nullptr);
        root_->SetIdSystem(0);
        TheIdMap().SetSceneRoot(0, root_);
        auto* camera = bench::MakeNode<Camera>(root_);
        auto* target = bench::MakeNode<RenderTarget>(root_);
        target->SetCameraId({camera->GetId()});
        Step(PostProcessOp::BlurHorizontal, PostProcessImage::BackBuffer, PostProcessImage::Result,
             1.0f);
        Step(PostProcessOp::BlurVertical, PostProcessImage::Result, PostProcessImage::Result, 1.0f);
        Step(PostProcessOp::HighPass, PostProcessImage::Result, PostProcessImage::Result, HighPass);
        Step(PostProcessOp::Glow, PostProcessImage::Result, PostProcessImage::BackBuffer, Glow);
    }
    ~EngineChain() {
        root_->Delete();
        ReleasePostProcessTextures();
        SetFileSystem(nullptr);
    }

    std::vector<uint32_t> FromPattern() {
        auto* back = static_cast<SoftwareSurface*>(Software().GetBackBuffer());
        for (uint32_t y = 0; y < Height; ++y) {
            for (uint32_t x = 0; x < Width; ++x) {
                back->WriteArgb(x, y, Pattern(x, y));
            }
        }
        Run();
        std::vector<uint32_t> pixels;
        for (uint32_t y = 0; y < Height; ++y) {
            for (uint32_t x = 0; x < Width; ++x) {
                pixels.push_back(back->ReadArgb(x, y));
            }
        }
        return pixels;
    }

    // Draws on `threads` rasteriser threads from now on.
    void UseThreads(uint32_t threads) {
        Software().SetRasterizer(std::make_unique<SoftwareRasterizer>(threads));
    }

    // The copy and the four passes, finished.
    void Run() {
        device_->BeginScene();
        UpdateNodeTree(root_);
        device_->EndScene();
        GpuLockedRect locked;
        Software().GetBackBuffer()->LockRect(locked, nullptr, 0);
        Software().GetBackBuffer()->UnlockRect();
    }

private:
    SoftwareDevice& Software() { return *static_cast<SoftwareDevice*>(device_->Gpu()); }

    void Step(PostProcessOp op, PostProcessImage source, PostProcessImage target, float value) {
        auto* node = bench::MakeNode<PostProcess>(root_);
        node->SetRenderType(Render2D);
        node->SetTexOp(static_cast<uint32_t>(op));
        node->SetSource(static_cast<uint32_t>(source));
        node->SetTarget(static_cast<uint32_t>(target));
        node->SetShaderProperty(value);
    }

    DiskFileSystem files_;
    std::unique_ptr<GpuRenderDevice> device_;
    Node* root_ = nullptr;
};

// Each pass reads its source at its own pixel, so every image keeps the frame's orientation.
constexpr const char* PeerVertexShader = "void main() { gl_Position = ftransform(); }\n";
constexpr const char* PeerBlur =
    "uniform sampler2D source;\n"
    "uniform vec2 texel;\n"
    "uniform vec2 step;\n"
    "void main() {\n"
    "    vec2 uv = gl_FragCoord.xy * texel;\n"
    "    vec2 d = step * texel;\n"
    "    vec4 c = texture2D(source, uv);\n"
    "    vec3 s = c.rgb * 0.375 + (texture2D(source, uv - 2.0 * d).rgb +\n"
    "                              texture2D(source, uv + 2.0 * d).rgb) * 0.0625 +\n"
    "             (texture2D(source, uv - d).rgb + texture2D(source, uv + d).rgb) * 0.25;\n"
    "    gl_FragColor = vec4(s, c.a);\n"
    "}\n";
constexpr const char* PeerHighPass =
    "uniform sampler2D source;\n"
    "uniform vec2 texel;\n"
    "uniform float value;\n"
    "void main() {\n"
    "    vec4 c = texture2D(source, gl_FragCoord.xy * texel);\n"
    "    gl_FragColor = vec4(clamp(c.rgb - value, 0.0, 1.0), c.a);\n"
    "}\n";
constexpr const char* PeerGlow =
    "uniform sampler2D source;\n"
    "uniform sampler2D extra;\n"
    "uniform vec2 texel;\n"
    "uniform float value;\n"
    "void main() {\n"
    "    vec4 c = texture2D(source, gl_FragCoord.xy * texel);\n"
    "    vec4 t = texture2D(extra, gl_FragCoord.xy * texel);\n"
    "    gl_FragColor = vec4(clamp(c.rgb + t.rgb * value, 0.0, 1.0), c.a);\n"
    "}\n";

// The same chain through OpenGL: the frame copied into a texture, then four passes through two
// framebuffer textures, the last onto the frame.
class PeerChain {
public:
    PeerChain() {
        bindFramebuffer_ = bench::GlFunction<PFNGLBINDFRAMEBUFFERPROC>("glBindFramebuffer");
        useProgram_ = bench::GlFunction<PFNGLUSEPROGRAMPROC>("glUseProgram");
        activeTexture_ = bench::GlFunction<PFNGLACTIVETEXTUREPROC>("glActiveTexture");
        const auto genFramebuffers = bench::GlFunction<PFNGLGENFRAMEBUFFERSPROC>("glGenFramebuffers");
        const auto framebufferTexture =
            bench::GlFunction<PFNGLFRAMEBUFFERTEXTURE2DPROC>("glFramebufferTexture2D");
        for (GLuint& texture : textures_) {
            texture = MakeTexture(Width, Height, nullptr);
        }
        const uint32_t black = 0xFF000000u;
        black_ = MakeTexture(1, 1, &black);
        genFramebuffers(2, framebuffers_);
        for (int i = 0; i < 2; ++i) {
            bindFramebuffer_(GL_FRAMEBUFFER, framebuffers_[i]);
            framebufferTexture(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                               textures_[i + 1], 0);
        }
        bindFramebuffer_(GL_FRAMEBUFFER, 0);
        blurH_ = Program(PeerBlur, 1.0f, 0.0f, 0.0f);
        blurV_ = Program(PeerBlur, 0.0f, 1.0f, 0.0f);
        highPass_ = Program(PeerHighPass, 0.0f, 0.0f, HighPass);
        glow_ = Program(PeerGlow, 0.0f, 0.0f, Glow);
        std::vector<uint32_t> texels;
        for (uint32_t y = 0; y < Height; ++y) {
            for (uint32_t x = 0; x < Width; ++x) {
                texels.push_back(Pattern(x, y));
            }
        }
        pattern_ = MakeTexture(Width, Height, texels.data());
        const float w = Width - bench::Half;
        const float h = Height - bench::Half;
        quad_ = {{-bench::Half, -bench::Half, 0, 1, 0xFFFFFFFF, 0, 0},
                 {w, -bench::Half, 0, 1, 0xFFFFFFFF, 1, 0},
                 {w, h, 0, 1, 0xFFFFFFFF, 1, 1},
                 {-bench::Half, -bench::Half, 0, 1, 0xFFFFFFFF, 0, 0},
                 {w, h, 0, 1, 0xFFFFFFFF, 1, 1},
                 {-bench::Half, h, 0, 1, 0xFFFFFFFF, 0, 1}};
        bench::PeerFrame::UseVertices(quad_);
    }

    std::vector<uint32_t> FromPattern() {
        useProgram_(0);
        Bind(0, pattern_);
        glEnable(GL_TEXTURE_2D);
        frame_.Draw(6, 0xFF000000);
        Run();
        return frame_.Pixels();
    }

    void Run() {
        Bind(0, textures_[0]);
        glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, Width, Height);
        Pass(blurH_, textures_[0], framebuffers_[0]);
        Pass(blurV_, textures_[1], framebuffers_[1]);
        Pass(highPass_, textures_[2], framebuffers_[0]);
        Bind(1, black_);
        Pass(glow_, textures_[1], 0);
        glFinish();
    }

private:
    GLuint MakeTexture(uint32_t width, uint32_t height, const uint32_t* texels) {
        GLuint texture = 0;
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, static_cast<GLsizei>(width),
                     static_cast<GLsizei>(height), 0, GL_BGRA, GL_UNSIGNED_BYTE, texels);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        return texture;
    }
    void Bind(GLenum unit, GLuint texture) {
        activeTexture_(GL_TEXTURE0 + unit);
        glBindTexture(GL_TEXTURE_2D, texture);
        activeTexture_(GL_TEXTURE0);
    }
    void Pass(GLuint program, GLuint source, GLuint framebuffer) {
        bindFramebuffer_(GL_FRAMEBUFFER, framebuffer);
        useProgram_(program);
        Bind(0, source);
        glDrawArrays(GL_TRIANGLES, 0, 6);
    }
    GLuint Program(const char* fragment, float dx, float dy, float value) {
        const auto location =
            bench::GlFunction<PFNGLGETUNIFORMLOCATIONPROC>("glGetUniformLocation");
        const auto uniform1i = bench::GlFunction<PFNGLUNIFORM1IPROC>("glUniform1i");
        const auto uniform1f = bench::GlFunction<PFNGLUNIFORM1FPROC>("glUniform1f");
        const auto uniform2f = bench::GlFunction<PFNGLUNIFORM2FPROC>("glUniform2f");
        const GLuint program = bench::UseNewProgram(PeerVertexShader, fragment);
        uniform1i(location(program, "source"), 0);
        uniform1i(location(program, "extra"), 1);
        uniform2f(location(program, "texel"), 1.0f / Width, 1.0f / Height);
        uniform2f(location(program, "step"), dx, dy);
        uniform1f(location(program, "value"), value);
        return program;
    }

    bench::PeerFrame frame_;
    PFNGLBINDFRAMEBUFFERPROC bindFramebuffer_ = nullptr;
    PFNGLUSEPROGRAMPROC useProgram_ = nullptr;
    PFNGLACTIVETEXTUREPROC activeTexture_ = nullptr;
    GLuint textures_[3] = {};
    GLuint framebuffers_[2] = {};
    GLuint black_ = 0;
    GLuint pattern_ = 0;
    GLuint blurH_ = 0;
    GLuint blurV_ = 0;
    GLuint highPass_ = 0;
    GLuint glow_ = 0;
    std::vector<ScreenVertex> quad_;
};

// The frames without their two outer rows and columns, where the blur's taps leave the image
// and each side fills them its own way.
std::vector<uint32_t> Inner(const std::vector<uint32_t>& pixels) {
    std::vector<uint32_t> inner;
    for (uint32_t y = 2; y + 2 < Height; ++y) {
        for (uint32_t x = 2; x + 2 < Width; ++x) {
            inner.push_back(pixels[y * Width + x]);
        }
    }
    return inner;
}

// llvmpipe on `threads` threads in a child process: the chain's frame first, then rounds.
bench::PeerRounds StartPeer(uint32_t threads) {
    return bench::PeerRounds(threads, [](bench::PeerLink& link) {
        PeerChain peer;
        const std::vector<uint32_t> pixels = peer.FromPattern();
        link.Out().Put(pixels.data(), pixels.size() * 4);
        link.Serve([&](uint32_t) {
            auto run = [&] { peer.Run(); };
            run();
            return bench::RoundOf(run, 0.25);
        });
    });
}

} // namespace
} // namespace quarn

int main() {
    using namespace quarn;
    const uint32_t engineThreads = RenderThreadCount();
    const uint32_t peerThreads = bench::PeerThreadCount();
    // The peers first, before this process starts threads of its own.
    bench::PeerRounds peer1 = StartPeer(1);
    bench::PeerRounds peerAll = StartPeer(peerThreads);
    std::vector<uint32_t> peerPixels(Width * Height);
    peer1.Setup().Take(peerPixels.data(), peerPixels.size() * 4);
    EngineChain engine;
    engine.UseThreads(1);
    const std::vector<uint32_t> a = Inner(engine.FromPattern());
    const std::vector<uint32_t> b = Inner(peerPixels);
    const bench::Difference d = bench::Compare(a, b);
    std::printf("glow chain: engine and llvmpipe differ by at most %u per channel, by more than "
                "%u in %.4f%% of channels\n",
                d.largest, bench::Tolerance, d.BeyondShare(a.size()) * 100.0);
    engine.UseThreads(engineThreads);
    const bool identical = a == Inner(engine.FromPattern());
    std::printf("glow chain: the engine's frames on 1 and %u threads are %s\n", engineThreads,
                identical ? "byte-identical" : "DIFFERENT");
    if (!d.IsRounding(a.size()) || !identical) {
        std::printf("FRAMES DISAGREE (%08X against %08X)\n", a[d.pixel], b[d.pixel]);
        return 1;
    }
    bench::RatioTable table("Glow chain 1024 x 768", "llvm ms");
    const std::string allText =
        ", " + std::to_string(engineThreads) + " / " + std::to_string(peerThreads) + " threads";
    for (const auto& [threads, suffix, peer] : {std::tuple{1u, std::string(", 1 thread"), &peer1},
                                                std::tuple{engineThreads, allText, &peerAll}}) {
        engine.UseThreads(threads);
        const bench::SideBySide t =
            bench::TimeTurns([&] { engine.Run(); }, [&] { return peer->Round(0); });
        table.Row("copy + 4 passes" + suffix, t.engine, t.peer);
    }
    table.PrintSummary();
    std::printf("(threads: engine / llvmpipe, from QUARN_RENDER_THREADS and LP_NUM_THREADS)\n");
    return 0;
}
