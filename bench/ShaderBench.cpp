// A 1024 x 768 textured quad that samples its texture and modulates it by the vertex colour,
// drawn three ways, on one rasteriser thread and on all of them: through the engine's pixel
// program, through the engine's fixed-function stages, and through llvmpipe (OSMesa) with the
// equivalent GLSL fragment shader, in a child process per thread count, the three taking turns
// round by round. The images are compared before any time is taken. The pixel program is
// written in the engine's shader assembly and assembled by its tool's assembler.

#include "bench/BenchTiming.h"
#include "bench/FrameCompare.h"
#include "bench/GlProgram.h"
#include "bench/PeerProcess.h"
#include "bench/TexturedFrames.h"
#include "core/io/ByteOrder.h"
#include "gpu/software/RenderThreads.h"
#include "tools/ShaderAssembler.h"

#include <GL/glext.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

namespace quarn {
namespace {

using bench::Half;
using bench::Height;
using bench::Width;

constexpr const char* PixelProgram = "ps_2_0\n"
                                     "dcl t0.xy\n"
                                     "dcl v0\n"
                                     "dcl_2d s0\n"
                                     "texld r0, t0, s0\n"
                                     "mul r0, r0, v0\n"
                                     "mov oC0, r0\n";

constexpr const char* PeerVertexShader = "void main() {\n"
                                         "    gl_Position = ftransform();\n"
                                         "    gl_FrontColor = gl_Color;\n"
                                         "    gl_TexCoord[0] = gl_MultiTexCoord0;\n"
                                         "}\n";
constexpr const char* PeerFragmentShader =
    "uniform sampler2D image;\n"
    "void main() {\n"
    "    gl_FragColor = texture2D(image, gl_TexCoord[0].xy) * gl_Color;\n"
    "}\n";

struct Case {
    const char* name;
    bool linear;
    float repeat; // texture widths across the screen
};

constexpr Case Cases[] = {
    {"bilinear, magnified 1.6 times", true, 2.5f},
    {"bilinear, one texel a pixel", true, 4.0f},
    {"point, magnified 1.6 times", false, 2.5f},
};

// Two triangles over the whole screen, tinted by a gradient.
std::vector<ScreenVertex> QuadVertices(const Case& c) {
    const float u = c.repeat;
    const float v = c.repeat * Height / Width;
    const float x1 = Width - Half;
    const float y1 = Height - Half;
    const ScreenVertex a{-Half, -Half, 0.5f, 1, 0xFFFFFFFF, 0, 0};
    const ScreenVertex b{x1, -Half, 0.5f, 1, 0xC0FF8040, u, 0};
    const ScreenVertex d{x1, y1, 0.5f, 1, 0x8040FF80, u, v};
    const ScreenVertex e{-Half, y1, 0.5f, 1, 0xE08080FF, 0, v};
    return {a, b, d, a, d, e};
}

class EngineRenderer {
public:
    explicit EngineRenderer(uint32_t threads) : frame_(threads) {
        AssembledShaders assembled;
        std::string error;
        if (!AssembleShaders(PixelProgram, assembled, error)) {
            std::fprintf(stderr, "the pixel program does not assemble: %s\n", error.c_str());
            std::exit(1);
        }
        std::vector<uint8_t> bytes(assembled.pixel.size() * 4);
        for (size_t i = 0; i < assembled.pixel.size(); ++i) {
            WriteLittleEndian32(bytes.data() + i * 4, assembled.pixel[i]);
        }
        shader_ = frame_.Device().CreateShader(GpuShaderKind::Pixel, bytes, error);
        if (!shader_) {
            std::fprintf(stderr, "the pixel program does not load: %s\n", error.c_str());
            std::exit(1);
        }
    }

    void Setup(const Case& c, bool program) {
        SoftwareDevice& device = frame_.Device();
        const GpuFilter filter = c.linear ? GpuFilter::Linear : GpuFilter::Point;
        for (GpuSamplerState state : {GpuSamplerState::MagFilter, GpuSamplerState::MinFilter}) {
            device.SetSamplerState(0, state, static_cast<uint32_t>(filter));
        }
        device.SetPixelShader(program ? shader_.get() : nullptr);
        vertices_ = QuadVertices(c);
    }

    void Draw() {
        frame_.Draw(vertices_, 0xFF000000);
        frame_.Finish();
    }

    std::vector<uint32_t> Pixels() {
        Draw();
        return frame_.ReadBack();
    }

private:
    bench::EngineFrame frame_;
    std::unique_ptr<GpuShader> shader_;
    std::vector<ScreenVertex> vertices_;
};

// The same quad through OpenGL's programmable pipeline.
class PeerRenderer {
public:
    PeerRenderer() { UseProgram(); }

    void Setup(const Case& c) {
        const GLint filter = c.linear ? GL_LINEAR : GL_NEAREST;
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        vertices_ = QuadVertices(c);
        bench::PeerFrame::UseVertices(vertices_);
    }

    void Draw() { frame_.Draw(static_cast<GLsizei>(vertices_.size()), 0xFF000000); }

    const std::vector<uint32_t>& Pixels() const { return frame_.Pixels(); }

private:
    void UseProgram() {
        const GLuint program = bench::UseNewProgram(PeerVertexShader, PeerFragmentShader);
        const auto uniformLocation =
            bench::GlFunction<PFNGLGETUNIFORMLOCATIONPROC>("glGetUniformLocation");
        const auto uniform1i = bench::GlFunction<PFNGLUNIFORM1IPROC>("glUniform1i");
        uniform1i(uniformLocation(program, "image"), 0);
    }

    bench::PeerFrame frame_;
    std::vector<ScreenVertex> vertices_;
};

// llvmpipe on `threads` threads in a child process: every case's frame first, then rounds of
// any case.
bench::PeerRounds StartPeer(uint32_t threads) {
    return bench::PeerRounds(threads, [](bench::PeerLink& link) {
        PeerRenderer peer;
        for (const Case& c : Cases) {
            peer.Setup(c);
            peer.Draw();
            link.Out().Put(peer.Pixels().data(), peer.Pixels().size() * 4);
        }
        link.Serve([&](uint32_t job) {
            peer.Setup(Cases[job]);
            auto draw = [&] { peer.Draw(); };
            draw();
            return bench::RoundOf(draw, 0.25);
        });
    });
}

bool Agree(const char* what, const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    const bench::Difference d = bench::Compare(a, b);
    std::printf("%s: differ by at most %u per channel", what, d.largest);
    if (d.largest > 0) {
        std::printf(" (at %zu, %zu: %08X against %08X)", d.pixel % Width, d.pixel / Width,
                    a[d.pixel], b[d.pixel]);
    }
    std::printf(", by more than %u in %.4f%% of channels\n", bench::Tolerance,
                d.BeyondShare(a.size()) * 100.0);
    return d.IsRounding(a.size());
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
    EngineRenderer engine1(1);
    EngineRenderer engineAll(engineThreads);
    bool agree = true;
    for (const Case& c : Cases) {
        std::vector<uint32_t> peerPixels(Width * Height);
        peer1.Setup().Take(peerPixels.data(), peerPixels.size() * 4);
        engine1.Setup(c, false);
        const std::vector<uint32_t> fixedPixels = engine1.Pixels();
        engine1.Setup(c, true);
        const std::vector<uint32_t> shadedPixels = engine1.Pixels();
        engineAll.Setup(c, true);
        const bool identical = shadedPixels == engineAll.Pixels();
        std::printf("%s\n", c.name);
        agree = Agree("  pixel program and fixed function", shadedPixels, fixedPixels) && agree;
        agree = Agree("  pixel program and llvmpipe", shadedPixels, peerPixels) && agree;
        std::printf("  pixel program on 1 and %u threads: %s\n", engineThreads,
                    identical ? "byte-identical" : "DIFFERENT");
        agree = agree && identical;
    }
    if (!agree) {
        std::printf("FRAMES DISAGREE\n");
        return 1;
    }

    const std::string allText =
        std::to_string(engineThreads) + " / " + std::to_string(peerThreads) + " threads";
    std::printf("\n%-46s %9s %9s %9s %13s %16s %7s\n", "Textured quad", "fixed ms", "shader ms",
                "llvm ms", "shader/fixed", "shader/llvmpipe", "spread");
    double logFixed = 0.0;
    double logPeer = 0.0;
    double worstFixed = 0.0;
    double worstPeer = 0.0;
    int rows = 0;
    for (const auto& [threads, engine, peer] :
         {std::tuple{std::string("1 thread"), &engine1, &peer1},
          std::tuple{allText, &engineAll, &peerAll}}) {
        for (uint32_t i = 0; i < std::size(Cases); ++i) {
            // The three in turns, so that a busy spell of the machine falls on all of them.
            std::vector<double> fixedRounds;
            std::vector<double> shadedRounds;
            std::vector<double> peerRounds;
            for (int r = 0; r < bench::Rounds; ++r) {
                for (bool program : {false, true}) {
                    engine->Setup(Cases[i], program);
                    auto draw = [&] { engine->Draw(); };
                    draw();
                    (program ? shadedRounds : fixedRounds).push_back(bench::RoundOf(draw, 0.25));
                }
                peerRounds.push_back(peer->Round(i));
            }
            for (std::vector<double>* series : {&fixedRounds, &shadedRounds, &peerRounds}) {
                std::sort(series->begin(), series->end());
            }
            const bench::Timing fixed = bench::Summarise(fixedRounds);
            const bench::Timing shaded = bench::Summarise(shadedRounds);
            const bench::Timing p = bench::Summarise(peerRounds);
            const double overFixed = shaded.median / fixed.median;
            const double overPeer = shaded.median / p.median;
            double spread = 0.0;
            for (const bench::Timing& t : {fixed, shaded, p}) {
                spread = std::max(spread, t.max / t.min - 1.0);
            }
            const std::string name = std::string(Cases[i].name) + ", " + threads;
            std::printf("%-46s %9.2f %9.2f %9.2f %13.2f %16.2f %6.0f%%\n", name.c_str(),
                        fixed.median, shaded.median, p.median, overFixed, overPeer, spread * 100.0);
            logFixed += std::log(overFixed);
            logPeer += std::log(overPeer);
            worstFixed = std::max(worstFixed, overFixed);
            worstPeer = std::max(worstPeer, overPeer);
            ++rows;
        }
    }
    const double n = static_cast<double>(rows);
    std::printf("%-46s %9s %9s %9s %13.2f %16.2f\n", "geometric mean", "", "", "",
                std::exp(logFixed / n), std::exp(logPeer / n));
    std::printf("%-46s %9s %9s %9s %13.2f %16.2f\n", "worst", "", "", "", worstFixed, worstPeer);
    std::printf(
        "(threads: engine / llvmpipe, from QUARN_RENDER_THREADS and LP_NUM_THREADS; spread: "
        "the slowest round over the fastest of a row's three series, less 1)\n");
    return 0;
}
