#include "collision/mockup/MockupBox.h"

#include "core/math/Color.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "core/os/BusyCursor.h"
#include "device/ImageTexture.h"
#include "device/IndexBuffer.h"
#include "device/RenderDevice.h"
#include "device/VertexBuffer.h"
#include "render/LightBakeSettings.h"
#include "resources/Texture.h"
#include "resources/TextureSampling.h"

#include <bit>
#include <cmath>
#include <limits>

namespace quarn {

ClassInfo* MockupBox::classInfo = nullptr;

namespace {

constexpr uint32_t MeshStateBits = MockupMeshStateBits;
constexpr uint32_t FaceCountShift = 16;
constexpr float MeshMargin = 0.0002f;

// Corner k of the box: x from bit 0, y from bit 1, z from bit 2 (set: the + side).
constexpr int FaceCorners[6][4] = {{6, 2, 0, 4}, {3, 7, 5, 1}, {0, 1, 5, 4},
                                   {6, 7, 3, 2}, {2, 3, 1, 0}, {7, 6, 4, 5}};
constexpr Float3 FaceNormals[6] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0},
                                   {0, 1, 0},  {0, 0, -1}, {0, 0, 1}};
// The axes the face's first and second texture coordinates run along.
constexpr int FaceAxes[6][2] = {{2, 1}, {2, 1}, {0, 2}, {0, 2}, {0, 1}, {0, 1}};
constexpr Float2 CornerSets[3][4] = {{{0, 0}, {1, 0}, {1, 1}, {0, 1}},
                                     {{1, 0}, {1, 1}, {0, 1}, {0, 0}},
                                     {{1, 1}, {0, 1}, {0, 0}, {1, 0}}};
constexpr int DiagonalSets[6] = {2, 1, 0, 1, 1, 2};

float Axis(const Float3& v, int axis) {
    return axis == 0 ? v.x : axis == 1 ? v.y : v.z;
}

Float3 Corner(int k, Float3 half) {
    return {(k & 1) ? half.x : -half.x, (k & 2) ? half.y : -half.y, (k & 4) ? half.z : -half.z};
}

int64_t NextPowerOfTwo64(int64_t n) {
    int64_t p = 1;
    while (p < n) {
        p <<= 1;
    }
    return p;
}

uint32_t OffsideFlag(const Float3& edge) {
    return edge.x != 0.0f ? MockupOffsideX : edge.y != 0.0f ? MockupOffsideY : MockupOffsideZ;
}

} // namespace

MockupBox::MockupBox() {
    SetOpacity(1.0f);
    SetColor(0xFFFFFFFF);
    SetRenderType(RenderSolid);
    SetRenderFlags(MockupDefaultFlags);
    EnsureDeviceObjects();
}

MockupBox::~MockupBox() {
    mesh_.reset();
    if (texture_) {
        texture_->Release();
    }
    if (lightMap_) {
        lightMap_->Release();
    }
    vertices_.reset();
    indices_.reset();
}

// Properties -----------------------------------------------------------------------------------

const char* MockupBox::GetTextureName() const {
    return RelativePathOf(texture_);
}

void MockupBox::SetTextureName(const char* name) {
    if (ReplaceHeldResource(texture_, name && *name ? quarn::GetTexture(name, "") : nullptr)) {
        SetRenderFlag(RenderStateValid, false);
        SendSignal("propertychange", static_cast<Entity*>(this), true);
    }
}

void MockupBox::SetTextureMode(int32_t mode) {
    SetRenderFlag(MeshStateBits, false);
    textureMode_ = mode;
    changeBits_ |= ChangeMesh;
}

void MockupBox::SetTileSize(float size) {
    // NaN fails the comparison and takes the floor too.
    tileSize_ = size > 0.01f ? size : 0.01f;
    MarkMappingChanged();
}

void MockupBox::SetFaceFlags(uint32_t flags) {
    // The upper half holds the count of the faces below, never a value of the caller's: a
    // count that disagreed with the faces would size the mesh wrongly.
    const uint32_t faces = flags & 0xFFFF;
    faceFlags_ = faces | (static_cast<uint32_t>(std::popcount(faces & MockupFacesAll))
                          << FaceCountShift);
    MarkMappingChanged();
}

void MockupBox::MarkMappingChanged() {
    changeBits_ |= ChangeFaceMatrices | ChangeMesh;
    SetRenderFlag(MeshStateBits, false);
}

void MockupBox::SetMapFlags(uint32_t flags) {
    if ((flags ^ mapFlags_) & MockupApplyMap) {
        if (!(flags & MockupApplyMap)) {
            TakeLightMap(nullptr);
            lightMapShare_.Release();
        } else if (!lightMap_) {
            Texture* loaded = LoadSavedLightMap(*this);
            TakeLightMap(loaded);
        }
        SetRenderFlag(MeshStateBits, false);
    }
    mapFlags_ = flags;
}

void MockupBox::TakeLightMap(Texture* lightMap) {
    if (ReplaceHeldResource(lightMap_, lightMap)) {
        MarkMappingChanged();
    }
}

void MockupBox::OnSizeChanged(Entity* target, Entity&, const uint32_t*, const uint32_t*) {
    static_cast<MockupBox*>(target)->MarkMappingChanged();
}

void MockupBox::OnTextureResourceChanged(void* resource) {
    auto* entity = static_cast<Entity*>(resource);
    if (!entity || entity == texture_ || entity == lightMap_) {
        SetRenderFlag(MeshStateBits, false);
    }
}

// Queries -------------------------------------------------------------------------------------

PathString MockupBox::GetDescription() const {
    return PathString(GetTextureName());
}

bool MockupBox::IsVisible() {
    return (faceFlags_ & MockupFacesAll) != 0 && GetOpacity() != 0.0f;
}

bool MockupBox::IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) {
    if (!CollisionBox::IntersectRay(origin, direction, query)) {
        return false;
    }
    const auto word = static_cast<uint32_t>(query.current.part);
    const int face = static_cast<int>(word & 0x1F);
    return !(query.flags & PickFaceMasks) || (word & BoxPickFromInside) ||
           (face < 6 && FaceEnabled(face));
}

int MockupBox::FindFace(Float3 p) const {
    const Float3 size = GetSize();
    const float g[3] = {std::fabs(std::fabs(p.x) - size.x * 0.5f),
                        std::fabs(std::fabs(p.y) - size.y * 0.5f),
                        std::fabs(std::fabs(p.z) - size.z * 0.5f)};
    int axis = 0;
    if (g[0] > g[1]) {
        axis = 1;
    }
    if (g[2] < g[axis]) {
        axis = 2;
    }
    return 2 * axis + (Axis(p, axis) > 0.0f ? 1 : 0);
}

Float2 MockupBox::LightMapCoord(Float3 local, int f) {
    UpdateFaceMatrices();
    const Float3 uv = (*faceMatrices_)[f].Inverted().TransformCoord(local);
    return {uv.x, uv.y};
}

DeviceTexture* MockupBox::LightMapAt(Float3 point, uint32_t faceWord, Float2& uv) {
    DeviceTexture* map = lightMap_ ? lightMap_->GetDeviceTexture() : nullptr;
    if (!map) {
        return nullptr;
    }
    const Float3 local = WorldToLocal(point);
    const auto face = static_cast<int32_t>(faceWord);
    const int f = face < 0 ? FindFace(local) : face % 6;
    if (!FaceEnabled(f)) {
        return nullptr;
    }
    uv = LightMapCoord(local, f);
    return map;
}

Float4 MockupBox::GetColorRgba(Float3 point, uint32_t faceWord) {
    const Float4 k = UnpackColor(GetColor() | 0xFF000000);
    const Float4 t = texture_ ? UnpackColor(texture_->GetAverageColor()) : Float4(1, 1, 1, 1);
    Float4 l(1.0f, 1.0f, 1.0f, 1.0f);
    Float2 uv;
    if (DeviceTexture* map = LightMapAt(point, faceWord, uv)) {
        LightMapReadLock lock(*map);
        l = SampleTextureBilinearFloat4(*map, uv.x, uv.y);
    } else if (!lightMap_) {
        const float b = GetBrightness();
        l = Float4(b, b, b, 1.0f);
    }
    return {k.x * t.x * l.x, k.y * t.y * l.y, k.z * t.z * l.z, k.w * t.w * l.w};
}

uint32_t MockupBox::GetColorArgb(Float3 point, uint32_t faceWord) {
    uint32_t color = GetColor();
    if (texture_) {
        color = ModulateColor(color, texture_->GetAverageColor());
    }
    Float2 uv;
    if (DeviceTexture* map = LightMapAt(point, faceWord, uv)) {
        LightMapReadLock lock(*map);
        color = ModulateColor(color, SampleTextureBilinear(*map, uv.x, uv.y));
    }
    return color;
}

// Lightmap layout ------------------------------------------------------------------------------

float MockupBox::GetTexelSpacing() const {
    return MockupTexelSpacing(mapFlags_);
}

MockupBox::Layout MockupBox::ComputeLayout() const {
    Layout layout;
    if (!(faceFlags_ & MockupFacesAll)) {
        layout.valid = true;
        return layout;
    }
    const double d = GetTexelSpacing();
    if (!(d > 0.0)) {
        return layout;
    }
    const Float3 size = GetSize();
    int64_t n[3];
    for (int i = 0; i < 3; ++i) {
        const double count = std::ceil(static_cast<double>(Axis(size, i)) / d) + 1.0;
        if (!(count >= 0.0 && count <= std::numeric_limits<int32_t>::max())) {
            return layout;
        }
        n[i] = static_cast<int64_t>(count);
    }
    int s = 0;
    if (n[1] < n[s]) {
        s = 1;
    }
    if (n[2] < n[s]) {
        s = 2;
    }
    const int o1 = (s + 1) % 3;
    const int o2 = (s + 2) % 3;
    const int m = n[o2] < n[o1] ? o2 : o1;
    const int l = m == o1 ? o2 : o1;
    const int64_t nS = n[s];
    const int64_t nM = n[m];
    const int64_t nL = n[l];
    // Rectangles stay within 32 bits while the whole is: every offset is below the width.
    auto place = [&](int f, int64_t x, int64_t y, int64_t w, int64_t h) {
        layout.rects[f] = {static_cast<int32_t>(x), static_cast<int32_t>(y),
                           static_cast<int32_t>(w), static_cast<int32_t>(h)};
    };
    int64_t x = 0;
    place(2 * s, 0, 0, nM, nL);
    x += FaceEnabled(2 * s) ? nM : 0;
    place(2 * s + 1, x, 0, nM, nL);
    x += FaceEnabled(2 * s + 1) ? nM : 0;
    place(2 * m, x, 0, nS, nL);
    x += FaceEnabled(2 * m) ? nS : 0;
    place(2 * m + 1, x, 0, nS, nL);
    x += FaceEnabled(2 * m + 1) ? nS : 0;
    int64_t height = nL;
    const bool anyL = FaceEnabled(2 * l) || FaceEnabled(2 * l + 1);
    if (anyL && NextPowerOfTwo64(nL) >= nL + nS && x >= 2 * nM) {
        place(2 * l, 0, nL, nM, nS);
        place(2 * l + 1, nM, nL, nM, nS);
        height = nL + nS;
    } else {
        place(2 * l, x, 0, nS, nM);
        if (2 * nM <= nL) {
            place(2 * l + 1, x, nM, nS, nM);
            x += anyL ? nS : 0;
        } else {
            x += FaceEnabled(2 * l) ? nS : 0;
            place(2 * l + 1, x, 0, nS, nM);
            x += FaceEnabled(2 * l + 1) ? nS : 0;
        }
    }
    layout.width = x;
    layout.height = height;
    layout.valid = x <= std::numeric_limits<int32_t>::max() &&
                   height <= std::numeric_limits<int32_t>::max();
    return layout;
}

uint64_t MockupBox::GetLightMapBytes() const {
    const Layout layout = ComputeLayout();
    return layout.valid ? LightMapBytes(layout.width, layout.height, PixelFormat::A16B16G16R16F)
                        : 0;
}

Int2 MockupBox::GetLightMapSize() const {
    const Layout layout = ComputeLayout();
    if (!layout.valid) {
        return {};
    }
    return {static_cast<int32_t>(layout.width), static_cast<int32_t>(layout.height)};
}

bool MockupBox::FaceRotated(int f, const FaceRect& r) const {
    const Float3 size = GetSize();
    return (r.w < r.h) != (Axis(size, FaceAxes[f][1]) > Axis(size, FaceAxes[f][0]));
}

void MockupBox::FaceFrame(int f, const FaceRect& r, Float3 half, Float3& p0, Float3& e1,
                          Float3& e2) const {
    const int start = FaceRotated(f, r) ? 3 : 0;
    p0 = Corner(FaceCorners[f][start], half);
    e1 = Corner(FaceCorners[f][(start + 1) % 4], half) - p0;
    e2 = Corner(FaceCorners[f][(start + 3) % 4], half) - p0;
}

// Mesh ----------------------------------------------------------------------------------------

void MockupBox::EnsureDeviceObjects() {
    RenderDevice* device = TheRenderDevice();
    if (mesh_ || !device) {
        return;
    }
    vertices_ = device->CreateVertexData();
    vertices_->Create(24, MockupVertexFormat, 0);
    indices_ = device->CreateIndexData();
    indices_->Create(36, 0);
    indices_->FillQuadIndices(0, 6, 0, false);
    mesh_ = device->CreateDeviceMesh();
    mesh_->SetVertexStream(vertices_.get(), 0);
    mesh_->SetIndexData(indices_.get());
    mesh_->SetOptions(MeshOwnerBit, MeshOwnerBit);
    changeBits_ |= ChangeMesh;
}

void MockupBox::BuildMesh() {
    EnsureDeviceObjects();
    if (!vertices_) {
        return;
    }
    const Float3 size = GetSize();
    const Float3 half(size.x * 0.5f + MeshMargin, size.y * 0.5f + MeshMargin,
                      size.z * 0.5f + MeshMargin);
    const uint32_t faces = faceFlags_ >> FaceCountShift;
    vertices_->Create(4 * faces, MockupVertexFormat, 0);
    vertices_->SetWriteState(2);

    const Layout layout = ComputeLayout();
    for (int f = 0; f < 6; ++f) {
        faceRects_[f] = layout.rects[f];
    }
    DeviceTexture* map = lightMap_ ? lightMap_->GetDeviceTexture() : nullptr;
    Float2 allocated;
    Float2 origin;
    GetLightMapPlacement(lightMap_, allocated, origin);
    uint32_t v = 0;
    for (int f = 0; f < 6; ++f) {
        if (!FaceEnabled(f)) {
            continue;
        }
        const int set = textureMode_ == MockupTileDiagonal ? DiagonalSets[f] : 0;
        Float2 scale(1.0f, 1.0f);
        if (textureMode_ != MockupStretch) {
            float a = 2.0f * Axis(half, FaceAxes[f][0]);
            float b = 2.0f * Axis(half, FaceAxes[f][1]);
            if (set & 1) {
                std::swap(a, b);
            }
            scale = Float2(a / tileSize_, b / tileSize_);
        }
        const FaceRect& r = faceRects_[f];
        const int mapSet = FaceRotated(f, r) ? 1 : 0;
        for (int c = 0; c < 4; ++c, ++v) {
            vertices_->SetPosition(v, Corner(FaceCorners[f][c], half));
            vertices_->SetNormal(v, FaceNormals[f]);
            vertices_->SetTexCoord(v, 0, CornerSets[set][c].x * scale.x,
                                   CornerSets[set][c].y * scale.y);
            Float2 uv;
            if (map) {
                const Float2 st = CornerSets[mapSet][c];
                uv.x = (st.x * static_cast<float>(r.w - 1) + static_cast<float>(r.x) + origin.x +
                        0.5f) / allocated.x;
                uv.y = (st.y * static_cast<float>(r.h - 1) + static_cast<float>(r.y) + origin.y +
                        0.5f) / allocated.y;
            }
            vertices_->SetTexCoord(v, 1, uv.x, uv.y);
        }
    }
    vertices_->SetWriteState(0);
    vertices_->SetFlags(VertexClampU0 | VertexClampV0,
                        textureMode_ == MockupStretch ? VertexClampU0 | VertexClampV0 : 0);
    indices_->SetCount(6 * faces);
}

void MockupBox::UpdateFaceMatrices() {
    if (faceMatrices_ && !(changeBits_ & ChangeFaceMatrices)) {
        return;
    }
    if (!faceMatrices_) {
        faceMatrices_ = std::make_unique<std::array<Matrix4, 6>>();
    }
    changeBits_ &= ~ChangeFaceMatrices;
    const Layout layout = ComputeLayout();
    Float2 allocated;
    Float2 origin;
    GetLightMapPlacement(lightMap_, allocated, origin);
    const Float3 size = GetSize();
    const Float3 half(size.x * 0.5f, size.y * 0.5f, size.z * 0.5f);
    for (int f = 0; f < 6; ++f) {
        Matrix4& m = (*faceMatrices_)[f];
        m = Matrix4();
        if (!FaceEnabled(f)) {
            continue;
        }
        const FaceRect& r = layout.rects[f];
        Float3 p0;
        Float3 e1;
        Float3 e2;
        FaceFrame(f, r, half, p0, e1, e2);
        // (u, v) -> p0 + e1 s + e2 t, with s and t from the half-texel rule of the mesh.
        const float w1 = static_cast<float>(r.w - 1);
        const float h1 = static_cast<float>(r.h - 1);
        const Float3 row0 = e1 * (allocated.x / w1);
        const Float3 row1 = e2 * (allocated.y / h1);
        const Float3 row3 = p0 - e1 * ((static_cast<float>(r.x) + origin.x + 0.5f) / w1) -
                            e2 * ((static_cast<float>(r.y) + origin.y + 0.5f) / h1);
        const Float3 rows[4] = {row0, row1, FaceNormals[f], row3};
        for (int i = 0; i < 4; ++i) {
            m.m[4 * i] = rows[i].x;
            m.m[4 * i + 1] = rows[i].y;
            m.m[4 * i + 2] = rows[i].z;
            m.m[4 * i + 3] = i == 3 ? 1.0f : 0.0f;
        }
    }
}

// Lightmap ------------------------------------------------------------------------------------

bool MockupBox::RecreateLightMap(bool fill) {
    const Layout layout = ComputeLayout();
    bool ok = false;
    if (Texture* made =
            MakeLightMapFor(*this, "MockupBox", layout.valid, layout.width, layout.height,
                            lightMap_, PixelFormat::A16B16G16R16F, lightMapShare_, ok)) {
        TakeLightMap(made);
        BuildMesh();
    }
    if (ok && fill) {
        FillLightMapStart(lightMap_, GetBrightness());
        SetRenderFlag(MeshStateBits, false);
    }
    return ok;
}

void MockupBox::CreateLightMap() {
    RecreateLightMap(true);
}

void MockupBox::InitLightMap() {
    if (lightMap_ && RecreateLightMap(false)) {
        FillLightMapStart(lightMap_, GetBrightness());
        SetRenderFlag(MeshStateBits, false);
    }
}

void MockupBox::UpdateLightMap() {
    if (!lightMap_ || !RecreateLightMap(false)) {
        return;
    }
    DeviceTexture* map = lightMap_->GetDeviceTexture();
    if (!map) {
        return;
    }
    ShowBusyCursor(0.0f, "Filling lightmap");
    const Float3 size = GetSize();
    const Float3 half(size.x * 0.5f, size.y * 0.5f, size.z * 0.5f);
    map->Lock(TextureLockWrite, 0);
    const Layout layout = ComputeLayout();
    const int32_t ox = lightMap_->GetLeft();
    const int32_t oy = lightMap_->GetTop();
    const LightBakeSettings* settings = GetLightBakeSettings();
    LightSampler* sampler = settings ? settings->sampler : nullptr;
    const float brightness = GetBrightness();
    const float spacing = GetTexelSpacing();
    for (int f = 0; f < 6; ++f) {
        if (!FaceEnabled(f)) {
            continue;
        }
        const FaceRect& r = layout.rects[f];
        Float3 p0;
        Float3 e1;
        Float3 e2;
        FaceFrame(f, r, half, p0, e1, e2);
        const Float3 p0w = LocalToWorld(p0);
        const Float3 w1 = LocalToWorldDirection(e1);
        const Float3 w2 = LocalToWorldDirection(e2);
        const Float3 n = w1.Cross(w2).NormalizedOrSelf();
        const Float3 u = w1.NormalizedOrSelf();
        const Float3 vAxis = w2.NormalizedOrSelf();
        const bool offsideS = mapFlags_ & OffsideFlag(e1);
        const bool offsideT = mapFlags_ & OffsideFlag(e2);
        for (int32_t j = 0; j < r.h; ++j) {
            // Edge rows and columns sample just inside the face, unless the edge is offside;
            // the mask tells the supersampling on which sides the surface goes on.
            float dt = 0.0f;
            uint32_t rowMask = LightEdgePlusV | LightEdgeMinusV;
            if (!offsideT) {
                dt += j == 0 ? 0.01f : 0.0f;
                dt -= j == r.h - 1 ? 0.01f : 0.0f;
                rowMask = (j > 0 ? LightEdgeMinusV : 0u) | (j < r.h - 1 ? LightEdgePlusV : 0u);
            }
            const float t = (static_cast<float>(j) + dt) / static_cast<float>(r.h - 1);
            for (int32_t i = 0; i < r.w; ++i) {
                float ds = 0.0f;
                uint32_t mask = rowMask | LightEdgePlusU | LightEdgeMinusU;
                if (!offsideS) {
                    ds += i == 0 ? 0.01f : 0.0f;
                    ds -= i == r.w - 1 ? 0.01f : 0.0f;
                    mask = rowMask | (i > 0 ? LightEdgeMinusU : 0u) |
                           (i < r.w - 1 ? LightEdgePlusU : 0u);
                }
                const float s = (static_cast<float>(i) + ds) / static_cast<float>(r.w - 1);
                Float4 colour(1.0f, 1.0f, 1.0f, 1.0f);
                if (sampler) {
                    const Float4 light = sampler->GatherLightSum(
                        p0w + w1 * s + w2 * t, n, u, vAxis, spacing, spacing, mask, this);
                    colour = Float4(light.x * brightness, light.y * brightness,
                                    light.z * brightness, 1.0f);
                }
                map->SetPixelFloat4(r.x + ox + i, r.y + oy + j, colour.x, colour.y, colour.z,
                                    colour.w);
            }
        }
    }
    map->Lock(TextureUnlocked, 0);
    ShowBusyCursor(1.0f, "");
    SetRenderFlag(MeshStateBits, false);
}

void MockupBox::SaveLightMap() {
    if (SaveMockupLightMap(*this, lightMap_)) {
        SetMapFlags(mapFlags_ | MockupApplyMap);
    }
}

// Drawing -------------------------------------------------------------------------------------

bool MockupBox::IsRenderable() {
    if (changeBits_ & ChangeMesh) {
        BuildMesh();
    }
    changeBits_ &= ~ChangeMesh;
    return true;
}

int32_t MockupBox::Render() {
    if (mesh_ && TestRenderFlags(RenderGeometry)) {
        SubmitMesh(*mesh_);
    }
    return 0;
}

void MockupBox::UpdateRenderState() {
    const uint32_t word = GetRenderFlagsWord();
    if (!(word & RenderColorStateValid)) {
        BuildMesh();
    }
    if (!mesh_) {
        SetStateBits();
        return;
    }
    if (!(word & RenderStateValid)) {
        SetMockupMeshState(*this, *mesh_, vertices_.get(), texture_, lightMap_);
    }
    if (!(word & RenderTransformStateValid)) {
        mesh_->SetWorldMatrix(GetWorldMatrix());
    }
    SetStateBits();
}

// Version upgrades -----------------------------------------------------------------------------

void MockupBox::UpgradeVersion(int fileVersion) {
    const bool castShadows = TestRenderFlags(RenderCastShadows);
    CollisionBox::UpgradeVersion(fileVersion);
    if (fileVersion == 5) {
        SetTileSize(tileSize_ * 2.0f);
    }
    if (fileVersion == 38) {
        // The old brightness bias bits sat above the faces.
        float brightness = 1.0f;
        brightness += (faceFlags_ & 0x40) ? 0.2f : 0.0f;
        brightness += (faceFlags_ & 0x80) ? 0.4f : 0.0f;
        brightness -= (faceFlags_ & 0x100) ? 0.8f : 0.0f;
        SetBrightness(brightness);
        SetFaceFlags(faceFlags_ & 0x3F);
    }
    if (fileVersion == 40) {
        SetRenderFlag(RenderCastShadows, castShadows);
    }
}

// Registration --------------------------------------------------------------------------------

ClassInfo* MockupBox::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = CollisionBox::RegisterClass();
    classInfo = new ClassInfo(
        "MockupBox", []() -> Entity* { return new MockupBox(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Mockup");
    using B = MockupBox;
    classInfo->AddResourceProperty<&B::GetTextureName, &B::SetTextureName>(
        "texture:bmp", &GetImageTextureExtensions);
    classInfo->AddProperty<PropertyEnum, &B::GetTextureMode, &B::SetTextureMode>(
        "texturemode:STRETCH,TILE,TILE_DIAG,CENTRE");
    classInfo->AddProperty<PropertyFloat, &B::GetTileSize, &B::SetTileSize>("tilesize:0.0,10.0");
    classInfo->AddProperty<PropertyBitfield, &B::GetFaceFlags, &B::SetFaceFlags>(
        "faceflags:face_x1,face_x2,face_y1,face_y2,face_z1,face_z2");
    classInfo->AddProperty<PropertyBitfield, &B::GetMapFlags, &B::SetMapFlags>(
        "mapflags:applymap,bias_0.2,bias_0.4,bias_-0.8,quad_x2,quad_x4,quad_x8,quad_x05,"
        "offside_x,offside_y,offside_z");
    base->FindProperty("size")->AddListener(Property::ListenerOfObject, nullptr, classInfo,
                                            &B::OnSizeChanged, 0);

    RegisterLightMapMethods(
        *classInfo, {BindSignalHandler<&B::OnCreateLightMap>(),
                     BindSignalHandler<&B::OnInitLightMap>(),
                     BindSignalHandler<&B::OnUpdateLightMap>(),
                     BindSignalHandler<&B::OnSaveLightMap>(), BindMethod<&B::ScriptGetLightMap>(),
                     BindMethod<&B::ScriptGetLightMapSize>(),
                     BindSignalHandler<&B::OnReleaseVideoMemory>(),
                     BindSignalHandler<&B::OnRestoreVideoMemory>(),
                     BindSignalHandler<&B::OnTextureResourceChanged>()});
    return classInfo;
}

} // namespace quarn
