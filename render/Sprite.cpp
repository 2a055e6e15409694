#include "render/Sprite.h"

#include "core/math/Geometry.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyText.h"
#include "core/object/PropertyVector.h"
#include "core/object/Signals.h"
#include "device/ImageTexture.h"
#include "device/IndexBuffer.h"
#include "device/RenderDevice.h"
#include "device/VertexBuffer.h"
#include "resources/DynamicMesh.h"
#include "resources/EffectShader.h"
#include "resources/Texture.h"

#include <cmath>

namespace quarn {

ClassInfo* Sprite::classInfo = nullptr;

namespace {

Property* matrixModeProperty = nullptr;

constexpr uint32_t SpriteFormat = VertexPosition | VertexDiffuse | VertexTexCoord0;
constexpr uint32_t SpriteDefaultFlags =
    RenderGeometry | RenderFog | RenderBilinear | RenderClickable;
// What a new size changes; uv changes clear the geometry and the render state instead.
constexpr uint32_t SizeBits = RenderColorStateValid | RenderLocalBoxValid | RenderWorldBoxValid;
constexpr uint32_t UVBits = RenderColorStateValid | RenderStateValid;

// Corner k of the quad as multiples of the half size, 3D (y up); SCREEN flips y.
constexpr Float2 CornerSigns[4] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};

// The anchor table: centre, bottom midpoint, then around the edge.
constexpr Float2 AnchorSigns[9] = {{0, 0}, {0, -1}, {1, -1}, {1, 0},  {1, 1},
                                   {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}};

bool DiffersFrom(Float2 a, Float2 b) {
    return a.x != b.x || a.y != b.y;
}

} // namespace

Sprite::Sprite() {
    SetRenderType(RenderNonSolid);
    SetRenderFlags(SpriteDefaultFlags);
}

Sprite::~Sprite() {
    mesh_.reset();
    if (texture_) {
        texture_->Release();
    }
    vertices_.reset();
    indices_.reset();
}

// Properties -----------------------------------------------------------------------------------

const char* Sprite::GetTextureName() const {
    return RelativePathOf(texture_);
}

void Sprite::SetTextureName(const char* name) {
    TakeTexture(name && *name ? quarn::GetTexture(name, "") : nullptr);
}

void Sprite::SetTexture(Texture* texture) {
    if (texture) {
        texture->AddReference();
    }
    TakeTexture(texture);
}

void Sprite::TakeTexture(Texture* texture) {
    if (!ReplaceHeldResource(texture_, texture)) {
        return;
    }
    SendSignal("propertychange", static_cast<Entity*>(this), true);
    SetRenderFlag(UVBits, false);
}

void Sprite::SetSize(Float2 size) {
    if (DiffersFrom(size, size_)) {
        size_ = size;
        SetRenderFlag(SizeBits, false);
    }
}

void Sprite::SetMinUV(Float2 uv) {
    if (DiffersFrom(uv, minUV_)) {
        minUV_ = uv;
        SetRenderFlag(UVBits, false);
    }
}

void Sprite::SetMaxUV(Float2 uv) {
    if (DiffersFrom(uv, maxUV_)) {
        maxUV_ = uv;
        SetRenderFlag(UVBits, false);
    }
}

void Sprite::FitHeightToTexture() {
    // The texture's own image: an atlas member's device texture is the whole atlas.
    if (!HasDeviceTexture() || texture_->GetWidth() <= 0) {
        return;
    }
    size_.y = size_.x * (static_cast<float>(texture_->GetHeight()) /
                         static_cast<float>(texture_->GetWidth()));
    SetRenderFlag(SizeBits, false);
}

Entity* Sprite::ScriptGetTexture() {
    if (texture_ && texture_->GetId() == 0) {
        // Scripts hold entities by id.
        texture_->ChangeId(TheIdMap().GetFreeLocalId(0));
    }
    return texture_;
}

void Sprite::ScriptSetTexture(Entity* texture) {
    SetTexture(dynamic_cast<Texture*>(texture));
}

void Sprite::OnBlendModeChanged(Entity* target, Entity&, const uint32_t*, const uint32_t*) {
    // The vertex colour depends on the blend mode (FILTER inverts it).
    static_cast<Sprite*>(target)->SetRenderFlag(RenderColorStateValid, false);
}

// Queries -------------------------------------------------------------------------------------

PathString Sprite::GetDescription() const {
    return PathString(GetTextureName());
}

int Sprite::GetPropertyState(const Property& property) const {
    return &property == matrixModeProperty ? 255 : Pivot::GetPropertyState(property);
}

Entity* Sprite::GetResource() const {
    return texture_;
}

bool Sprite::HasDeviceTexture() const {
    return texture_ && texture_->GetDeviceTexture();
}

bool Sprite::IsOpaque() {
    const uint32_t mode = GetBlendMode();
    return (mode == static_cast<uint32_t>(BlendMode::Normal) ||
            mode == static_cast<uint32_t>(BlendMode::Opaque)) &&
           GetOpacity() == 1.0f && HasDeviceTexture() &&
           !(texture_->GetTextureFlags() & TextureTranslucent);
}

bool Sprite::IsRenderable() {
    return RenderObject::IsRenderable() && HasDeviceTexture();
}

Float3 Sprite::GetAnchorPoint(int32_t index) {
    if (index < 0 || index >= 9) {
        return {};
    }
    const Float2 half = GetHalfSize();
    return {half.x * AnchorSigns[index].x, half.y * AnchorSigns[index].y, 0.0f};
}

void Sprite::UpdateBoundingBox() {
    const Float2 half = GetHalfSize();
    localBox_ = {Float3(-half.x, -half.y, 0.0f), Float3(half.x, half.y, 0.0f)};
}

void Sprite::UpdateWorldBoundingBox() {
    const Matrix4& m = GetWorldMatrix();
    const Float2 h = GetHalfSize();
    const Float3 extent(std::fabs(h.x * m.m[0]) + std::fabs(h.y * m.m[4]),
                        std::fabs(h.x * m.m[1]) + std::fabs(h.y * m.m[5]),
                        std::fabs(h.x * m.m[2]) + std::fabs(h.y * m.m[6]));
    const Float3 centre(m.m[12], m.m[13], m.m[14]);
    worldBox_ = {centre - extent, centre + extent};
}

void Sprite::GetPlacedUV(Float2& uvMin, Float2& uvMax) const {
    uvMin = minUV_;
    uvMax = maxUV_;
    if (!HasDeviceTexture()) {
        return;
    }
    const Float2 texel = texture_->GetDeviceTexture()->GetTexelSize();
    const auto left = static_cast<float>(texture_->GetLeft());
    const auto top = static_cast<float>(texture_->GetTop());
    const auto width = static_cast<float>(texture_->GetWidth());
    const auto height = static_cast<float>(texture_->GetHeight());
    const auto place = [&](Float2 uv) {
        return Float2((left + uv.x * width) * texel.x, (top + uv.y * height) * texel.y);
    };
    uvMin = place(minUV_);
    uvMax = place(maxUV_);
}

Sprite::ScreenPlacement Sprite::GetScreenPlacement() {
    const Quaternion q = GetWorldOrientation();
    const Matrix4& world = GetWorldMatrix();
    ScreenPlacement placement;
    placement.turned = q.x != 0.0f || q.y != 0.0f || q.z != 0.0f || q.w != 1.0f;
    placement.turn = Float2(world.m[0], world.m[1]).Normalized();
    placement.origin = Float2(world.m[12], world.m[13]);
    return placement;
}

Float2 Sprite::ScreenPlacement::Place(Float2 offset) const {
    if (turned) {
        offset =
            Float2(turn.x * offset.x - turn.y * offset.y, turn.y * offset.x + turn.x * offset.y);
    }
    return Float2(offset.x + origin.x, offset.y + origin.y);
}

void Sprite::GetScreenCorners(bool grow, Float2 (&corners)[4]) {
    Float2 half = GetHalfSize();
    if (grow) {
        half.x += 0.5f;
        half.y += 0.5f;
    }
    const ScreenPlacement placement = GetScreenPlacement();
    for (int i = 0; i < 4; ++i) {
        // Screen y grows downwards.
        corners[i] = placement.Place(Float2(half.x * CornerSigns[i].x, -half.y * CornerSigns[i].y));
    }
}

// Picking -------------------------------------------------------------------------------------

bool Sprite::IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) {
    return IntersectQuad(origin, direction, query, GetHalfSize(), true);
}

bool Sprite::IntersectQuad(const Float3& origin, const Float3& direction, PickQuery& query,
                           Float2 half, bool testTexture) {
    if (GetRenderType() == RenderStencil || GetMatrixMode() == MatrixViewSpace) {
        return false;
    }
    return GetMatrixMode() == MatrixScreen
               ? IntersectScreenPoint(query, half, testTexture)
               : IntersectWorldRay(origin, direction, query, half, testTexture);
}

bool Sprite::IntersectWorldRay(const Float3& origin, const Float3& direction, PickQuery& query,
                               Float2 half, bool testTexture) {
    if (!(query.flags & PickSolids)) {
        return false;
    }
    const float scale = GetWorldScale();
    const Float3 d = WorldToLocalDirection(direction) / (scale * scale);
    if (std::fabs(d.z) < 0.0001f || (d.z < 0.0f && !TestRenderFlags(RenderDoubleSided))) {
        return false;
    }
    const Float3 o = WorldToLocal(origin);
    const float t = o.z / -d.z;
    if (!(t >= 0.0f)) {
        return false;
    }
    const float px = o.x + t * d.x;
    const float py = o.y + t * d.y;
    if (!(px >= -half.x && px <= half.x && py >= -half.y && py <= half.y)) {
        return false;
    }
    if (testTexture && HasDeviceTexture()) {
        Float2 uvMin;
        Float2 uvMax;
        GetPlacedUV(uvMin, uvMax);
        const float u = uvMin.x + (uvMax.x - uvMin.x) * (px / half.x * 0.5f + 0.5f);
        const float v = uvMin.y + (uvMax.y - uvMin.y) * (0.5f - py / half.y * 0.5f);
        if (!texture_->IsOpaqueAt(u, v)) {
            return false;
        }
    }
    query.current.distance = t;
    if (query.flags & PickNormal) {
        const Float3 axis = GetWorldAxisZ();
        query.current.data = d.z > 0.0f ? axis * -1.0f : axis;
    }
    return true;
}

bool Sprite::IntersectScreenPoint(PickQuery& query, Float2 half, bool testTexture) {
    if (!(query.flags & PickScreenObjects)) {
        return false;
    }
    const Float3 at = GetWorldPosition();
    const Float2 mouse = query.screenPoint;
    if (!(mouse.x >= at.x - half.x && mouse.x <= at.x + half.x && mouse.y >= at.y - half.y &&
          mouse.y <= at.y + half.y)) {
        return false;
    }
    if (testTexture && HasDeviceTexture()) {
        const float u =
            minUV_.x + (maxUV_.x - minUV_.x) * ((mouse.x - at.x) / half.x * 0.5f + 0.5f);
        const float v =
            minUV_.y + (maxUV_.y - minUV_.y) * ((mouse.y - at.y) / half.y * 0.5f + 0.5f);
        if (!texture_->IsOpaqueAt(u, v)) {
            return false;
        }
    }
    if (query.flags & PickNormal) {
        query.current.data = Float3(0.0f, 0.0f, 1.0f);
    }
    query.current.distance = GetPickDistance();
    return true;
}

// Drawing -------------------------------------------------------------------------------------

uint32_t Sprite::GetVertexFormat() const {
    uint32_t format = SpriteFormat | (TestRenderFlags(RenderLighting) ? VertexNormal : 0);
    if (GetMatrixMode() == MatrixScreen) {
        format = (format & ~VertexPosition) | VertexScreenPosition;
    }
    return format;
}

void Sprite::BuildGeometry() {
    BuildQuad(GetMatrixMode() == MatrixScreen, nullptr);
}

void Sprite::BuildQuad(bool screen, const Float2 (*secondSet)[4]) {
    Float2 uvMin;
    Float2 uvMax;
    GetPlacedUV(uvMin, uvMax);
    const Float2 uv[4] = {
        {uvMin.x, uvMax.y}, {uvMax.x, uvMax.y}, {uvMax.x, uvMin.y}, {uvMin.x, uvMin.y}};
    const uint32_t color = GetTextureFactor();
    vertices_->Create(4, GetVertexFormat(), 0);
    indices_->Create(6, IndexSystemMemory);
    Float2 screenCorners[4];
    if (screen) {
        GetScreenCorners(false, screenCorners);
    }
    const Float2 half = GetHalfSize();
    for (uint32_t i = 0; i < 4; ++i) {
        if (screen) {
            // x, y, z and rhw 1.
            vertices_->SetPosition(i, Float3(screenCorners[i].x, screenCorners[i].y, 0.0f));
            vertices_->SetNormal(i, Float3(0.0f, 0.0f, 1.0f));
        } else {
            vertices_->SetPosition(
                i, Float3(half.x * CornerSigns[i].x, half.y * CornerSigns[i].y, 0.0f));
            vertices_->SetNormal(i, Float3(0.0f, 0.0f, -1.0f));
        }
        vertices_->SetColor(i, 0, color);
        vertices_->SetTexCoord(i, 0, uv[i].x, uv[i].y);
        if (secondSet) {
            vertices_->SetTexCoord(i, 1, (*secondSet)[i].x, (*secondSet)[i].y);
        }
    }
    // Texture coordinates within 0..1 let the sampler clamp instead of wrapping.
    vertices_->SetFlags(VertexClampU0, uvMax.x <= 1.0f ? VertexClampU0 : 0);
    vertices_->SetFlags(VertexClampV0, uvMax.y <= 1.0f ? VertexClampV0 : 0);
    indices_->FillQuadIndices(0, 1, 0, true);
}

void Sprite::UpdateRenderState() {
    UpdateSpriteState(FlatTagMeshWithNode, true);
}

void Sprite::UpdateSpriteState(uint32_t options, bool useShader) {
    UpdateFlatMesh(
        {vertices_, indices_, mesh_}, GetVertexFormat(), options, [this] { BuildGeometry(); },
        [this, useShader](DeviceMesh& mesh) {
            SetMeshLayers(mesh);
            if (useShader) {
                EffectShader* shader = GetEffectShader();
                mesh.SetShader(shader ? shader->GetShader() : nullptr);
                const float brightness = GetBrightness();
                mesh.SetShaderParameter(Float4(brightness, brightness, brightness, brightness));
            }
        });
}

void Sprite::SetMeshLayers(DeviceMesh& mesh) {
    mesh.SetLayerCount(1);
    // The mesh draws unknown modes as NORMAL.
    mesh.SetLayer(0, HasDeviceTexture() ? texture_->GetDeviceTexture() : nullptr,
                  static_cast<BlendMode>(GetBlendMode()));
}

int32_t Sprite::Render() {
    if (!mesh_) {
        return 0;
    }
    SubmitMesh(*mesh_);
    if (!TestRenderFlags(RenderGizmo) && !HasFlag(NodeSelected)) {
        return 0;
    }
    const uint32_t color = GetColor() | 0xFF000000;
    if (GetMatrixMode() == MatrixScreen) {
        Float2 c[4];
        GetScreenCorners(true, c);
        GetScreenLineMesh().AddQuadOutline2D(c[0], c[1], c[2], c[3], color);
        DrawScreenLines();
    } else {
        // In the sprite's own frame, also where its mesh joined a batch and left the device's
        // world matrix elsewhere.
        SetRenderWorldMatrix(GetWorldMatrix());
        const Float2 h = GetHalfSize();
        GetDebugLineMesh().AddQuadOutline(Float3(-h.x, -h.y, 0.0f), Float3(h.x, -h.y, 0.0f),
                                          Float3(h.x, h.y, 0.0f), Float3(-h.x, h.y, 0.0f), color);
        DrawDebugLines();
    }
    return 0;
}

// Version upgrades -----------------------------------------------------------------------------

void Sprite::UpgradeVersion(int fileVersion) {
    RenderObject::UpgradeVersion(fileVersion);
    if (fileVersion != 27 || !texture_ || texture_->GetWidth() <= 0 || texture_->GetHeight() <= 0) {
        return;
    }
    // Coordinates were relative to the texture padded to powers of two.
    const auto width = static_cast<uint32_t>(texture_->GetWidth());
    const auto height = static_cast<uint32_t>(texture_->GetHeight());
    const float su = static_cast<float>(width) / static_cast<float>(NextPowerOfTwo(width));
    const float sv = static_cast<float>(height) / static_cast<float>(NextPowerOfTwo(height));
    SetMinUV(Float2(minUV_.x / su, minUV_.y / sv));
    SetMaxUV(Float2(maxUV_.x / su, maxUV_.y / sv));
}

// Registration --------------------------------------------------------------------------------

ClassInfo* Sprite::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "Sprite", []() -> Entity* { return new Sprite(); }, &classInfo);
    classInfo->SetParent(RenderObject::RegisterClass());
    classInfo->SetCategory("Gfx");

    classInfo->AddResourceProperty<&Sprite::GetTextureName, &Sprite::SetTextureName>(
        "texture:bmp", &GetImageTextureExtensions);
    classInfo->AddProperty<PropertyFloat2, &Sprite::GetSize, &Sprite::SetSize>("size");
    classInfo->AddProperty<PropertyFloat2, &Sprite::GetMinUV, &Sprite::SetMinUV>("minuv");
    classInfo->AddProperty<PropertyFloat2, &Sprite::GetMaxUV, &Sprite::SetMaxUV>("maxuv");

    RenderObject::classInfo->FindProperty("blendmode")
        ->AddListener(Property::ListenerOfObject, nullptr, classInfo, &Sprite::OnBlendModeChanged,
                      0);
    matrixModeProperty = Pivot::classInfo->FindProperty("matrixmode");

    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "", BindMethod<&Sprite::FitHeightToTexture>(),
                         MethodScriptCallable | MethodNoResult);
    classInfo->AddMethod(NextShortName(), "():Texture", BindMethod<&Sprite::ScriptGetTexture>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(Texture)", BindMethod<&Sprite::ScriptSetTexture>(),
                         MethodScript);
    return classInfo;
}

} // namespace quarn
