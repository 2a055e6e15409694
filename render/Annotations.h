#pragma once

#include "device/DrawBufferShare.h"
#include "render/AnnotationSink.h"
#include "render/RenderObject.h"
#include "resources/DynamicMesh.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

class Texture;

// Icon numbers of the atlas: a 4 x 4 grid of 16-pixel cells, of which the first 13 are drawn.
inline constexpr int32_t AnnotationIconCount = 13;
// Icons drawn in one frame; the rest of the frame's icons are not.
inline constexpr uint32_t AnnotationMaxIcons = 1024;

// The editor's debug drawing: points, lines and arrows in the world, lines, texts and icons on
// the screen, each kept for its lifetime in seconds (0: drawn once), and wire spheres and boxes
// drawn once at the next 3D render. The first node made is the active one (GetActiveAnnotations),
// through which the engine's drawables show their gizmos.
class Annotations : public RenderObject, public AnnotationSink {
public:
    struct PointItem {
        Float3 at;
        uint32_t color;
        float lifetime;
    };
    struct LineItem {
        Float3 from;
        Float3 to;
        uint32_t color;
        float lifetime;
    };
    struct ScreenLineItem {
        Float2 from;
        Float2 to;
        uint32_t color;
        float lifetime;
    };
    struct TextItem {
        std::string text;
        Float2 at;
        uint32_t color;
        float lifetime;
    };
    struct IconItem {
        Float2 at;
        float angle;
        int32_t icon;
        uint32_t color;
        float lifetime;
    };

    Annotations();
    ~Annotations() override;

    ClassInfo* GetClass() const override { return classInfo; }
    // 3D items in the node's own pass, answering the OSD pass; screen items there.
    int32_t Render() override;

    void AddPoint(const Float3& at, uint32_t color, float lifetime);
    void AddLine(const Float3& from, const Float3& to, uint32_t color, float lifetime) override;
    void AddArrow(const Float3& from, const Float3& to, uint32_t color, float lifetime);
    void AddLine2D(float x1, float y1, float x2, float y2, uint32_t color,
                   float lifetime) override;
    void AddText(float x, float y, const char* text, uint32_t color, float lifetime) override;
    // Numbers outside 0..12 name no icon and are ignored.
    void AddIcon(const Float2& at, float angle, int32_t icon, uint32_t color, float lifetime);
    void AddSphere(const Float3& centre, float radius, uint32_t color) override;
    void AddBox(const Float3& position, const Float3& size, const Quaternion& orientation,
                uint32_t color) override;

    float GetPointSize() const { return pointSize_; }
    // 0 keeps the size as it was.
    void SetPointSize(float size);

    const std::vector<PointItem>& GetPoints() const { return points_; }
    const std::vector<LineItem>& GetLines() const { return lines_; }
    const std::vector<LineItem>& GetArrows() const { return arrows_; }
    const std::vector<ScreenLineItem>& GetScreenLines() const { return screenLines_; }
    const std::vector<TextItem>& GetTexts() const { return texts_; }
    const std::vector<IconItem>& GetIcons() const { return icons_; }
    Texture* GetIconTexture() const { return iconTexture_; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    // Spheres and boxes wait here rather than in the world mesh, whose builders drop what does
    // not fit: the next 3D render draws them all, flushing as often as the mesh fills.
    struct Shape {
        Float3 position;
        Float3 size; // x: the radius of a sphere
        Quaternion orientation;
        uint32_t color;
        bool sphere;
    };

    void RenderWorld();
    void RenderScreen();
    void FlushShapes();
    void DrawIcons();
    bool MakeIconMesh();

    // Script methods: every item lasts one frame.
    void ScriptAddPoint(Float3 at, int32_t color) { AddPoint(at, Argb(color), 0.0f); }
    void ScriptAddLine(Float3 from, Float3 to, int32_t color) {
        AddLine(from, to, Argb(color), 0.0f);
    }
    void ScriptAddLine2D(Float2 from, Float2 to, int32_t color) {
        AddLine2D(from.x, from.y, to.x, to.y, Argb(color), 0.0f);
    }
    void ScriptAddText(Float2 at, const char* text, int32_t color) {
        AddText(at.x, at.y, text, Argb(color), 0.0f);
    }
    void ScriptAddArrow(Float3 from, Float3 to, int32_t color) {
        AddArrow(from, to, Argb(color), 0.0f);
    }
    void ScriptAddIcon(Float2 at, float angle, int32_t icon, int32_t color) {
        AddIcon(at, angle, icon, Argb(color), 0.0f);
    }
    static uint32_t Argb(int32_t color) { return static_cast<uint32_t>(color); }

    float pointSize_ = 0.1f;
    std::vector<PointItem> points_;
    std::vector<LineItem> lines_;
    std::vector<ScreenLineItem> screenLines_;
    std::vector<TextItem> texts_;
    std::vector<LineItem> arrows_;
    std::vector<IconItem> icons_;
    std::vector<Shape> shapes_;
    Texture* iconTexture_ = nullptr; // one counted reference
    std::unique_ptr<IndexBuffer> iconIndices_;
    std::unique_ptr<VertexBuffer> iconVertices_;
    std::unique_ptr<DeviceMesh> iconMesh_;
    DynamicMesh worldMesh_;
    DrawBufferShare worldShare_;
    DrawBufferShare iconShare_;
};

} // namespace quarn
