#pragma once

// The software device's rasteriser: primitive assembly, clipping against the near and far
// planes and a guard band, fixed-point triangle setup with the top-left fill rule and pixel
// centres at integer coordinates, perspective-correct spans, and lines.

#include "gpu/GpuState.h"
#include "gpu/software/PixelPipeline.h"
#include "gpu/software/RenderThreads.h"
#include "gpu/software/VertexProcessing.h"

#include <utility>
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

// Draws are cut into bands of rows that the threads of a pool work on, each band taking the
// draw's primitives in order; a pixel's result never depends on its band, so the image is the
// same whatever the thread count.
class SoftwareRasterizer final : public GpuRasterizer {
public:
    // The vertices (and the primitives) one slice of a draw processes at most. A draw naming
    // more (a merged batch, a field of grass) is drawn slice after slice, its primitives in
    // their order, so it draws the same pixels while its records (some hundred bytes a vertex)
    // take what a slice takes.
    static constexpr uint32_t MaxSliceVertices = 65536;

    // Tests give a slice of a few vertices, to draw every draw in many slices, or of
    // UINT32_MAX, to draw every draw whole.
    explicit SoftwareRasterizer(uint32_t threads = RenderThreadCount(),
                                uint32_t sliceVertices = MaxSliceVertices);
    void Draw(const GpuState& state, const GpuDrawCall& call) override;

    // The vertices processed and the pixels shaded so far, over every draw, and of those pixels
    // the ones shaded as textured spans: tests bound a draw's work by them.
    uint64_t ShadedVertexCount() const { return shadedVertices_; }
    uint64_t ShadedPixelCount() const { return shadedPixels_; }
    uint64_t SpanPixelCount() const { return spanPixels_; }

private:
    struct Viewport {
        int32_t left = 0, top = 0, right = 0, bottom = 0; // pixel rect, right/bottom exclusive
        float x = 0.0f, y = 0.0f, width = 0.0f, height = 0.0f, minZ = 0.0f, maxZ = 1.0f;
    };
    // A triangle or line on the screen: its vertices in screenVertices_ (lines use two) and the
    // rows it may touch, [top, bottom).
    struct Primitive {
        uint32_t v[3];
        int32_t top, bottom;
        bool line;
    };
    // Rows [top, bottom) of the viewport, and the pixels drawn in them.
    struct Band {
        int32_t top, bottom;
        uint64_t pixels = 0;
        uint64_t spanPixels = 0; // of those, shaded as textured spans
    };

    // Draws primitives [first, first + count) of a draw without indices as a draw of their own.
    void DrawRange(const GpuState& state, const GpuDrawCall& call, uint32_t first,
                   uint32_t count);
    // Draws the slice gathered so far, the call's next `count` primitives: processes the
    // gathered vertices, which indices_ name by their slots.
    void DrawGathered(const GpuState& state, const GpuDrawCall& call, uint32_t count);
    // Assembles the slice's primitives from vertices_ through indices_, bins and draws them.
    void Rasterize(const GpuDrawCall& slice);
    // The first slice of an indexed draw of `indices` naming vertices [low, high], a slice
    // gathering about sliceBound at most; then each next.
    void StartGathering(uint32_t low, uint32_t high, uint32_t indices, uint64_t sliceBound);
    void NextGathering();
    uint32_t SlotHome(uint32_t vertex) const;
    // The vertex's slot in the slice, or UINT32_MAX before it is gathered.
    uint32_t FindSlot(uint32_t vertex) const;
    // The vertex's slot, gathering it first when new to the slice.
    uint32_t GatherSlot(uint32_t vertex);
    // Clips and projects the draw's primitives into primitives_; answers roughly how many
    // pixels they cover.
    double AssemblePrimitives(const GpuDrawCall& call);
    double Triangle(uint32_t a, uint32_t b, uint32_t c);
    double Line(uint32_t a, uint32_t b);
    // The screen vertex of clip-space vertex `index`, projected once per draw.
    uint32_t Projected(uint32_t index);
    uint32_t AddScreenVertex(const RasterVertex& v);
    double AddPrimitive(const uint32_t* v, bool line);
    // The primitive of screen vertices v and roughly how many pixels it covers; 0 when it
    // covers no row of the viewport.
    double MakePrimitive(const uint32_t* v, bool line, Primitive& out) const;
    // A large draw of screen-space triangles, which need no clipping, assembled in parallel
    // blocks and kept in draw order.
    double AssembleScreenTriangles(const GpuDrawCall& call);
    // Projects clip-space vertices to the screen in place.
    void ToScreen(RasterVertex& v) const;
    // Lists each band's primitives; answers the number of bands.
    uint32_t BinPrimitives();
    // Draws band `index`'s primitives, clipped to its rows.
    void DrawBand(uint32_t index);
    struct TriangleSetup;
    // Set-up: culling, snapping, edge equations and attribute planes; then the span walk.
    void ScreenTriangle(const RasterVertex& a, const RasterVertex& b, const RasterVertex& c,
                        Band& band) const;
    void WalkSpans(const TriangleSetup& t, Band& band) const;
    void WalkQuads(const TriangleSetup& t, Band& band) const;
    void ScreenLine(const RasterVertex& a, const RasterVertex& b, Band& band) const;

    PixelPipeline pixels_;
    Viewport viewport_;
    std::vector<RasterVertex> vertices_;
    std::vector<uint32_t> indices_;
    // Pre-transformed draws use vertices_ as they are; clip-space ones their projections here.
    std::vector<RasterVertex> projected_;
    std::vector<uint32_t> projectedIndex_;
    std::vector<Primitive> primitives_;
    std::vector<Primitive> candidates_; // AssembleScreenTriangles' scratch
    // Band b draws primitives_[bandPrimitives_[i]] for i in [bandStart_[b], bandStart_[b + 1]).
    std::vector<uint32_t> bandStart_;
    std::vector<uint32_t> bandPrimitives_;
    std::vector<uint32_t> bandNext_; // BinPrimitives' scratch
    std::vector<std::pair<uint64_t, uint64_t>> bandPixels_; // each band's two pixel counts
    // An indexed slice's vertices (draw vertex numbers, base added) by slot, and the slots by
    // vertex: by the vertex's place in the draw's range (dense_), or by open addressing over
    // the table's first 1 << slotBits_ entries. Entries of other slices keep older stamps, so a
    // new slice needs no clearing.
    static constexpr uint64_t MaxDenseRange = uint64_t{1} << 20;
    struct SlotEntry {
        uint32_t vertex = 0;
        uint32_t slot = 0;
        uint32_t stamp = 0;
    };
    struct DenseSlot {
        uint32_t slot = 0;
        uint32_t stamp = 0;
    };
    std::vector<uint32_t> gathered_;
    std::vector<SlotEntry> slotTable_;
    std::vector<DenseSlot> denseSlots_;
    uint32_t denseLow_ = 0;
    bool dense_ = false;
    uint32_t slotBits_ = 4;
    uint32_t slotStamp_ = 0;
    uint64_t shadedVertices_ = 0;
    uint64_t shadedPixels_ = 0;
    uint64_t spanPixels_ = 0;
    uint32_t sliceVertices_;
    int32_t bandRows_ = 0;
    uint32_t attributes_ = 0;
    bool pretransformed_ = false;
    bool wireframe_ = false;
    bool lastPixel_ = false;
    GpuCull cull_ = GpuCull::Ccw;
    float guardX_ = 1.0f;
    float guardY_ = 1.0f;
    RenderThreads threads_;
};

} // namespace quarn
