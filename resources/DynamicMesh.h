#pragma once

// Geometry rebuilt every time it is drawn. Builders append lines, triangles and glyph quads;
// Flush draws them in one call and empties the mesh. The engine keeps five of them: lines and
// solid shapes in world space for debug drawing, lines and shapes in screen pixels, and glyph
// quads in screen pixels.

#include "core/math/Matrix4.h"
#include "core/math/Quaternion.h"

#include <cstdint>
#include <memory>

namespace quarn {

class DeviceMesh;
class IndexBuffer;
class VertexBuffer;

// Vertex format words: components in the low 16 bits, buffer flags in the high ones.
inline constexpr uint32_t DynamicWorldFormat = 0x9;     // x, y, z, colour
inline constexpr uint32_t DynamicScreenFormat = 0xA;    // x, y (pixels), 0, 1, colour
inline constexpr uint32_t DynamicTextFormat = 0x2A;     // x, y, z, rhw, colour, u, v
inline constexpr uint32_t DynamicShapeBuffer = 0xC0000; // rewritten every frame, starts empty
inline constexpr uint32_t DynamicLineBuffer = 0xD0000;  // the same; kept apart from shapes
// Index kinds: dynamic, starting empty, with the primitive type in the low bits.
inline constexpr uint32_t DynamicTriangles = 8;
inline constexpr uint32_t DynamicLines = 9;

// Render flags the meshes draw with.
inline constexpr uint32_t DynamicDepthTested = 0x809; // blended, depth tested and written
inline constexpr uint32_t DynamicOverlay = 0x1;       // blended, over everything
inline constexpr uint32_t DynamicText = 0x201;

class DynamicMesh {
public:
    DynamicMesh();
    ~DynamicMesh();
    DynamicMesh(const DynamicMesh&) = delete;
    DynamicMesh& operator=(const DynamicMesh&) = delete;

    // Makes the buffers and the draw on the render device the first time, sizes them again
    // later. False when the device refuses them (or there is none).
    bool Create(uint32_t maxVertices, uint32_t maxIndices, uint32_t format, uint32_t indexKind);
    // Empties both buffers; nothing is drawn.
    void Clear();
    // Draws what was added with the given render flags and empties the mesh. An empty mesh
    // draws nothing and reports success.
    bool Flush(uint32_t renderFlags);
    void Destroy();

    VertexBuffer* GetVertexBuffer() const { return vertices_.get(); }
    IndexBuffer* GetIndexBuffer() const { return indices_.get(); }
    DeviceMesh* GetBatch() const { return batch_.get(); }

    // Builders. Each adds its whole shape or, when the mesh has no room left for it, nothing.
    // Colours are ARGB words written unchanged. Builders without a centre work in the shape's
    // local space (set the world matrix first: SetRenderWorldMatrix); angles are in radians.
    void AddLine(const Float3& a, const Float3& b, uint32_t color);
    void AddTriangle(const Float3& a, const Float3& b, const Float3& c, uint32_t color);
    // Screen pixels. The triangle keeps the opposite winding of a world triangle given in the
    // same order, so both face the viewer.
    void AddLine2D(const Float2& a, const Float2& b, uint32_t color);
    void AddTriangle2D(const Float2& a, const Float2& b, const Float2& c, uint32_t color);
    void AddRect2D(float x1, float y1, float x2, float y2, uint32_t color);
    void AddQuadOutline2D(const Float2& p1, const Float2& p2, const Float2& p3, const Float2& p4,
                          uint32_t color);
    void AddQuadOutline(const Float3& p1, const Float3& p2, const Float3& p3, const Float3& p4,
                        uint32_t color);
    // Twelve edges on eight shared corners: position + rotate(size x unit-box corner).
    void AddBoxOutline(const Float3& position, const Float3& size, const Quaternion& orientation,
                       uint32_t color);
    // Around the origin, half the size to each side.
    void AddWireBox(const Float3& size, uint32_t color);
    void AddSolidBox(const Float3& size, uint32_t color);
    // Three rings of `segments` lines, in the x-y, y-z and x-z planes.
    void AddWireSphere(const Float3& centre, float radius, uint32_t color, uint32_t segments);
    // Latitude bands from the south pole (-y) upwards.
    void AddSolidSphere(const Float3& centre, float radius, uint32_t color, uint32_t segments);
    // 16 lines, or a fan of 14 triangles, in the x-y plane.
    void AddCircle(const Float3& centre, float radius, bool filled, uint32_t color);
    // About the z axis, height centred on the centre; an arc below a full turn is closed.
    void AddWireCylinder(const Float3& centre, float radius, float height, float startAngle,
                         float arcAngle, uint32_t color, uint32_t segments);
    void AddSolidCylinder(const Float3& centre, float radius, float height, float startAngle,
                          float arcAngle, uint32_t color, uint32_t segments);
    // The full turn.
    void AddWireCylinder(const Float3& centre, float radius, float height, uint32_t color,
                         uint32_t segments);
    void AddSolidCylinder(const Float3& centre, float radius, float height, uint32_t color,
                          uint32_t segments);
    // About the z axis; the straight part runs from -length/2 to +length/2.
    void AddWireCapsule(float radius, float length, uint32_t color, uint32_t segments);
    void AddSolidCapsule(float radius, float length, uint32_t color, uint32_t segments);
    // The six points centre +- size along each axis, joined by 12 lines.
    void AddOctahedronOutline(const Float3& centre, float size, uint32_t color);
    // Glyph quads of the default font at (x, y) in pixels; `flags` are the font's layout flags.
    // The indices must be written beforehand, six per quad of four vertices.
    void AddText(float x, float y, const char* text, uint32_t color, uint32_t flags);

private:
    std::unique_ptr<VertexBuffer> vertices_;
    std::unique_ptr<IndexBuffer> indices_;
    std::unique_ptr<DeviceMesh> batch_;
};

// The five meshes of the engine, made at start-up right after the render device.
bool CreateDebugMeshes();
// Gives their device objects back (and those of DrawScreenText), before the render device goes.
void DestroyDebugMeshes();
DynamicMesh& GetDebugTriangleMesh();
DynamicMesh& GetDebugLineMesh();
DynamicMesh& GetScreenTriangleMesh();
DynamicMesh& GetScreenLineMesh();
DynamicMesh& GetScreenTextMesh();

bool FlushDebugTriangles(uint32_t renderFlags);
bool FlushDebugLines(uint32_t renderFlags);
bool DrawDebugTriangles();
bool DrawDebugLines();
bool DrawScreenTriangles();
bool DrawScreenLines();

// Drawn at once.
void DrawDebugLine(const Float3& a, const Float3& b, uint32_t color);
void DrawDebugPointMarker(const Float3& centre, float size, uint32_t color);
void DrawScreenLineNow(float x1, float y1, float x2, float y2, uint32_t color);
void DrawScreenQuadNow(float x1, float y1, float x2, float y2, uint32_t color);
// A text in the default font with its top left at (x, y), floored to whole pixels; nothing
// before the default font exists.
void DrawScreenText(float x, float y, const char* text, uint32_t color);

// The world matrix of shapes built in local space.
void SetRenderWorldMatrix(const Matrix4& world);

} // namespace quarn
