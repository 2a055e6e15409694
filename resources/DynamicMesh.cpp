#include "resources/DynamicMesh.h"

#include "device/DeviceMesh.h"
#include "device/IndexBuffer.h"
#include "device/RenderDevice.h"
#include "device/VertexBuffer.h"
#include "resources/FontNew.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarn {

namespace {

DynamicMesh gDebugTriangles;
DynamicMesh gDebugLines;
DynamicMesh gScreenTriangles;
DynamicMesh gScreenLines;
DynamicMesh gScreenText;
// DrawScreenText's own, made on first use.
DynamicMesh gScreenTextNow;
constexpr uint32_t ScreenTextQuads = 1024;

// The text mesh's indices are written once: every glyph is a quad of four vertices.
constexpr uint32_t PrefilledQuads = 512;

bool PrefillQuads(IndexBuffer& indices, uint32_t quads) {
    indices.FillQuadIndices(0, quads, 0, false);
    return indices.Lock(0);
}

} // namespace

DynamicMesh::DynamicMesh() = default;

DynamicMesh::~DynamicMesh() {
    Destroy();
}

bool DynamicMesh::Create(uint32_t maxVertices, uint32_t maxIndices, uint32_t format,
                         uint32_t indexKind) {
    if (!vertices_) {
        RenderDevice* device = TheRenderDevice();
        if (!device) {
            return false;
        }
        vertices_ = device->CreateVertexData();
        indices_ = device->CreateIndexData();
        batch_ = device->CreateDeviceMesh();
        if (!vertices_ || !indices_ || !batch_) {
            Destroy();
            return false;
        }
    }
    const bool sized = vertices_->Create(maxVertices, format & 0xFFFF, format & 0xFFFF0000u) &&
                       indices_->Create(maxIndices, indexKind);
    batch_->SetWorldMatrix(Matrix4{});
    batch_->SetVertexStream(vertices_.get(), 0);
    batch_->SetIndexData(indices_.get());
    batch_->SetRenderFlagsWord(DynamicDepthTested);
    batch_->SetLayerCount(1);
    batch_->SetLayer(0, nullptr, BlendMode::Normal);
    // Shapes in local space draw with the world matrix set on the device beforehand.
    batch_->SetOptions(MeshKeepDeviceWorld | MeshOwnerBit, MeshKeepDeviceWorld | MeshOwnerBit);
    return sized;
}

void DynamicMesh::Clear() {
    if (vertices_) {
        vertices_->Clear();
        indices_->Clear();
    }
}

bool DynamicMesh::Flush(uint32_t renderFlags) {
    if (!vertices_ || vertices_->GetCount() == 0) {
        return true;
    }
    batch_->SetRenderFlagsWord(renderFlags);
    const bool drawn = batch_->Draw();
    Clear();
    return drawn;
}

void DynamicMesh::AddText(float x, float y, const char* text, uint32_t color, uint32_t flags) {
    FontNew* font = GetDefaultFont();
    if (!font || !text || !vertices_) {
        return;
    }
    // Lines break only at newlines.
    font->LayoutText(text, x, y, 0.0f, std::numeric_limits<float>::max(), color, 0, 0, flags, 0.0f,
                     *vertices_);
    // The font's texture of the moment: a reloaded font has deleted the one it had before.
    if (batch_->GetLayerTexture(0) != font->GetGlyphTexture()) {
        batch_->SetLayer(0, font->GetGlyphTexture(), batch_->GetLayerOp(0));
    }
    const uint64_t indices = uint64_t{vertices_->GetCount()} / 4 * 6;
    indices_->SetCount(static_cast<uint32_t>(std::min<uint64_t>(indices, indices_->GetCapacity())));
}

void DynamicMesh::Destroy() {
    batch_.reset();
    indices_.reset();
    vertices_.reset();
}

bool CreateDebugMeshes() {
    bool made = gDebugTriangles.Create(1024, 4096, DynamicShapeBuffer | DynamicWorldFormat,
                                       DynamicTriangles);
    made = gDebugLines.Create(16384, 32768, DynamicLineBuffer | DynamicWorldFormat, DynamicLines) &&
           made;
    made = gScreenTriangles.Create(2048, 8192, DynamicShapeBuffer | DynamicScreenFormat,
                                   DynamicTriangles) &&
           made;
    made = gScreenLines.Create(1024, 4096, DynamicLineBuffer | DynamicScreenFormat, DynamicLines) &&
           made;
    made =
        gScreenText.Create(1024, 4096, DynamicShapeBuffer | DynamicTextFormat, DynamicTriangles) &&
        made;
    if (IndexBuffer* indices = gScreenText.GetIndexBuffer()) {
        // Dynamic indices are lost with the device; they are written again after a reset.
        indices->SetRestoreCallback(
            [](IndexBuffer& restored) { return PrefillQuads(restored, PrefilledQuads); });
        made = PrefillQuads(*indices, PrefilledQuads) && made;
        DeviceMesh& batch = *gScreenText.GetBatch();
        batch.SetRenderFlagsWord(DynamicText);
        batch.SetLayer(0, nullptr, BlendMode::Normal);
        batch.SetLayerCount(1);
    }
    return made;
}

void DestroyDebugMeshes() {
    for (DynamicMesh* mesh : {&gDebugTriangles, &gDebugLines, &gScreenTriangles, &gScreenLines,
                              &gScreenText, &gScreenTextNow}) {
        mesh->Destroy();
    }
}

DynamicMesh& GetDebugTriangleMesh() {
    return gDebugTriangles;
}

DynamicMesh& GetDebugLineMesh() {
    return gDebugLines;
}

DynamicMesh& GetScreenTriangleMesh() {
    return gScreenTriangles;
}

DynamicMesh& GetScreenLineMesh() {
    return gScreenLines;
}

DynamicMesh& GetScreenTextMesh() {
    return gScreenText;
}

bool FlushDebugTriangles(uint32_t renderFlags) {
    return gDebugTriangles.Flush(renderFlags);
}

bool FlushDebugLines(uint32_t renderFlags) {
    return gDebugLines.Flush(renderFlags);
}

bool DrawDebugTriangles() {
    return gDebugTriangles.Flush(DynamicDepthTested);
}

bool DrawDebugLines() {
    return gDebugLines.Flush(DynamicDepthTested);
}

bool DrawScreenTriangles() {
    return gScreenTriangles.Flush(DynamicOverlay);
}

bool DrawScreenLines() {
    return gScreenLines.Flush(DynamicDepthTested);
}

void DrawDebugLine(const Float3& a, const Float3& b, uint32_t color) {
    gDebugLines.AddLine(a, b, color);
    DrawDebugLines();
}

void DrawDebugPointMarker(const Float3& centre, float size, uint32_t color) {
    gDebugLines.AddOctahedronOutline(centre, size, color);
    DrawDebugLines();
}

void DrawScreenLineNow(float x1, float y1, float x2, float y2, uint32_t color) {
    gScreenLines.AddLine2D({x1, y1}, {x2, y2}, color);
    DrawScreenLines();
}

void DrawScreenQuadNow(float x1, float y1, float x2, float y2, uint32_t color) {
    gScreenTriangles.AddRect2D(x1, y1, x2, y2, color);
    DrawScreenTriangles();
}

void DrawScreenText(float x, float y, const char* text, uint32_t color) {
    if (!GetDefaultFont() || !text) {
        return;
    }
    if (!gScreenTextNow.GetVertexBuffer()) {
        // Static indices, written once: they outlive a device reset.
        if (!gScreenTextNow.Create(4 * ScreenTextQuads, 6 * ScreenTextQuads,
                                   DynamicShapeBuffer | DynamicTextFormat, 0) ||
            !PrefillQuads(*gScreenTextNow.GetIndexBuffer(), ScreenTextQuads)) {
            gScreenTextNow.Destroy();
            return;
        }
    }
    gScreenTextNow.AddText(std::floor(x), std::floor(y), text, color, LayoutDownward);
    // Flushing empties the buffers, so every call shows its own text only.
    gScreenTextNow.Flush(DynamicText);
}

void SetRenderWorldMatrix(const Matrix4& world) {
    if (RenderDevice* device = TheRenderDevice()) {
        device->SetWorldMatrix(world);
    }
}

} // namespace quarn
