#include "collision/mockup/MockupCylinder.h"

#include "core/math/Color.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "core/os/BusyCursor.h"
#include "device/DeviceMesh.h"
#include "device/ImageTexture.h"
#include "device/IndexBuffer.h"
#include "device/RenderDevice.h"
#include "render/LightBakeSettings.h"
#include "resources/Texture.h"
#include "resources/TextureSampling.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarn {

ClassInfo* MockupCylinder::classInfo = nullptr;

namespace {

constexpr int Segments = 32;
constexpr uint32_t HullVertices = 2 * (Segments + 1);
constexpr uint32_t HullIndices = 6 * Segments;
constexpr uint32_t CapVertices = 2 * Segments;
constexpr uint32_t CapIndices = 6 * (Segments - 2);
constexpr double TwoPi = 6.283185307179586;
constexpr float TwoPiF = 6.2831853f;

int64_t NextPowerOfTwo64(int64_t n) {
    int64_t p = 1;
    while (p < n) {
        p <<= 1;
    }
    return p;
}

// The nearest whole count plus one, or -1 when it is not finite or past 32 bits.
int64_t TexelCount(double extent, double spacing) {
    const double count = std::floor(extent / spacing + 0.5) + 1.0;
    if (!(count >= 0.0 && count <= std::numeric_limits<int32_t>::max())) {
        return -1;
    }
    return static_cast<int64_t>(count);
}

// The height of a row over the part's texel rows, nudged off the outer edges.
float EdgeNudge(int32_t index, int32_t count) {
    float d = index == 0 ? 0.01f : 0.0f;
    d -= index == count - 1 ? 0.01f : 0.0f;
    return d;
}

float Aspect(const Texture* texture) {
    return static_cast<float>(texture->GetWidth()) / static_cast<float>(texture->GetHeight());
}

} // namespace

MockupCylinder::MockupCylinder() {
    SetOpacity(1.0f);
    SetColor(0xFFFFFFFF);
    SetRenderType(RenderSolid);
    SetRenderFlags(MockupDefaultFlags);
    EnsureDeviceObjects();
}

MockupCylinder::~MockupCylinder() {
    for (Texture* texture : {hullTexture_, capTexture_, lightMap_}) {
        if (texture) {
            texture->Release();
        }
    }
    for (MeshSet* set : {&hull_, &caps_}) {
        set->mesh.reset();
        set->vertices.reset();
        set->indices.reset();
    }
}

// Properties -----------------------------------------------------------------------------------

const char* MockupCylinder::GetHullTextureName() const {
    return RelativePathOf(hullTexture_);
}

const char* MockupCylinder::GetCapTextureName() const {
    return RelativePathOf(capTexture_);
}

void MockupCylinder::SetHullTextureName(const char* name) {
    if (ReplaceHeldResource(hullTexture_, name && *name ? quarn::GetTexture(name, "") : nullptr)) {
        // The hull's texture repeats follow the texture's proportions.
        MarkMeshChanged();
        SendSignal("propertychange", static_cast<Entity*>(this), true);
    }
}

void MockupCylinder::SetCapTextureName(const char* name) {
    if (ReplaceHeldResource(capTexture_, name && *name ? quarn::GetTexture(name, "") : nullptr)) {
        MarkMeshChanged();
        SendSignal("propertychange", static_cast<Entity*>(this), true);
    }
}

void MockupCylinder::SetMockupFlags(uint32_t flags) {
    SetRenderFlag(MockupMeshStateBits, false);
    mockupFlags_ = flags;
}

void MockupCylinder::SetTileSize(float size) {
    // NaN fails the comparison and takes the floor too.
    tileSize_ = size > 0.01f ? size : 0.01f;
    SetRenderFlag(MockupMeshStateBits, false);
}

void MockupCylinder::SetMapFlags(uint32_t flags) {
    if ((flags ^ mapFlags_) & MockupApplyMap) {
        if (!(flags & MockupApplyMap)) {
            TakeLightMap(nullptr);
            lightMapShare_.Release();
        } else if (!lightMap_) {
            TakeLightMap(LoadSavedLightMap(*this));
        }
        SetRenderFlag(MockupMeshStateBits, false);
    }
    mapFlags_ = flags;
}

void MockupCylinder::TakeLightMap(Texture* lightMap) {
    if (ReplaceHeldResource(lightMap_, lightMap)) {
        MarkMeshChanged();
    }
}

void MockupCylinder::MarkMeshChanged() {
    changeBits_ = ChangeMesh;
    SetRenderFlag(MockupMeshStateBits, false);
}

void MockupCylinder::OnDimensionChanged(Entity* target, Entity&, const uint32_t*,
                                        const uint32_t*) {
    auto* cylinder = static_cast<MockupCylinder*>(target);
    cylinder->SetRenderFlag(RenderColorStateValid, false);
    cylinder->changeBits_ = ChangeMesh;
}

void MockupCylinder::OnTextureResourceChanged(void* resource) {
    auto* entity = static_cast<Entity*>(resource);
    if (!entity || entity == hullTexture_ || entity == capTexture_ || entity == lightMap_) {
        SetRenderFlag(MockupMeshStateBits, false);
    }
}

// Queries -------------------------------------------------------------------------------------

PathString MockupCylinder::GetDescription() const {
    return PathString(hullTexture_ ? GetHullTextureName() : GetCapTextureName());
}

bool MockupCylinder::IsVisible() {
    return (hullTexture_ || capTexture_) && GetOpacity() != 0.0f;
}

bool MockupCylinder::IntersectRay(const Float3& origin, const Float3& direction,
                                  PickQuery& query) {
    if (!CollisionCylinder::IntersectRay(origin, direction, query)) {
        return false;
    }
    if (!(query.flags & PickFaceMasks)) {
        return true;
    }
    return query.current.part == CylinderPickSide ? hullTexture_ != nullptr
                                                  : capTexture_ != nullptr;
}

Texture* MockupCylinder::PartTexture(uint32_t part) const {
    return static_cast<int32_t>(part) <= 0 ? hullTexture_ : capTexture_;
}

Float2 MockupCylinder::LightMapCoord(Float3 local, int part) const {
    Float2 allocated;
    Float2 origin;
    GetLightMapPlacement(lightMap_, allocated, origin);
    const PartRect& r = partRects_[part];
    const float r0 = GetCylinderRadius();
    float s = 0.0f;
    float t = 0.0f;
    if (part == MockupHull) {
        float angle = std::atan2(local.y, local.x);
        if (angle < 0.0f) {
            angle += TwoPiF;
        }
        s = angle / TwoPiF;
        t = 0.5f - local.z / GetLength();
    } else {
        s = (local.x / r0 + 1.0f) * 0.5f;
        t = (local.y / r0 + 1.0f) * 0.5f;
    }
    return {(s * static_cast<float>(r.w - 1) + static_cast<float>(r.x) + origin.x + 0.5f) /
                allocated.x,
            (t * static_cast<float>(r.h - 1) + static_cast<float>(r.y) + origin.y + 0.5f) /
                allocated.y};
}

DeviceTexture* MockupCylinder::LightMapAt(Float3 point, uint32_t part, Float2& uv) {
    DeviceTexture* map = lightMap_ ? lightMap_->GetDeviceTexture() : nullptr;
    if (!map || !PartTexture(part)) {
        return nullptr;
    }
    const Float3 local = WorldToLocal(point);
    // Picks number the caps by the way the ray runs, not by the cap hit: the cap is the one on
    // the point's side.
    const int index = static_cast<int32_t>(part) <= 0 ? MockupHull
                      : local.z >= 0.0f              ? MockupTopCap
                                                     : MockupBottomCap;
    uv = LightMapCoord(local, index);
    return map;
}

Float4 MockupCylinder::GetColorRgba(Float3 point, uint32_t part) {
    const Float4 k = UnpackColor(GetColor() | 0xFF000000);
    Texture* texture = PartTexture(part);
    const Float4 t = texture ? UnpackColor(texture->GetAverageColor()) : Float4(1, 1, 1, 1);
    Float4 l(1.0f, 1.0f, 1.0f, 1.0f);
    Float2 uv;
    if (DeviceTexture* map = LightMapAt(point, part, uv)) {
        LightMapReadLock lock(*map);
        l = SampleTextureBilinearFloat4(*map, uv.x, uv.y);
    } else if (!lightMap_ && texture) {
        const float b = GetBrightness();
        l = Float4(b, b, b, 1.0f);
    }
    return {k.x * t.x * l.x, k.y * t.y * l.y, k.z * t.z * l.z, k.w * t.w * l.w};
}

uint32_t MockupCylinder::GetColorArgb(Float3 point, uint32_t part) {
    uint32_t color = GetColor();
    Texture* texture = PartTexture(part);
    if (texture) {
        color = ModulateColor(color, texture->GetAverageColor());
    }
    Float2 uv;
    if (DeviceTexture* map = LightMapAt(point, part, uv)) {
        LightMapReadLock lock(*map);
        color = ModulateColor(color, SampleTextureBilinear(*map, uv.x, uv.y));
    }
    return color;
}

// Lightmap layout ------------------------------------------------------------------------------

MockupCylinder::Spacings MockupCylinder::GetSpacings() const {
    const double d = MockupTexelSpacing(mapFlags_);
    const double r = GetCylinderRadius();
    return {std::min(d, TwoPi * r / 8.0), std::min(d, static_cast<double>(GetLength())),
            std::min(d, 2.0 * r)};
}

MockupCylinder::Layout MockupCylinder::ComputeLayout() const {
    Layout layout;
    const Spacings s = GetSpacings();
    if (!(s.around > 0.0 && s.along > 0.0 && s.cap > 0.0)) {
        return layout;
    }
    const double r = GetCylinderRadius();
    const int64_t nU = TexelCount(TwoPi * r, s.around);
    const int64_t nV = TexelCount(GetLength(), s.along);
    const int64_t nC = TexelCount(2.0 * r, s.cap);
    if (nU < 0 || nV < 0 || nC < 0) {
        return layout;
    }
    auto place = [&](int part, int64_t x, int64_t y, int64_t w, int64_t h) {
        layout.rects[part] = {static_cast<int32_t>(x), static_cast<int32_t>(y),
                              static_cast<int32_t>(w), static_cast<int32_t>(h)};
    };
    place(MockupHull, 0, 0, nU, nV);
    if (NextPowerOfTwo64(nU) >= nU + nC && nV >= 2 * nC) {
        place(MockupTopCap, nU, 0, nC, nC);
        place(MockupBottomCap, nU, nC, nC, nC);
        layout.width = nU + nC;
        layout.height = nV;
    } else {
        place(MockupTopCap, 0, nV, nC, nC);
        place(MockupBottomCap, nC, nV, nC, nC);
        layout.width = std::max(nU, 2 * nC);
        layout.height = nV + nC;
    }
    layout.valid = layout.width <= std::numeric_limits<int32_t>::max() &&
                   layout.height <= std::numeric_limits<int32_t>::max();
    return layout;
}

uint64_t MockupCylinder::GetLightMapBytes() const {
    const Layout layout = ComputeLayout();
    return layout.valid ? LightMapBytes(layout.width, layout.height, PixelFormat::A8R8G8B8) : 0;
}

Int2 MockupCylinder::GetLightMapSize() const {
    const Layout layout = ComputeLayout();
    if (!layout.valid) {
        return {};
    }
    return {static_cast<int32_t>(layout.width), static_cast<int32_t>(layout.height)};
}

// Mesh ----------------------------------------------------------------------------------------

void MockupCylinder::EnsureDeviceObjects() {
    RenderDevice* device = TheRenderDevice();
    if (hull_.mesh || !device) {
        return;
    }
    for (MeshSet* set : {&hull_, &caps_}) {
        set->vertices = device->CreateVertexData();
        set->indices = device->CreateIndexData();
        set->mesh = device->CreateDeviceMesh();
        set->mesh->SetVertexStream(set->vertices.get(), 0);
        set->mesh->SetIndexData(set->indices.get());
        set->mesh->SetOptions(MeshOwnerBit, MeshOwnerBit);
    }
    changeBits_ = ChangeMesh;
}

Float2 MockupCylinder::HullTextureScale() const {
    if (mockupFlags_ & MockupStretchHull) {
        return {1.0f, 1.0f};
    }
    const float r = GetCylinderRadius();
    float vs = GetLength() / tileSize_;
    if (!(mockupFlags_ & MockupSquareTexUv) && hullTexture_ && hullTexture_->GetHeight() > 0) {
        vs *= Aspect(hullTexture_);
    }
    return {TwoPiF * r / tileSize_, vs};
}

Float2 MockupCylinder::CapTextureScale() const {
    if (mockupFlags_ & MockupStretchCap) {
        return {1.0f, 1.0f};
    }
    const float cu = 2.0f * GetCylinderRadius() / tileSize_;
    float cv = cu;
    if (!(mockupFlags_ & MockupSquareTexUv) && capTexture_ && capTexture_->GetHeight() > 0) {
        cv *= Aspect(capTexture_);
    }
    return {cu, cv};
}

void MockupCylinder::BuildMesh() {
    EnsureDeviceObjects();
    if (!hull_.vertices) {
        return;
    }
    const Layout layout = ComputeLayout();
    for (int part = 0; part < 3; ++part) {
        partRects_[part] = layout.rects[part];
    }
    Float2 allocated;
    Float2 origin;
    GetLightMapPlacement(lightMap_, allocated, origin);
    BuildHull(allocated, origin);
    BuildCaps(allocated, origin);
}

void MockupCylinder::BuildHull(const Float2& allocated, const Float2& origin) {
    VertexBuffer& v = *hull_.vertices;
    v.Create(HullVertices, MockupVertexFormat, 0);
    hull_.indices->Create(HullIndices, 0);
    for (uint32_t k = 0; k < Segments; ++k) {
        hull_.indices->SetTriangle(2 * k, 2 * k, 2 * k + 3, 2 * k + 1);
        hull_.indices->SetTriangle(2 * k + 1, 2 * k, 2 * k + 2, 2 * k + 3);
    }
    const float r = GetCylinderRadius();
    const float h = GetLength() * 0.5f;
    const Float2 scale = HullTextureScale();
    const PartRect& rect = partRects_[MockupHull];
    const bool mapped = lightMap_ && lightMap_->GetDeviceTexture();
    v.SetWriteState(2);
    for (uint32_t i = 0; i <= Segments; ++i) {
        const float a = static_cast<float>(i) / Segments;
        const float theta = TwoPiF * a;
        const Float3 n(std::cos(theta), std::sin(theta), 0.0f);
        const Float3 rim(r * n.x, r * n.y, 0.0f);
        Float2 uv;
        if (mapped) {
            uv.x = (a * static_cast<float>(rect.w - 1) + static_cast<float>(rect.x) + origin.x +
                    0.5f) / allocated.x;
            uv.y = (static_cast<float>(rect.y) + origin.y + 0.5f) / allocated.y;
        }
        const float drop = mapped ? static_cast<float>(rect.h - 1) / allocated.y : 0.0f;
        v.SetPosition(2 * i, rim + Float3(0, 0, h));
        v.SetNormal(2 * i, n);
        v.SetTexCoord(2 * i, 0, a * scale.x, 0.0f);
        v.SetTexCoord(2 * i, 1, uv.x, uv.y);
        v.SetPosition(2 * i + 1, rim - Float3(0, 0, h));
        v.SetNormal(2 * i + 1, n);
        v.SetTexCoord(2 * i + 1, 0, a * scale.x, scale.y);
        v.SetTexCoord(2 * i + 1, 1, uv.x, uv.y + drop);
    }
    v.SetWriteState(0);
    const bool clamp = mockupFlags_ & MockupStretchHull;
    v.SetFlags(VertexClampU0 | VertexClampV0, clamp ? VertexClampU0 | VertexClampV0 : 0);
}

void MockupCylinder::BuildCaps(const Float2& allocated, const Float2& origin) {
    VertexBuffer& v = *caps_.vertices;
    v.Create(CapVertices, MockupVertexFormat, 0);
    caps_.indices->Create(CapIndices, 0);
    uint32_t triangle = 0;
    for (uint32_t i = 2; i < Segments; ++i) {
        caps_.indices->SetTriangle(triangle++, 0, i, i - 1);
    }
    for (uint32_t i = 2; i < Segments; ++i) {
        caps_.indices->SetTriangle(triangle++, Segments, Segments - 1 + i, Segments + i);
    }
    const float r = GetCylinderRadius();
    const float h = GetLength() * 0.5f;
    const Float2 scale = CapTextureScale();
    const bool mapped = lightMap_ && lightMap_->GetDeviceTexture();
    v.SetWriteState(2);
    for (uint32_t i = 0; i < Segments; ++i) {
        const float theta = TwoPiF * static_cast<float>(i) / Segments;
        const float s = (std::cos(theta) + 1.0f) * 0.5f;
        const float t = (std::sin(theta) + 1.0f) * 0.5f;
        for (const int part : {MockupTopCap, MockupBottomCap}) {
            const uint32_t index = part == MockupTopCap ? i : Segments + i;
            const float z = part == MockupTopCap ? h : -h;
            const PartRect& rect = partRects_[part];
            Float2 uv;
            if (mapped) {
                uv.x = (s * static_cast<float>(rect.w - 1) + static_cast<float>(rect.x) +
                        origin.x + 0.5f) / allocated.x;
                uv.y = (t * static_cast<float>(rect.h - 1) + static_cast<float>(rect.y) +
                        origin.y + 0.5f) / allocated.y;
            }
            v.SetPosition(index, Float3(r * std::cos(theta), r * std::sin(theta), z));
            v.SetNormal(index, Float3(0, 0, z >= 0.0f ? 1.0f : -1.0f));
            v.SetTexCoord(index, 0, s * scale.x, t * scale.y);
            v.SetTexCoord(index, 1, uv.x, uv.y);
        }
    }
    v.SetWriteState(0);
    const bool clamp = mockupFlags_ & MockupStretchCap;
    v.SetFlags(VertexClampU0 | VertexClampV0, clamp ? VertexClampU0 | VertexClampV0 : 0);
}

// Lightmap ------------------------------------------------------------------------------------

bool MockupCylinder::RecreateLightMap() {
    const Layout layout = ComputeLayout();
    bool ok = false;
    if (Texture* made =
            MakeLightMapFor(*this, "MockupCylinder", layout.valid, layout.width, layout.height,
                            lightMap_, PixelFormat::A8R8G8B8, lightMapShare_, ok)) {
        TakeLightMap(made);
        BuildMesh();
    }
    return ok;
}

void MockupCylinder::CreateLightMap() {
    if (RecreateLightMap()) {
        FillLightMapStart(lightMap_, GetBrightness());
        SetRenderFlag(MockupMeshStateBits, false);
    }
}

void MockupCylinder::InitLightMap() {
    if (lightMap_ && RecreateLightMap()) {
        FillLightMapStart(lightMap_, GetBrightness());
        SetRenderFlag(MockupMeshStateBits, false);
    }
}

void MockupCylinder::UpdateLightMap() {
    if (!lightMap_ || !RecreateLightMap()) {
        return;
    }
    DeviceTexture* map = lightMap_->GetDeviceTexture();
    if (!map) {
        return;
    }
    ShowBusyCursor(0.0f, "FillLightMapTexture");
    map->Lock(TextureLockWrite, 0);
    const Layout layout = ComputeLayout();
    const Spacings spacings = GetSpacings();
    const auto around = static_cast<float>(spacings.around);
    const auto along = static_cast<float>(spacings.along);
    const auto cap = static_cast<float>(spacings.cap);
    const int32_t ox = lightMap_->GetLeft();
    const int32_t oy = lightMap_->GetTop();
    const LightBakeSettings* settings = GetLightBakeSettings();
    LightSampler* sampler = settings ? settings->sampler : nullptr;
    const float brightness = GetBrightness();
    const Float3 A = GetShapeAxis(*this);
    const float r = GetCylinderRadius();
    const float L = GetLength();
    const auto light = [&](const Float3& p, const Float3& n, const Float3& u, const Float3& v,
                           float s1, float s2, uint32_t mask) {
        if (!sampler) {
            return Float4(1.0f, 1.0f, 1.0f, 1.0f);
        }
        const Float4 sum = sampler->GatherLightSum(p, n, u, v, s1, s2, mask, this);
        return Float4(sum.x * brightness, sum.y * brightness, sum.z * brightness, 1.0f);
    };
    const auto put = [&](int32_t x, int32_t y, const Float4& c) {
        map->SetPixelFloat4(x + ox, y + oy, c.x, c.y, c.z, c.w);
    };

    const PartRect& hull = layout.rects[MockupHull];
    for (int32_t j = 0; j < hull.h; ++j) {
        // Around the hull the surface always goes on; along it, up to the rims.
        uint32_t mask = LightEdgePlusV | LightEdgeMinusV;
        float dt = 0.0f;
        if (!(mapFlags_ & MockupOffsideY)) {
            mask |= (j > 0 ? LightEdgePlusU : 0u) | (j < hull.h - 1 ? LightEdgeMinusU : 0u);
            dt = EdgeNudge(j, hull.h);
        }
        const float z = L * (0.5f - (static_cast<float>(j) + dt) / static_cast<float>(hull.h - 1));
        for (int32_t i = 0; i < hull.w; ++i) {
            const float theta = TwoPiF * static_cast<float>(i) / static_cast<float>(hull.w - 1);
            const Float3 local(std::cos(theta), std::sin(theta), 0.0f);
            const Float3 n = LocalToWorldDirection(local).NormalizedOrSelf();
            const Float3 p = LocalToWorld(Float3(r * local.x, r * local.y, z));
            put(hull.x + i, hull.y + j, light(p, n, A, n.Cross(A), around, along, mask));
        }
    }

    const PartRect& top = layout.rects[MockupTopCap];
    const PartRect& bottom = layout.rects[MockupBottomCap];
    const Float3 ux = GetWorldAxis(0).NormalizedOrSelf();
    const Float3 uy = GetWorldAxis(1).NormalizedOrSelf();
    for (int32_t j = 0; j < top.h; ++j) {
        const uint32_t rowMask =
            (j > 0 ? LightEdgeMinusV : 0u) | (j < top.h - 1 ? LightEdgePlusV : 0u);
        const float t = (static_cast<float>(j) + EdgeNudge(j, top.h)) /
                        static_cast<float>(top.h - 1);
        for (int32_t i = 0; i < top.w; ++i) {
            const uint32_t mask =
                rowMask | (i > 0 ? LightEdgeMinusU : 0u) | (i < top.w - 1 ? LightEdgePlusU : 0u);
            const float s = (static_cast<float>(i) + EdgeNudge(i, top.w)) /
                            static_cast<float>(top.w - 1);
            const Float3 p = LocalToWorld(Float3(2.0f * r * s - r, 2.0f * r * t - r, L * 0.5f));
            put(top.x + i, top.y + j, light(p, A, ux, uy, cap, cap, mask));
            put(bottom.x + i, bottom.y + j, light(p - A * L, A * -1.0f, ux, uy, cap, cap, mask));
        }
    }
    map->Lock(TextureUnlocked, 0);
    ShowBusyCursor(1.0f, "");
    SetRenderFlag(MockupMeshStateBits, false);
}

void MockupCylinder::SaveLightMap() {
    if (SaveMockupLightMap(*this, lightMap_)) {
        SetMapFlags(mapFlags_ | MockupApplyMap);
    }
}

// Drawing -------------------------------------------------------------------------------------

bool MockupCylinder::IsRenderable() {
    if (changeBits_ & ChangeMesh) {
        BuildMesh();
    }
    changeBits_ = 0;
    return true;
}

int32_t MockupCylinder::Render() {
    if (!TestRenderFlags(RenderGeometry)) {
        return 0;
    }
    if (hull_.mesh && hullTexture_) {
        SubmitMesh(*hull_.mesh);
    }
    if (caps_.mesh && capTexture_) {
        SubmitMesh(*caps_.mesh);
    }
    return 0;
}

void MockupCylinder::UpdateRenderState() {
    const uint32_t word = GetRenderFlagsWord();
    if (!(word & RenderColorStateValid)) {
        BuildMesh();
    }
    if (!hull_.mesh) {
        SetStateBits();
        return;
    }
    if (!(word & RenderStateValid)) {
        SetMockupMeshState(*this, *hull_.mesh, hull_.vertices.get(), hullTexture_, lightMap_);
        SetMockupMeshState(*this, *caps_.mesh, caps_.vertices.get(), capTexture_, lightMap_);
    }
    if (!(word & RenderTransformStateValid)) {
        hull_.mesh->SetWorldMatrix(GetWorldMatrix());
        caps_.mesh->SetWorldMatrix(GetWorldMatrix());
    }
    SetStateBits();
}

// Version upgrades -----------------------------------------------------------------------------

void MockupCylinder::UpgradeVersion(int fileVersion) {
    const bool castShadows = TestRenderFlags(RenderCastShadows);
    CollisionCylinder::UpgradeVersion(fileVersion);
    if (fileVersion == 38) {
        float brightness = 1.0f;
        brightness += (mockupFlags_ & MockupLightBias02) ? 0.2f : 0.0f;
        brightness += (mockupFlags_ & MockupLightBias04) ? 0.4f : 0.0f;
        SetBrightness(brightness);
        SetMockupFlags(mockupFlags_ & ~(MockupLightBias02 | MockupLightBias04));
    }
    if (fileVersion == 40) {
        SetRenderFlag(RenderCastShadows, castShadows);
    }
}

// Registration --------------------------------------------------------------------------------

ClassInfo* MockupCylinder::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = CollisionCylinder::RegisterClass();
    classInfo = new ClassInfo(
        "MockupCylinder", []() -> Entity* { return new MockupCylinder(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Mockup");
    using C = MockupCylinder;
    classInfo->AddResourceProperty<&C::GetHullTextureName, &C::SetHullTextureName>(
        "hulltexture:bmp", &GetImageTextureExtensions);
    classInfo->AddResourceProperty<&C::GetCapTextureName, &C::SetCapTextureName>(
        "captexture:bmp", &GetImageTextureExtensions);
    classInfo->AddProperty<PropertyBitfield, &C::GetMockupFlags, &C::SetMockupFlags>(
        "mockupflags:stretch_hull,stretch_cap,lightbias_0.2,lightbias_0.4,facemap_cap,"
        "segments_x2,square_texuv,mirror_texuv");
    classInfo->AddProperty<PropertyBitfield, &C::GetMapFlags, &C::SetMapFlags>(
        "mapflags:applymap,bias_0.2,bias_0.4,bias_-0.8,quad_x2,quad_x4,quad_x8,quad_x05,"
        "offside_x,offside_y,offside_z");
    classInfo->AddProperty<PropertyFloat, &C::GetTileSize, &C::SetTileSize>("tilesize:0.0,10.0");
    for (const char* dimension : {"radius", "length"}) {
        base->FindProperty(dimension)->AddListener(Property::ListenerOfObject, nullptr, classInfo,
                                                   &C::OnDimensionChanged, 0);
    }
    RegisterLightMapMethods(
        *classInfo, {BindSignalHandler<&C::OnCreateLightMap>(),
                     BindSignalHandler<&C::OnInitLightMap>(),
                     BindSignalHandler<&C::OnUpdateLightMap>(),
                     BindSignalHandler<&C::OnSaveLightMap>(), BindMethod<&C::ScriptGetLightMap>(),
                     BindMethod<&C::ScriptGetLightMapSize>(),
                     BindSignalHandler<&C::OnReleaseVideoMemory>(),
                     BindSignalHandler<&C::OnRestoreVideoMemory>(),
                     BindSignalHandler<&C::OnTextureResourceChanged>()});
    return classInfo;
}

} // namespace quarn
