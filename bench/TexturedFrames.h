#pragma once

// What the rasteriser benchmarks share: 1024 x 768 frames of quads textured from one 256 x 256
// image with varied alpha, drawn by the engine's software device (texture times vertex colour)
// and by an OSMesa context set up for the same coordinates.

#include "gpu/software/SoftwareDevice.h"
#include "gpu/software/SoftwareRasterizer.h"

#include <GL/gl.h>
#include <GL/osmesa.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace quarn::bench {

constexpr uint32_t Width = 1024;
constexpr uint32_t Height = 768;
constexpr uint32_t TextureSize = 256;
// The engine's pixel centres are at integers and OpenGL's between them; offsetting by half a
// pixel puts texel centres on pixel centres, as a game does, and keeps every edge between two
// pixel centres.
constexpr float Half = 0.5f;

inline std::vector<uint32_t> TextureTexels() {
    std::vector<uint32_t> texels(TextureSize * TextureSize);
    for (uint32_t y = 0; y < TextureSize; ++y) {
        for (uint32_t x = 0; x < TextureSize; ++x) {
            const uint32_t alpha = ((x * 3 + y * 5) & 0xFF) | 0x20;
            texels[y * TextureSize + x] = alpha << 24 | x << 16 | y << 8 | ((x ^ y) & 0xFF);
        }
    }
    return texels;
}

// The engine's device on `threads` rasteriser threads (slicing draws as `sliceVertices` says),
// the texture bound to stage 0 and modulated by the diffuse colour, alpha included; no culling.
class EngineFrame {
public:
    explicit EngineFrame(uint32_t threads,
                         uint32_t sliceVertices = SoftwareRasterizer::MaxSliceVertices) {
        GpuPresentParameters p;
        p.backBufferWidth = Width;
        p.backBufferHeight = Height;
        p.backBufferFormat = GpuFormat::A8R8G8B8;
        p.lockableBackBuffer = true;
        device_ = SoftwareDevice::Create(p);
        device_->SetRasterizer(std::make_unique<SoftwareRasterizer>(threads, sliceVertices));
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
    }

    SoftwareDevice& Device() { return *device_; }

    void Draw(const std::vector<ScreenVertex>& vertices, uint32_t clearColor) {
        device_->Clear({}, GpuClearTarget, clearColor, 1.0f, 0);
        device_->DrawPrimitiveUP(GpuPrimitiveType::TriangleList,
                                 static_cast<uint32_t>(vertices.size() / 3), vertices.data(),
                                 sizeof(ScreenVertex));
    }

    // A frame ends when its pixels are done: locking the back buffer finishes whatever the
    // device still has queued.
    void Finish() {
        GpuLockedRect locked;
        device_->GetBackBuffer()->LockRect(locked, nullptr, 0);
        device_->GetBackBuffer()->UnlockRect();
    }

    std::vector<uint32_t> ReadBack() {
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
};

// An OSMesa context drawing into Pixels(): ortho projection with y downwards, shifted by half a
// pixel, the texture bound and repeating, no depth test or culling, vertex, colour and texture
// coordinate arrays on.
class PeerFrame {
public:
    PeerFrame() : pixels_(Width * Height) {
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
    }
    ~PeerFrame() { OSMesaDestroyContext(context_); }
    PeerFrame(const PeerFrame&) = delete;
    PeerFrame& operator=(const PeerFrame&) = delete;

    // Points the arrays at `vertices`, which must outlive the draws.
    static void UseVertices(const std::vector<ScreenVertex>& vertices) {
        const ScreenVertex* v = vertices.data();
        glVertexPointer(2, GL_FLOAT, sizeof(ScreenVertex), &v->x);
        glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, sizeof(ScreenVertex), &v->color);
        glTexCoordPointer(2, GL_FLOAT, sizeof(ScreenVertex), &v->u);
    }

    void Draw(GLsizei vertexCount, uint32_t clearColor) {
        Clear(clearColor);
        glDrawArrays(GL_TRIANGLES, 0, vertexCount);
        glFinish();
    }
    // Triangles through the indices into the arrays UseVertices set.
    void DrawIndexed(const std::vector<uint32_t>& indices, uint32_t clearColor) {
        Clear(clearColor);
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(indices.size()), GL_UNSIGNED_INT,
                       indices.data());
        glFinish();
    }

    const std::vector<uint32_t>& Pixels() const { return pixels_; }

private:
    static void Clear(uint32_t clearColor) {
        glClearColor(((clearColor >> 16) & 0xFF) / 255.0f, ((clearColor >> 8) & 0xFF) / 255.0f,
                     (clearColor & 0xFF) / 255.0f, (clearColor >> 24) / 255.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }

    std::vector<uint32_t> pixels_;
    OSMesaContext context_ = nullptr;
};

} // namespace quarn::bench
