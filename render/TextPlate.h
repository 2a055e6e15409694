#pragma once

#include "device/DrawBufferShare.h"
#include "render/RenderObject.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

class AnnotationSink;
class FontNew;

enum TextAlignX : int32_t { TextAlignLeft = 0, TextAlignCenterX = 1, TextAlignRight = 2 };
enum TextAlignY : int32_t { TextAlignTop = 0, TextAlignCenterY = 1, TextAlignBottom = 2 };

// Bits of the fontflags property; the low three pick the font's style.
enum TextFontFlags : int32_t {
    TextBold = 0x1,
    TextItalic = 0x2,
    TextExtraBold = 0x4,
    TextUtf8 = 0x8,
    TextStyleMask = 0x7,
};

// A text in a TrueType font, wrapped at a box width and aligned as a block: in the scene, scaled
// from font pixels by size / pointsize, or on the screen in pixels (SCREEN and VIEWSPACE). Its
// glyph quads are cached and rebuilt only when the text, font, layout or (on the screen) the
// transform changes.
class TextPlate : public RenderObject {
public:
    TextPlate();
    ~TextPlate() override;

    int32_t GetPointSize() const { return pointSize_; }
    void SetPointSize(int32_t size);
    int32_t GetFontFlags() const { return fontFlags_; }
    void SetFontFlags(int32_t flags);
    const char* GetFontName() const;
    void SetFontName(const char* path);
    const char* GetText() const { return text_.c_str(); }
    // Unescaped; the same text again changes nothing.
    void SetTextProperty(const char* text);
    Float2 GetSize() const { return size_; }
    void SetSize(Float2 size);
    int32_t GetBoxWidth() const { return boxWidth_; }
    void SetBoxWidth(int32_t width);
    float GetLineHeight() const { return lineHeight_; }
    void SetLineHeight(float height);
    int32_t GetAlignX() const { return alignX_; }
    void SetAlignX(int32_t align);
    int32_t GetAlignY() const { return alignY_; }
    void SetAlignY(int32_t align);
    FontNew* GetFont() const { return font_; }

    // Script methods.
    float GetTextWidth();
    float MeasureString(const char* text);
    // As the property, but always rebuilds.
    void SetText(const char* text);
    void AppendLineBreak();
    int32_t GetLineCount() const { return lineCount_; }
    // 1-based line touched by the screen rectangle (centre, half extents), 0 for none.
    int32_t HitTestLine(Float2 centre, float halfWidth, float halfHeight);
    const char* GetLineText(int32_t line);
    float GetLineWidth(int32_t line);
    // Line i without its closing break: the bytes a script reads and the layout measures.
    std::string LineText(int32_t line) const;
    Float2 GetOffset() const { return offset_; }

    int GetPropertyState(const Property& property) const override;
    void UpgradeVersion(int fileVersion) override;
    void OnValuesLoaded() override;
    int GetIconIndex() const override { return 22; }
    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override;
    bool IsOpaque() override { return false; }
    void UpdateBoundingBox() override;
    void UpdateWorldBoundingBox() override;
    int32_t Render() override;
    void UpdateRenderState() override;
    DeviceMesh* GetRenderMesh() override { return mesh_.get(); }
    ClassInfo* GetClass() const override { return classInfo; }

    static constexpr uint32_t WrapWidthColor = 0xFFFF00FF;
    // A plate draws its text up to this many bytes (the rest stays in the text): each drawn
    // byte costs a glyph quad of vertex data.
    static constexpr size_t MaxDrawnTextBytes = 65536;
    // The bytes all plates draw together: hundreds of plates each at the bound above held
    // gigabytes of glyph quads. A plate that would pass it draws what is left (maybe nothing),
    // and the rest when a rebuild finds room. Tests lower it.
    static inline int64_t SceneDrawnTextLimit = int64_t{1} << 20;

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    static FontNew* AcquireFont(const char* path, int32_t pointSize, int32_t flags);
    void ReplaceFont(FontNew* font);
    void Wrap();
    void UpdateMetrics();
    void Invalidate();
    // A plate in screen space draws in the 2D pass, one in the world outside it.
    void FitRenderTypeToMatrixMode();
    void BuildGlyphs();
    bool IsScreenMode() const;
    void DrawWrapWidth(AnnotationSink& annotations);

    int32_t boxWidth_ = 500;
    FontNew* font_ = nullptr;
    Float2 size_{0.1f, 0.1f};
    std::string text_;
    std::vector<uint32_t> lineStarts_;
    float lineHeight_ = 0.0f;
    int32_t alignX_ = TextAlignCenterX;
    int32_t alignY_ = TextAlignTop;
    int32_t pointSize_ = 18;
    int32_t fontFlags_ = TextUtf8;
    float textWidth_ = 0.0f;
    float fontLineHeight_ = 0.0f;
    Float2 offset_;
    int32_t lineCount_ = 0;
    uint32_t quadCount_ = 0;
    size_t drawnBytes_ = 0; // counted in the total of all plates
    DrawBufferShare share_; // the glyph buffers, counted in the scene's
    // The length of the text last logged as cut, so that rebuilds do not repeat the line; and
    // the bytes drawn when the total last cut it.
    size_t loggedCutLength_ = 0;
    size_t loggedSceneCut_ = SIZE_MAX;
    bool builtForScreen_ = false;
    std::unique_ptr<DeviceMesh> mesh_;
    std::unique_ptr<VertexBuffer> vertices_;
    std::unique_ptr<IndexBuffer> indices_;
};

} // namespace quarn
