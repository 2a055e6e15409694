#include "render/TextPlate.h"

#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/PropertyVector.h"
#include "core/string/Text.h"
#include "core/string/TextArena.h"
#include "device/DrawBufferShare.h"
#include "device/IndexBuffer.h"
#include "device/RenderDevice.h"
#include "device/VertexBuffer.h"
#include "render/AnnotationSink.h"
#include "resources/FontNew.h"
#include "resources/ResourceRegistry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace quarn {

ClassInfo* TextPlate::classInfo = nullptr;

namespace {

// The glyph cache shares the colour-state bit: colour and opacity live in the glyph vertices.
constexpr uint32_t GlyphsValid = RenderColorStateValid;

// The bytes every plate's glyphs are built for.
int64_t sceneDrawnBytes = 0;

bool IsLineBreak(char c) {
    return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

bool IsThreeDimensional(int32_t mode) {
    return mode == MatrixNormal || mode == MatrixBillboard || mode == MatrixCameraSpace ||
           mode == MatrixCameraLookAt;
}

// The world matrix first scaled in x and y.
Matrix4 ScaledXY(const Matrix4& world, float sx, float sy) {
    Matrix4 scaled = world;
    for (int col = 0; col < 4; ++col) {
        scaled.m[col] *= sx;
        scaled.m[4 + col] *= sy;
    }
    return scaled;
}

// Index of the line at a height, clamped to the lines; NaN and infinities count as a border.
int32_t ClampedLine(float position, int32_t lines) {
    if (!(position >= 0.0f)) {
        return 0;
    }
    if (position >= static_cast<float>(lines - 1)) {
        return lines - 1;
    }
    return static_cast<int32_t>(position);
}

bool Overlaps(float aMin, float aMax, float bMin, float bMax) {
    return aMin <= bMax && bMin <= aMax;
}

} // namespace

TextPlate::TextPlate() {
    SetRenderType(RenderNonSolid);
    SetRenderFlags(RenderGeometry | RenderFog | RenderBilinear | RenderClickable);
}

TextPlate::~TextPlate() {
    sceneDrawnBytes -= static_cast<int64_t>(drawnBytes_);
    if (font_) {
        font_->Release();
    }
}

bool TextPlate::IsScreenMode() const {
    return GetMatrixMode() == MatrixScreen || GetMatrixMode() == MatrixViewSpace;
}

FontNew* TextPlate::AcquireFont(const char* path, int32_t pointSize, int32_t flags) {
    if (!path || !*path) {
        return nullptr;
    }
    static constexpr const char* StyleSuffixes[8] = {"", "b", "i", "bi", "B", "bB", "iB", "biB"};
    char options[32];
    std::snprintf(options, sizeof options, "_%d%s", pointSize,
                  StyleSuffixes[flags & TextStyleMask]);
    return AcquireResource<FontNew>(path, options);
}

const char* TextPlate::GetFontName() const {
    return RelativePathOf(font_);
}

void TextPlate::SetFontName(const char* path) {
    ReplaceFont(AcquireFont(path, pointSize_, fontFlags_));
}

// Takes over the acquired reference.
void TextPlate::ReplaceFont(FontNew* font) {
    if (!ReplaceHeldResource(font_, font)) {
        return;
    }
    if (font_) {
        lineHeight_ = static_cast<float>(font_->GetLineHeight());
    }
    Wrap();
    UpdateMetrics();
    Invalidate();
}

void TextPlate::SetPointSize(int32_t size) {
    pointSize_ = size;
    if (font_) {
        ReplaceFont(AcquireFont(font_->GetFullPath(), pointSize_, fontFlags_));
    }
}

void TextPlate::SetFontFlags(int32_t flags) {
    const int32_t before = fontFlags_;
    fontFlags_ = flags;
    if (font_ && ((before ^ flags) & TextStyleMask)) {
        ReplaceFont(AcquireFont(font_->GetFullPath(), pointSize_, fontFlags_));
    }
    Wrap();
    UpdateMetrics();
    Invalidate();
}

void TextPlate::SetTextProperty(const char* text) {
    std::string unescaped = UnescapeString(text ? text : "");
    if (unescaped == text_) {
        return;
    }
    text_ = std::move(unescaped);
    Wrap();
    UpdateMetrics();
    Invalidate();
}

void TextPlate::SetText(const char* text) {
    text_ = UnescapeString(text ? text : "");
    Wrap();
    UpdateMetrics();
    Invalidate();
}

void TextPlate::AppendLineBreak() {
    text_ += '\n';
    UpdateMetrics();
}

void TextPlate::SetSize(Float2 size) {
    if (size.x == size_.x && size.y == size_.y) {
        return;
    }
    size_ = size;
    UpdateMetrics();
    Invalidate();
}

void TextPlate::SetBoxWidth(int32_t width) {
    boxWidth_ = width;
    Wrap();
    Invalidate();
}

void TextPlate::SetLineHeight(float height) {
    if (height == lineHeight_) {
        return;
    }
    lineHeight_ = height;
    UpdateMetrics();
    Invalidate();
}

void TextPlate::SetAlignX(int32_t align) {
    alignX_ = align;
    UpdateMetrics();
    Invalidate();
}

void TextPlate::SetAlignY(int32_t align) {
    alignY_ = align;
    UpdateMetrics();
    Invalidate();
}

void TextPlate::Invalidate() {
    SetRenderFlag(GlyphsValid | RenderStateValid | RenderLocalBoxValid | RenderWorldBoxValid,
                  false);
}

void TextPlate::Wrap() {
    lineStarts_.clear();
    lineCount_ = 0;
    if (!font_ || text_.empty()) {
        return;
    }
    lineCount_ = font_->WrapText(static_cast<float>(boxWidth_), text_.c_str(), &lineStarts_,
                                 (fontFlags_ & TextUtf8) != 0, LayoutBreakCharacters);
}

void TextPlate::UpdateMetrics() {
    if (!font_) {
        return;
    }
    textWidth_ = font_->MeasureText(text_.c_str(), (fontFlags_ & TextUtf8) != 0);
    fontLineHeight_ = static_cast<float>(font_->GetLineHeight());
    const float width = lineCount_ >= 2 ? static_cast<float>(boxWidth_) : textWidth_;
    offset_.x = alignX_ == TextAlignCenterX ? -0.5f * width
                : alignX_ == TextAlignRight ? -width
                                            : 0.0f;
    // A single line takes the block rule too, as the layout draws it: a fixed 16-pixel line
    // measured from the baseline would put the hit-test block beside the drawn glyphs.
    const auto lines = static_cast<float>(lineCount_);
    const float total =
        lineCount_ == 0
            ? 0.0f
            : std::trunc((lineHeight_ - fontLineHeight_) * (lines - 1.0f) + fontLineHeight_ * lines);
    offset_.y = alignY_ == TextAlignCenterY  ? std::trunc(total * 0.5f)
                : alignY_ == TextAlignBottom ? total
                                             : 0.0f;
    if (GetMatrixMode() == MatrixScreen) {
        offset_.y = -offset_.y;
    }
}

std::string TextPlate::LineText(int32_t line) const {
    if (line < 0 || line >= lineCount_) {
        return {};
    }
    const uint32_t begin = lineStarts_[static_cast<size_t>(line)];
    uint32_t end = lineStarts_[static_cast<size_t>(line) + 1];
    // Only a real break closes a line: a hyphen stays, and the last line may have none.
    if (end > begin && IsLineBreak(text_[end - 1])) {
        --end;
    }
    return text_.substr(begin, end - begin);
}

const char* TextPlate::GetLineText(int32_t line) {
    return PutTempString(LineText(line));
}

float TextPlate::GetLineWidth(int32_t line) {
    return MeasureString(LineText(line).c_str());
}

float TextPlate::MeasureString(const char* text) {
    return font_ && text ? font_->MeasureText(text, (fontFlags_ & TextUtf8) != 0) : 0.0f;
}

float TextPlate::GetTextWidth() {
    if (IsScreenMode()) {
        return textWidth_;
    }
    return textWidth_ * size_.x / static_cast<float>(pointSize_);
}

void TextPlate::UpdateBoundingBox() {
    const auto lines = static_cast<float>(lineCount_);
    Float2 extent(textWidth_, lines * lineHeight_);
    if (!IsScreenMode()) {
        const auto points = static_cast<float>(pointSize_);
        extent = Float2(textWidth_ / points * size_.x, lines * lineHeight_ / points * size_.y);
    }
    Float3 centre;
    centre.x = alignX_ == TextAlignLeft    ? extent.x * 0.5f
               : alignX_ == TextAlignRight ? -extent.x * 0.5f
                                           : 0.0f;
    centre.y = alignY_ == TextAlignTop      ? -extent.y * 0.5f
               : alignY_ == TextAlignBottom ? extent.y * 0.5f
                                            : 0.0f;
    if (GetMatrixMode() == MatrixScreen) {
        centre.y = -centre.y;
    }
    const Float3 half(extent.x * 0.5f, extent.y * 0.5f, 0.0f);
    localBox_ = {centre - half, centre + half};
}

void TextPlate::UpdateWorldBoundingBox() {
    const Aabb local = GetLocalBoundingBox();
    const Matrix4& world = GetWorldMatrix();
    const Float3 centre = world.TransformCoord((local.min + local.max) * 0.5f);
    const Float3 half = (local.max - local.min) * 0.5f;
    Float3 extent;
    for (int axis = 0; axis < 3; ++axis) {
        float sum = 0.0f;
        for (int row = 0; row < 3; ++row) {
            sum += std::fabs(world.At(row, axis)) * (&half.x)[row];
        }
        (&extent.x)[axis] = sum;
    }
    worldBox_ = {centre - extent, centre + extent};
}

void TextPlate::BuildGlyphs() {
    quadCount_ = 0;
    sceneDrawnBytes -= static_cast<int64_t>(std::exchange(drawnBytes_, 0));
    const int32_t mode = GetMatrixMode();
    if (!font_ || text_.empty() || !(IsThreeDimensional(mode) || IsScreenMode())) {
        return;
    }
    RenderDevice* device = TheRenderDevice();
    if (!device) {
        return;
    }
    const bool screen = IsScreenMode();
    if (!vertices_) {
        vertices_ = device->CreateVertexData();
        indices_ = device->CreateIndexData();
    }
    // A quad at most for each byte drawn. A character's bytes stay together.
    auto cutAt = [&](size_t bytes) {
        while ((fontFlags_ & TextUtf8) && bytes > 0 && (text_[bytes] & 0xC0) == 0x80) {
            --bytes;
        }
        return bytes;
    };
    size_t drawn = text_.size();
    if (drawn > MaxDrawnTextBytes) {
        drawn = cutAt(MaxDrawnTextBytes);
        if (loggedCutLength_ != text_.size()) {
            LogMessage("TextPlate '%s' (id %u): its text of %zu bytes is drawn up to %zu bytes",
                       GetName().c_str(), GetId(), text_.size(), MaxDrawnTextBytes);
            loggedCutLength_ = text_.size();
        }
    }
    const auto room = static_cast<size_t>(std::max<int64_t>(
        SceneDrawnTextLimit - sceneDrawnBytes, 0));
    if (drawn > room) {
        drawn = cutAt(room);
        if (loggedSceneCut_ != drawn) {
            LogMessage("TextPlate '%s' (id %u): %zu of its %zu bytes are drawn: the text plates "
                       "of the scene draw at most %lld bytes together",
                       GetName().c_str(), GetId(), drawn, text_.size(),
                       static_cast<long long>(SceneDrawnTextLimit));
            loggedSceneCut_ = drawn;
        }
        if (drawn == 0) {
            return;
        }
    }
    const std::string cut = drawn < text_.size() ? text_.substr(0, drawn) : std::string();
    const char* text = drawn < text_.size() ? cut.c_str() : text_.c_str();
    const auto quads = static_cast<uint32_t>(drawn);
    if (!share_.Hold(DrawBufferShare::MeshBytes(uint64_t{quads} * 4, QuadVertexFormat(screen),
                                                uint64_t{quads} * 6, indices_->GetIndexSize()),
                     this) ||
        !CreateQuadBuffers(*vertices_, indices_.get(), quads, screen, false)) {
        return;
    }
    drawnBytes_ = drawn;
    sceneDrawnBytes += static_cast<int64_t>(drawn);
    // The font lays its glyph corners in the order the reversed pattern shows from the front.
    indices_->FillQuadIndices(0, quads, 0, false);
    builtForScreen_ = screen;

    const uint32_t flags =
        (screen ? LayoutDownward : 0) | ((fontFlags_ & TextUtf8) ? LayoutUtf8 : 0);
    const float spacing = lineHeight_ - fontLineHeight_;
    Float3 at;
    bool turn = false;
    if (screen) {
        const Quaternion orientation = GetWorldOrientation();
        turn = !(orientation.x == 0.0f && orientation.y == 0.0f && orientation.z == 0.0f);
        if (!turn) {
            at = GetWorldPosition();
            if (mode == MatrixScreen) {
                at.x = std::floor(at.x);
                at.y = std::floor(at.y);
            }
        }
    }
    const int32_t written =
        font_->LayoutText(text, at.x, at.y, at.z, static_cast<float>(boxWidth_),
                          GetTextureFactor(), alignX_, alignY_, flags, spacing, *vertices_);
    quadCount_ = written > 0 ? static_cast<uint32_t>(written) : 0;
    if (turn) {
        // Turned in the screen plane about the node, then placed at it.
        const Matrix4& world = GetWorldMatrix();
        const Float3 axisX(world.At(0, 0), world.At(0, 1), 0.0f);
        const float length = std::sqrt(axisX.x * axisX.x + axisX.y * axisX.y);
        const float c = length > 0.0f ? axisX.x / length : 1.0f;
        const float s = length > 0.0f ? axisX.y / length : 0.0f;
        const Float3 position = GetWorldPosition();
        for (uint32_t i = 0; i < vertices_->GetCount(); ++i) {
            const Float3 p = vertices_->GetPosition(i);
            vertices_->SetPosition(i, Float3(p.x * c - p.y * s + position.x,
                                             p.x * s + p.y * c + position.y, p.z + position.z));
        }
    }
    indices_->SetCount(quadCount_ * 6);
}

void TextPlate::UpdateRenderState() {
    if (!font_) {
        return;
    }
    const bool screen = IsScreenMode();
    // Screen glyphs hold the node's position.
    if (screen && !TestRenderFlags(RenderTransformStateValid)) {
        SetRenderFlag(GlyphsValid, false);
    }
    if (!TestRenderFlags(GlyphsValid) || (vertices_ && builtForScreen_ != screen)) {
        BuildGlyphs();
        SetRenderFlag(RenderStateValid, false);
    }
    if (!vertices_) {
        SetStateBits();
        return;
    }
    if (!mesh_) {
        mesh_ = TheRenderDevice()->CreateDeviceMesh();
    }
    const int32_t mode = GetMatrixMode();
    const auto points = static_cast<float>(pointSize_);
    const Matrix4 scaled = ScaledXY(GetWorldMatrix(), size_.x / points, size_.y / points);
    if (!TestRenderFlags(RenderStateValid)) {
        ApplyMeshState(*mesh_, vertices_.get(), indices_.get(), font_->GetGlyphTexture(),
                       0xFFFFFFFF);
        if (mode == MatrixNormal || mode == MatrixBillboard) {
            mesh_->SetWorldMatrix(scaled);
        }
    }
    if (!TestRenderFlags(RenderTransformStateValid) || !TestRenderFlags(RenderStateValid)) {
        if (mode == MatrixScreen) {
            mesh_->SetWorldMatrix(Matrix4{});
        } else if (mode == MatrixNormal || mode == MatrixBillboard || mode == MatrixCameraSpace) {
            mesh_->SetWorldMatrix(scaled);
        } else {
            mesh_->SetWorldMatrix(GetWorldMatrix());
        }
    }
    SetStateBits();
}

void TextPlate::FitRenderTypeToMatrixMode() {
    const int32_t mode = GetMatrixMode();
    const int32_t type = GetRenderType();
    if ((mode == MatrixNormal || mode == MatrixBillboard) && type == Render2D) {
        SetRenderType(RenderNonSolid);
    } else if (mode == MatrixScreen && type != Render2D && type != RenderOsd) {
        SetRenderType(Render2D);
    }
}

void TextPlate::OnValuesLoaded() {
    RenderObject::OnValuesLoaded();
    // As the first draw would: a save with no edit then writes the same type before it as after.
    FitRenderTypeToMatrixMode();
}

int32_t TextPlate::Render() {
    FitRenderTypeToMatrixMode();
    if (TestRenderFlags(RenderGizmo) || HasFlag(NodeSelected)) {
        if (AnnotationSink* annotations = GetActiveAnnotations()) {
            DrawWrapWidth(*annotations);
        }
    }
    if (font_ && mesh_ && quadCount_ > 0) {
        mesh_->Draw();
    }
    return 0;
}

void TextPlate::DrawWrapWidth(AnnotationSink& annotations) {
    // The frame the text wraps in: the box width across, the text's lines down.
    const Aabb box = GetLocalBoundingBox();
    float width = static_cast<float>(boxWidth_);
    if (!IsScreenMode()) {
        width *= size_.x / static_cast<float>(pointSize_);
    }
    const float left = alignX_ == TextAlignLeft    ? 0.0f
                       : alignX_ == TextAlignRight ? -width
                                                   : -0.5f * width;
    const float xs[4] = {left, left + width, left + width, left};
    const float ys[4] = {box.min.y, box.min.y, box.max.y, box.max.y};
    Float3 corners[4];
    for (int i = 0; i < 4; ++i) {
        corners[i] = GetMatrixMode() == MatrixScreen
                         ? GetWorldPosition() + Float3(xs[i], ys[i], 0.0f)
                         : GetWorldMatrix().TransformCoord(Float3(xs[i], ys[i], 0.0f));
    }
    for (int i = 0; i < 4; ++i) {
        const Float3& a = corners[i];
        const Float3& b = corners[(i + 1) % 4];
        if (GetMatrixMode() == MatrixScreen) {
            annotations.AddLine2D(a.x, a.y, b.x, b.y, WrapWidthColor, 0.0f);
        } else {
            annotations.AddLine(a, b, WrapWidthColor, 0.0f);
        }
    }
}

bool TextPlate::IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) {
    const Aabb box = GetLocalBoundingBox();
    if (IsScreenMode()) {
        if (!(query.flags & PickScreenObjects)) {
            return false;
        }
        const Float3 at = GetWorldPosition();
        const Float2 p = query.screenPoint;
        if (p.x < box.min.x + at.x || p.x > box.max.x + at.x || p.y < box.min.y + at.y ||
            p.y > box.max.y + at.y) {
            return false;
        }
        query.current.distance = GetPickDistance();
        return true;
    }
    if (!(query.flags & PickSolids)) {
        return false;
    }
    // Into local space: the axes carry the world scale, hence the division by its square.
    const Matrix4& world = GetWorldMatrix();
    const Float3 relative = origin - Float3(world.At(3, 0), world.At(3, 1), world.At(3, 2));
    Float3 localOrigin;
    Float3 localDirection;
    for (int row = 0; row < 3; ++row) {
        const Float3 axis(world.At(row, 0), world.At(row, 1), world.At(row, 2));
        const float square = axis.Dot(axis);
        if (square == 0.0f) {
            return false;
        }
        (&localOrigin.x)[row] = relative.Dot(axis) / square;
        (&localDirection.x)[row] = direction.Dot(axis) / square;
    }
    if (std::fabs(localDirection.z) < 0.0001f) {
        return false;
    }
    if (localDirection.z < 0.0f && !TestRenderFlags(RenderDoubleSided)) {
        return false;
    }
    const float centreZ = (box.min.z + box.max.z) * 0.5f;
    const float t = (centreZ - localOrigin.z) / localDirection.z;
    if (!(t >= 0.0f)) {
        return false;
    }
    const Float3 hit = localOrigin + localDirection * t;
    if (hit.x < box.min.x || hit.x > box.max.x || hit.y < box.min.y || hit.y > box.max.y) {
        return false;
    }
    query.current.distance = t;
    if (query.flags & PickNormal) {
        const Float3 axisZ = GetWorldAxisZ();
        query.current.data = localDirection.z > 0.0f ? axisZ * -1.0f : axisZ;
    }
    return true;
}

int32_t TextPlate::HitTestLine(Float2 centre, float halfWidth, float halfHeight) {
    if (GetMatrixMode() != MatrixScreen || !font_ || lineCount_ == 0) {
        return 0;
    }
    const Float3 at = GetWorldPosition();
    const float top = centre.y - halfHeight;
    const float bottom = centre.y + halfHeight;
    const float left = centre.x - halfWidth;
    const float right = centre.x + halfWidth;
    if (lineCount_ == 1) {
        const float x = offset_.x + at.x;
        const float y = offset_.y + at.y;
        return Overlaps(left, right, x, x + textWidth_) &&
                       Overlaps(top, bottom, y, y + fontLineHeight_)
                   ? 1
                   : 0;
    }
    const float first = offset_.y + at.y + (fontLineHeight_ - lineHeight_) * 0.5f;
    const int32_t line = ClampedLine((centre.y - first) / lineHeight_, lineCount_);
    const float lineTop = offset_.y + at.y + static_cast<float>(line) * lineHeight_;
    if (!Overlaps(top, bottom, lineTop, lineTop + fontLineHeight_)) {
        return 0;
    }
    std::string text = LineText(line);
    if (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    const float width = MeasureString(text.c_str());
    const float x = at.x;
    const float begin = alignX_ == TextAlignLeft    ? x
                        : alignX_ == TextAlignRight ? x - width
                                                    : x - width * 0.5f;
    return Overlaps(left, right, begin, begin + width) ? line + 1 : 0;
}

int TextPlate::GetPropertyState(const Property& property) const {
    if (std::strcmp(property.GetName(), "matrixmode") == 0) {
        return 255;
    }
    return Pivot::GetPropertyState(property);
}

void TextPlate::UpgradeVersion(int fileVersion) {
    RenderObject::UpgradeVersion(fileVersion);
    if (fileVersion == 42) {
        fontFlags_ |= TextUtf8;
    }
}

ClassInfo* TextPlate::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "TextPlate", []() -> Entity* { return new TextPlate(); }, &classInfo);
    classInfo->SetParent(RenderObject::RegisterClass());
    classInfo->SetCategory("Gfx");

    classInfo->AddProperty<PropertyInt, &TextPlate::GetPointSize, &TextPlate::SetPointSize>(
        "pointsize");
    classInfo->AddProperty<PropertyBitfield, &TextPlate::GetFontFlags, &TextPlate::SetFontFlags>(
        "fontflags:bold,italic,extrabold,utf8");
    classInfo->AddResourceProperty<&TextPlate::GetFontName, &TextPlate::SetFontName>(
        "font:ttf", &FontNew::GetLoadableExtensions);
    classInfo->AddProperty<PropertyString, &TextPlate::GetText, &TextPlate::SetTextProperty>(
        "text");
    classInfo->AddProperty<PropertyFloat2, &TextPlate::GetSize, &TextPlate::SetSize>("size");
    classInfo->AddProperty<PropertyInt, &TextPlate::GetBoxWidth, &TextPlate::SetBoxWidth>(
        "boxwidth");
    classInfo->AddProperty<PropertyFloat, &TextPlate::GetLineHeight, &TextPlate::SetLineHeight>(
        "lineheight:,,,0.1");
    classInfo->AddProperty<PropertyEnum, &TextPlate::GetAlignX, &TextPlate::SetAlignX>(
        "alignx:LEFT,CENTER,RIGHT");
    classInfo->AddProperty<PropertyEnum, &TextPlate::GetAlignY, &TextPlate::SetAlignY>(
        "aligny:TOP,CENTER,BOTTOM");
    for (int32_t value : {0, 1, 2, 0, 1, 2}) {
        RegisterNamedConstant(NextShortName(), value);
    }

    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), ":float", BindMethod<&TextPlate::GetTextWidth>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(string):float", BindMethod<&TextPlate::MeasureString>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(string)", BindMethod<&TextPlate::SetText>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&TextPlate::AppendLineBreak>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&TextPlate::GetLineCount>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float2,float,float):int",
                         BindMethod<&TextPlate::HitTestLine>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):string", BindMethod<&TextPlate::GetLineText>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):float", BindMethod<&TextPlate::GetLineWidth>(),
                         MethodScript);
    return classInfo;
}

} // namespace quarn
