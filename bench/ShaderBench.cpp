// A 1024 x 768 textured quad that samples its texture and modulates it by the vertex colour,
// drawn three ways on one rasteriser thread each: through the engine's pixel program, through
// the engine's fixed-function stages, and through llvmpipe (OSMesa) with the equivalent GLSL
// fragment shader. The images are compared before any time is printed. The pixel program is
// written in the engine's shader assembly and assembled by its tool's assembler.

#include "bench/BenchTiming.h"
#include "bench/FrameCompare.h"
#include "bench/PeerProcess.h"
#include "core/io/ByteOrder.h"
#include "gpu/software/SoftwareDevice.h"
#include "gpu/software/SoftwareRasterizer.h"
#include "tools/ShaderAssembler.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/osmesa.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace quarn {
namespace {

constexpr uint32_t Width = 1024;
constexpr uint32_t Height = 768;
constexpr uint32_t TextureSize = 256;
// Pixel centres lie at integers in the engine and between them in OpenGL: the engine's quad
// starts half a pixel out, so both cover every pixel with the same coordinates.
constexpr float Half = 0.5f;

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

std::vector<uint32_t> TextureTexels() {
    std::vector<uint32_t> texels(TextureSize * TextureSize);
    for (uint32_t y = 0; y < TextureSize; ++y) {
        for (uint32_t x = 0; x < TextureSize; ++x) {
            const uint32_t alpha = ((x * 3 + y * 5) & 0xFF) | 0x20;
            texels[y * TextureSize + x] = alpha << 24 | x << 16 | y << 8 | ((x ^ y) & 0xFF);
        }
    }
    return texels;
}

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

// One series of rounds: its median and how far its slowest round lies above its fastest.
struct Timing {
    double ms = 0.0;
    double spread = 0.0;
};

Timing TimeRounds(const std::vector<double>& rounds) {
    return {rounds[bench::Rounds / 2], rounds.back() / rounds.front() - 1.0};
}

class EngineRenderer {
public:
    EngineRenderer() {
        GpuPresentParameters p;
        p.backBufferWidth = Width;
        p.backBufferHeight = Height;
        p.backBufferFormat = GpuFormat::A8R8G8B8;
        p.lockableBackBuffer = true;
        device_ = SoftwareDevice::Create(p);
        device_->SetRasterizer(std::make_unique<SoftwareRasterizer>(1));
        declaration_ = device_->CreateVertexDeclaration(ScreenVertexElements);
        device_->SetVertexDeclaration(declaration_.get());
        texture_ = device_->CreateTexture(TextureSize, TextureSize, 1, 0, GpuFormat::A8R8G8B8,
                                          GpuPool::Managed);
        GpuLockedRect locked;
        texture_->LockRect(0, GpuCubeFace::PositiveX, locked, nullptr, 0);
        const std::vector<uint32_t> texels = TextureTexels();
        for (uint32_t y = 0; y < TextureSize; ++y) {
            std::memcpy(static_cast<uint8_t*>(locked.bits) + y * static_cast<size_t>(locked.pitch),
                        &texels[y * TextureSize], TextureSize * 4);
        }
        texture_->UnlockRect(0, GpuCubeFace::PositiveX);
        device_->SetTexture(0, texture_.get());
        device_->SetRenderState(GpuRenderState::CullMode, static_cast<uint32_t>(GpuCull::None));
        for (GpuStageState op : {GpuStageState::ColorOp, GpuStageState::AlphaOp}) {
            device_->SetTextureStageState(0, op, static_cast<uint32_t>(GpuTextureOp::Modulate));
        }
        for (GpuStageState arg : {GpuStageState::ColorArg2, GpuStageState::AlphaArg2}) {
            device_->SetTextureStageState(0, arg, static_cast<uint32_t>(GpuTextureArg::Diffuse));
        }
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
        shader_ = device_->CreateShader(GpuShaderKind::Pixel, bytes, error);
        if (!shader_) {
            std::fprintf(stderr, "the pixel program does not load: %s\n", error.c_str());
            std::exit(1);
        }
    }

    void Setup(const Case& c, bool program) {
        const GpuFilter filter = c.linear ? GpuFilter::Linear : GpuFilter::Point;
        for (GpuSamplerState state : {GpuSamplerState::MagFilter, GpuSamplerState::MinFilter}) {
            device_->SetSamplerState(0, state, static_cast<uint32_t>(filter));
        }
        device_->SetPixelShader(program ? shader_.get() : nullptr);
        vertices_ = QuadVertices(c);
    }

    void Draw() {
        device_->Clear({}, GpuClearTarget, 0xFF000000, 1.0f, 0);
        device_->DrawPrimitiveUP(GpuPrimitiveType::TriangleList, 2, vertices_.data(),
                                 sizeof(ScreenVertex));
        // Locking the back buffer finishes whatever the device still has queued.
        GpuLockedRect locked;
        device_->GetBackBuffer()->LockRect(locked, nullptr, 0);
        device_->GetBackBuffer()->UnlockRect();
    }

    std::vector<uint32_t> Pixels() {
        Draw();
        std::vector<uint32_t> pixels(Width * Height);
        GpuSurface* back = device_->GetBackBuffer();
        GpuLockedRect locked;
        back->LockRect(locked, nullptr, 0);
        for (uint32_t y = 0; y < Height; ++y) {
            std::memcpy(&pixels[y * Width],
                        static_cast<uint8_t*>(locked.bits) + y * static_cast<size_t>(locked.pitch),
                        Width * 4);
        }
        back->UnlockRect();
        return pixels;
    }

private:
    std::unique_ptr<SoftwareDevice> device_;
    std::unique_ptr<GpuVertexDeclaration> declaration_;
    std::unique_ptr<GpuTexture> texture_;
    std::unique_ptr<GpuShader> shader_;
    std::vector<ScreenVertex> vertices_;
};

template <typename Function>
Function GlFunction(const char* name) {
    auto function = reinterpret_cast<Function>(OSMesaGetProcAddress(name));
    if (function == nullptr) {
        std::fprintf(stderr, "OSMesa has no %s\n", name);
        std::exit(1);
    }
    return function;
}

// The same quad through OpenGL's programmable pipeline: ortho projection with y downwards.
class PeerRenderer {
public:
    PeerRenderer() : pixels_(Width * Height) {
        context_ = OSMesaCreateContextExt(OSMESA_BGRA, 0, 0, 0, nullptr);
        if (context_ == nullptr ||
            !OSMesaMakeCurrent(context_, pixels_.data(), GL_UNSIGNED_BYTE, Width, Height)) {
            std::fprintf(stderr, "OSMesa context failed\n");
            std::exit(1);
        }
        OSMesaPixelStore(OSMESA_Y_UP, 0);
        glViewport(0, 0, Width, Height);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, Width, Height, 0, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glTranslatef(Half, Half, 0);
        const std::vector<uint32_t> texels = TextureTexels();
        GLuint texture = 0;
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, TextureSize, TextureSize, 0, GL_BGRA,
                     GL_UNSIGNED_BYTE, texels.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        UseProgram();
    }
    ~PeerRenderer() { OSMesaDestroyContext(context_); }

    void Setup(const Case& c) {
        const GLint filter = c.linear ? GL_LINEAR : GL_NEAREST;
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        vertices_ = QuadVertices(c);
        const ScreenVertex* v = vertices_.data();
        glVertexPointer(2, GL_FLOAT, sizeof(ScreenVertex), &v->x);
        glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, sizeof(ScreenVertex), &v->color);
        glTexCoordPointer(2, GL_FLOAT, sizeof(ScreenVertex), &v->u);
    }

    void Draw() {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(vertices_.size()));
        glFinish();
    }

    const std::vector<uint32_t>& Pixels() const { return pixels_; }

private:
    void UseProgram() {
        const auto createShader = GlFunction<PFNGLCREATESHADERPROC>("glCreateShader");
        const auto shaderSource = GlFunction<PFNGLSHADERSOURCEPROC>("glShaderSource");
        const auto compileShader = GlFunction<PFNGLCOMPILESHADERPROC>("glCompileShader");
        const auto getShader = GlFunction<PFNGLGETSHADERIVPROC>("glGetShaderiv");
        const auto createProgram = GlFunction<PFNGLCREATEPROGRAMPROC>("glCreateProgram");
        const auto attachShader = GlFunction<PFNGLATTACHSHADERPROC>("glAttachShader");
        const auto linkProgram = GlFunction<PFNGLLINKPROGRAMPROC>("glLinkProgram");
        const auto getProgram = GlFunction<PFNGLGETPROGRAMIVPROC>("glGetProgramiv");
        const auto useProgram = GlFunction<PFNGLUSEPROGRAMPROC>("glUseProgram");
        const auto uniformLocation =
            GlFunction<PFNGLGETUNIFORMLOCATIONPROC>("glGetUniformLocation");
        const auto uniform1i = GlFunction<PFNGLUNIFORM1IPROC>("glUniform1i");
        const GLuint program = createProgram();
        for (const auto& [type, source] : {std::pair{GL_VERTEX_SHADER, PeerVertexShader},
                                           std::pair{GL_FRAGMENT_SHADER, PeerFragmentShader}}) {
            const GLuint shader = createShader(type);
            shaderSource(shader, 1, &source, nullptr);
            compileShader(shader);
            GLint compiled = 0;
            getShader(shader, GL_COMPILE_STATUS, &compiled);
            if (!compiled) {
                std::fprintf(stderr, "the peer's shader does not compile\n");
                std::exit(1);
            }
            attachShader(program, shader);
        }
        linkProgram(program);
        GLint linked = 0;
        getProgram(program, GL_LINK_STATUS, &linked);
        if (!linked) {
            std::fprintf(stderr, "the peer's program does not link\n");
            std::exit(1);
        }
        useProgram(program);
        uniform1i(uniformLocation(program, "image"), 0);
    }

    std::vector<uint32_t> pixels_;
    std::vector<ScreenVertex> vertices_;
    OSMesaContext context_ = nullptr;
};

struct Measured {
    std::vector<double> rounds;
    std::vector<uint32_t> pixels;
};

// llvmpipe with one rasteriser thread, in a child process since it reads its thread count once.
std::vector<Measured> RunPeer() {
    bench::Bytes bytes = bench::RunInChild(1, [](bench::Bytes& out) {
        PeerRenderer peer;
        for (const Case& c : Cases) {
            peer.Setup(c);
            peer.Draw();
            out.Put(peer.Pixels().data(), peer.Pixels().size() * 4);
            for (double ms : bench::RoundMilliseconds([&] { peer.Draw(); })) {
                out.Put(ms);
            }
        }
    });
    std::vector<Measured> measured(std::size(Cases));
    for (Measured& m : measured) {
        m.pixels.resize(Width * Height);
        bytes.Take(m.pixels.data(), m.pixels.size() * 4);
        m.rounds.resize(bench::Rounds);
        for (double& ms : m.rounds) {
            bytes.Take(ms);
        }
    }
    return measured;
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
    const std::vector<Measured> peer = RunPeer();
    EngineRenderer engine;
    std::vector<Timing> fixed;
    std::vector<Timing> shaded;
    bool agree = true;
    for (size_t i = 0; i < std::size(Cases); ++i) {
        const Case& c = Cases[i];
        engine.Setup(c, false);
        const std::vector<uint32_t> fixedPixels = engine.Pixels();
        engine.Setup(c, true);
        const std::vector<uint32_t> shadedPixels = engine.Pixels();
        std::printf("%s\n", c.name);
        agree = Agree("  pixel program and fixed function", shadedPixels, fixedPixels) && agree;
        agree = Agree("  pixel program and llvmpipe", shadedPixels, peer[i].pixels) && agree;
        engine.Setup(c, false);
        fixed.push_back(TimeRounds(bench::RoundMilliseconds([&] { engine.Draw(); })));
        engine.Setup(c, true);
        shaded.push_back(TimeRounds(bench::RoundMilliseconds([&] { engine.Draw(); })));
    }
    if (!agree) {
        std::printf("FRAMES DISAGREE\n");
        return 1;
    }

    std::printf("\n%-32s %9s %9s %9s %13s %16s %7s\n", "Textured quad, 1 thread", "fixed ms",
                "shader ms", "llvm ms", "shader/fixed", "shader/llvmpipe", "spread");
    double logFixed = 0.0;
    double logPeer = 0.0;
    double worstFixed = 0.0;
    double worstPeer = 0.0;
    for (size_t i = 0; i < std::size(Cases); ++i) {
        const Timing p = TimeRounds(peer[i].rounds);
        const double overFixed = shaded[i].ms / fixed[i].ms;
        const double overPeer = shaded[i].ms / p.ms;
        const double spread = std::max({fixed[i].spread, shaded[i].spread, p.spread});
        std::printf("%-32s %9.2f %9.2f %9.2f %13.2f %16.2f %6.0f%%\n", Cases[i].name, fixed[i].ms,
                    shaded[i].ms, p.ms, overFixed, overPeer, spread * 100.0);
        logFixed += std::log(overFixed);
        logPeer += std::log(overPeer);
        worstFixed = std::max(worstFixed, overFixed);
        worstPeer = std::max(worstPeer, overPeer);
    }
    const double n = static_cast<double>(std::size(Cases));
    std::printf("%-32s %9s %9s %9s %13.2f %16.2f\n", "geometric mean", "", "", "",
                std::exp(logFixed / n), std::exp(logPeer / n));
    std::printf("%-32s %9s %9s %9s %13.2f %16.2f\n", "worst", "", "", "", worstFixed, worstPeer);
    std::printf("(spread: the slowest round over the fastest of a row's three series, less 1)\n");
    return 0;
}
