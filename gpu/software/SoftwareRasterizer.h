#pragma once

// The software device's rasteriser: primitive assembly, clipping against the near and far
// planes and a guard band, fixed-point triangle setup with the top-left fill rule and pixel
// centres at integer coordinates, perspective-correct spans, and lines.

#include "gpu/GpuState.h"
#include "gpu/software/PixelPipeline.h"
#include "gpu/software/VertexProcessing.h"

#include <vector>

namespace quarn {

// A vertex already in screen space (pixels, depth, 1/w) with a diffuse colour and one texture
// coordinate pair: the layout of sprites and screen quads, declared by ScreenVertexElements.
struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t color;
    float u, v;
};

inline constexpr GpuVertexElement ScreenVertexElements[] = {
    {0, 0, GpuDeclType::Float4, GpuDeclUsage::PositionT, 0},
    {0, 16, GpuDeclType::Color, GpuDeclUsage::Color, 0},
    {0, 20, GpuDeclType::Float2, GpuDeclUsage::TexCoord, 0},
};

class SoftwareRasterizer final : public GpuRasterizer {
public:
    void Draw(const GpuState& state, const GpuDrawCall& call) override;

private:
    struct Viewport {
        int32_t left = 0, top = 0, right = 0, bottom = 0; // pixel rect, right/bottom exclusive
        float x = 0.0f, y = 0.0f, width = 0.0f, height = 0.0f, minZ = 0.0f, maxZ = 1.0f;
    };

    // The vertices the draw touches, each processed once however often the indices repeat it;
    // indices_ then index vertices_. False when there is nothing to draw.
    bool FetchVertices(const GpuState& state, const GpuDrawCall& call, uint32_t count);
    void AssemblePrimitives(const GpuDrawCall& call);
    void Triangle(const RasterVertex& a, const RasterVertex& b, const RasterVertex& c);
    void Line(const RasterVertex& a, const RasterVertex& b);
    // Projects clip-space vertices to the screen in place.
    void ToScreen(RasterVertex& v) const;
    struct TriangleSetup;
    // Set-up: culling, snapping, edge equations and attribute planes; then the span walk.
    void ScreenTriangle(const RasterVertex& a, const RasterVertex& b, const RasterVertex& c);
    void WalkSpans(const TriangleSetup& t);
    void ScreenLine(const RasterVertex& a, const RasterVertex& b);

    PixelPipeline pixels_;
    Viewport viewport_;
    std::vector<RasterVertex> vertices_;
    std::vector<uint32_t> indices_;
    uint32_t attributes_ = 0;
    bool pretransformed_ = false;
    bool wireframe_ = false;
    bool lastPixel_ = false;
    GpuCull cull_ = GpuCull::Ccw;
    float guardX_ = 1.0f;
    float guardY_ = 1.0f;
};

} // namespace quarn
