#include "render/RenderObject.h"

#include "core/filesystem/FileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "device/BatchStore.h"
#include "device/IndexBuffer.h"
#include "device/RenderDevice.h"
#include "device/VertexBuffer.h"
#include "render/Camera.h"
#include "render/RenderQueue.h"
#include "resources/EffectShader.h"

#include <cmath>
#include <limits>

namespace quarn {

ClassInfo* RenderObject::classInfo = nullptr;
Property* RenderObject::colorProperty_ = nullptr;
Property* RenderObject::blendModeProperty_ = nullptr;
Property* RenderObject::renderFlagsProperty_ = nullptr;

namespace {

// trunc(opacity x 255) with the opacity clamped to 0..1 (NaN counts as 0), so the byte never
// spills into the colour.
uint32_t OpacityByte(float opacity) {
    if (!(opacity > 0.0f)) {
        return 0;
    }
    if (opacity >= 1.0f) {
        return 0xFF;
    }
    return static_cast<uint32_t>(opacity * 255.0f);
}

constexpr uint32_t ModeNumber(BlendMode mode) {
    return static_cast<uint32_t>(mode);
}

// Carried in the mesh's state word, so that it parts batches; the device filters linearly
// whatever it says.
constexpr uint32_t MeshBilinear = 0x200;

constexpr uint32_t TexCoordBits =
    VertexTexCoord0 | VertexTexCoord0 << 1 | VertexTexCoord0 << 2 | VertexTexCoord0 << 3;

// Type arithmetic of the version upgrades, wrapping instead of overflowing on a damaged file.
int32_t Raised(int32_t type, int32_t by) {
    return static_cast<int32_t>(static_cast<uint32_t>(type) + static_cast<uint32_t>(by));
}

} // namespace

RenderObject::RenderObject() {
    SetFlag(NodeKindRenderObject, true);
}

RenderObject::~RenderObject() {
    if (shader_) {
        shader_->Release();
    }
}

bool RenderObject::IsVisible() {
    return opacity_ > 0.0f && renderType_ != RenderInvisible;
}

bool RenderObject::IntersectRay(const Float3&, const Float3&, PickQuery&) {
    return false;
}

uint32_t RenderObject::GetColorArgb(Float3, uint32_t) {
    return 0xFFFFFFFF;
}

Float4 RenderObject::GetColorRgba(Float3, uint32_t) {
    return {1.0f, 1.0f, 1.0f, 1.0f};
}

bool RenderObject::IsOpaque() {
    return (blendMode_ == ModeNumber(BlendMode::Normal) ||
            blendMode_ == ModeNumber(BlendMode::Opaque)) &&
           opacity_ == 1.0f;
}

Float3 RenderObject::GetAnchorPoint(int32_t) {
    return {};
}

void RenderObject::UpdateWorldBoundingBox() {
    const Float3 position = GetWorldPosition();
    worldBox_ = {position, position};
}

void RenderObject::SetWorldBoxOfLocal(const Float3& lo, const Float3& hi) {
    const Float3 h = (hi - lo) * 0.5f;
    const Float3 centre = LocalToWorld((lo + hi) * 0.5f);
    const Matrix4& m = GetWorldMatrix();
    const Float3 extent(std::fabs(h.x * m.m[0]) + std::fabs(h.y * m.m[4]) + std::fabs(h.z * m.m[8]),
                        std::fabs(h.x * m.m[1]) + std::fabs(h.y * m.m[5]) + std::fabs(h.z * m.m[9]),
                        std::fabs(h.x * m.m[2]) + std::fabs(h.y * m.m[6]) +
                            std::fabs(h.z * m.m[10]));
    worldBox_ = {centre - extent, centre + extent};
}

Aabb RenderObject::GetWorldBoundingBox() {
    if (!(renderFlags_ & RenderWorldBoxValid)) {
        UpdateWorldBoundingBox();
        renderFlags_ |= RenderWorldBoxValid;
    }
    return worldBox_;
}

Aabb RenderObject::GetLocalBoundingBox() {
    if (!(renderFlags_ & RenderLocalBoxValid)) {
        UpdateBoundingBox();
        renderFlags_ |= RenderLocalBoxValid;
    }
    return localBox_;
}

void RenderObject::InvalidateTransform() {
    renderFlags_ &= ~static_cast<uint32_t>(RenderLocalBoxValid | RenderWorldBoxValid |
                                           RenderTransformStateValid);
    Pivot::InvalidateTransform();
}

// Properties ------------------------------------------------------------------------------------

void RenderObject::SetColor(uint32_t color) {
    if (color == color_) {
        return;
    }
    const uint32_t old = color_;
    color_ = color;
    renderFlags_ &= ~static_cast<uint32_t>(RenderStateValid | RenderColorStateValid);
    if (colorProperty_) {
        colorProperty_->NotifyListeners(*this, &old, &color);
    }
}

void RenderObject::SetBrightness(float brightness) {
    if (brightness != brightness_) {
        brightness_ = brightness;
        renderFlags_ &= ~static_cast<uint32_t>(RenderStateValid);
    }
}

void RenderObject::SetOpacity(float opacity) {
    if (opacity != opacity_) {
        opacity_ = opacity;
        renderFlags_ &= ~static_cast<uint32_t>(RenderStateValid | RenderColorStateValid);
    }
}

void RenderObject::SetRenderType(int32_t type) {
    if (type == renderType_) {
        return;
    }
    const auto set = [this](uint32_t bits, bool on) {
        renderFlags_ = on ? renderFlags_ | bits : renderFlags_ & ~bits;
    };
    switch (type) {
    case RenderBackdrop:
        set(RenderZWrite | RenderZBias | RenderZTest, false);
        break;
    case RenderSolid:
        set(RenderZBias, false);
        set(RenderZWrite | RenderZTest, true);
        break;
    case RenderDecal:
    case RenderDecal2:
        set(RenderZWrite, false);
        set(RenderZBias | RenderZTest, true);
        break;
    default:
        if (renderType_ == RenderBackdrop || renderType_ == RenderDecal ||
            renderType_ == RenderDecal2) {
            set(RenderZBias, false);
            set(RenderZWrite | RenderZTest, true);
        }
        break;
    }
    set(RenderStateValid, false);
    renderType_ = type;
}

void RenderObject::SetBlendMode(uint32_t mode) {
    if (mode == blendMode_) {
        return;
    }
    const uint32_t old = blendMode_;
    renderFlags_ &= ~static_cast<uint32_t>(RenderStateValid);
    blendMode_ = mode;
    const uint32_t filter = ModeNumber(BlendMode::Filter);
    if (mode == filter || old == filter) {
        renderFlags_ &= ~static_cast<uint32_t>(RenderColorStateValid);
    }
    if (blendModeProperty_) {
        blendModeProperty_->NotifyListeners(*this, &old, &mode);
    }
}

void RenderObject::SetRenderFlags(uint32_t flags) {
    const uint32_t old = renderFlags_ & RenderPublicFlags;
    const uint32_t now = flags & RenderPublicFlags;
    if (now == old) {
        return;
    }
    renderFlags_ =
        (renderFlags_ & ~static_cast<uint32_t>(RenderPublicFlags | RenderStateValid)) | now;
    if (renderFlagsProperty_) {
        renderFlagsProperty_->NotifyListeners(*this, &old, &now);
    }
}

void RenderObject::SetRenderFlag(uint32_t mask, bool on) {
    if (((renderFlags_ & mask) != 0) == on) {
        return;
    }
    renderFlags_ = on ? renderFlags_ | mask : renderFlags_ & ~mask;
    if (mask & RenderPublicFlags) {
        renderFlags_ &= ~static_cast<uint32_t>(RenderStateValid);
    }
}

void RenderObject::SetShaderName(const char* name) {
    if (!ReplaceEffectShader(shader_, shaderName_, name)) {
        return;
    }
    SendSignal("propertychange", static_cast<Entity*>(this), true);
    renderFlags_ &= ~static_cast<uint32_t>(RenderStateValid);
}

uint32_t RenderObject::GetColorWithOpacity() const {
    return OpacityByte(opacity_) << 24 | (color_ & 0xFFFFFF);
}

uint32_t RenderObject::GetTextureFactor() const {
    uint32_t rgb = color_ & 0xFFFFFF;
    if (blendMode_ == ModeNumber(BlendMode::Filter) ||
        blendMode_ == ModeNumber(BlendMode::FilterInvAlpha)) {
        rgb = 0xFFFFFF - rgb;
    }
    return OpacityByte(opacity_) << 24 | rgb;
}

float RenderObject::GetPickDistance() const {
    switch (renderType_) {
    case RenderInvisible:
    case RenderBackdrop:
    case RenderNonSolid2:
        return std::numeric_limits<float>::max();
    case RenderBackdrop2:
    case RenderSolid:
    case RenderDecal:
    case RenderDecal2:
    case RenderNonSolid:
    case RenderShadowVolume:
        return 1.0f;
    case RenderStencil:
        return 0.0003f;
    case RenderJB2D:
    case RenderPostProcess:
    case Render2D:
    case Render3DOn2DSolid:
        return 0.0002f;
    case Render3DOn2DDecal:
        return 0.0001f;
    default:
        return 0.0f;
    }
}

uint32_t RenderObject::GetDeviceRenderFlags() const {
    const uint32_t f = renderFlags_;
    const int32_t mode = GetMatrixMode();
    const bool lit = mode != MatrixScreen && mode != MatrixViewSpace;
    uint32_t word = MeshAlphaBlend;
    word |= (f & RenderWireframe) ? MeshWireframe : 0;
    word |= (f & RenderBilinear) ? MeshBilinear : 0;
    word |= (f & RenderZWrite) ? MeshZWrite : 0;
    word |= (f & RenderDoubleSided) ? MeshNoCulling : 0;
    word |= ((f & RenderLighting) && lit) ? MeshLighting : 0;
    word |= ((f & RenderSpecular) && (f & RenderLighting) && lit) ? MeshSpecular : 0;
    word |= ((f & RenderFog) && lit) ? MeshFog : 0;
    word |= (f & RenderCubeMap) ? MeshNeverRecord : 0;
    word |= (f & RenderHardAlpha) ? MeshAlphaRef128 : 0;
    word |= (f & RenderZBias) ? MeshDepthBias : 0;
    word |= (f & RenderZTest) ? MeshZEnable : 0;
    return word;
}

StencilMode RenderObject::GetStencilMode() const {
    if (renderType_ == RenderShadowVolume) {
        return StencilMode::VolumeZFail;
    }
    if (renderFlags_ & RenderStencilWrite) {
        return StencilMode::Write;
    }
    if (renderType_ == RenderStencil || (renderFlags_ & RenderStencilRead)) {
        return StencilMode::Read;
    }
    return StencilMode::None;
}

void RenderObject::SubmitMesh(DeviceMesh& mesh) {
    if (!GetPassRule(CurrentPass).immediate && (CurrentTargetFlags & TargetBatching)) {
        BatchStore& store = TheBatchStore();
        if (Batch* batch = store.SelectBatch(mesh, CurrentBatchPassId)) {
            store.AddMesh(*batch, mesh);
            return;
        }
    }
    mesh.Draw();
}

void RenderObject::UpdateFlatMesh(FlatMeshParts parts, uint32_t format, uint32_t options,
                                  const std::function<void()>& build,
                                  const std::function<void(DeviceMesh&)>& setState) {
    RenderDevice* device = TheRenderDevice();
    if (!device) {
        return;
    }
    const int32_t mode = GetMatrixMode();
    bool stateValid = renderFlags_ & RenderStateValid;
    bool geometryValid = renderFlags_ & RenderColorStateValid;
    const bool transformValid = renderFlags_ & RenderTransformStateValid;
    const bool holdsPosition =
        mode == MatrixScreen || (mode == MatrixViewSpace && (options & FlatRebuildOnViewSpaceMove));
    if (holdsPosition && !transformValid) {
        geometryValid = false;
    }
    // A new matrix mode or lighting flag needs another vertex layout, which the mesh must see.
    if (!parts.vertices || parts.vertices->GetFormat() != format) {
        geometryValid = false;
        stateValid = false;
    }
    if (!geometryValid) {
        if (!parts.vertices) {
            parts.vertices = device->CreateVertexData();
            parts.indices = device->CreateIndexData();
        }
        build();
    }
    if (!parts.mesh) {
        parts.mesh = device->CreateDeviceMesh();
        parts.mesh->SetVertexStream(parts.vertices.get(), 0);
        parts.mesh->SetIndexData(parts.indices.get());
        if (options & FlatTagMeshWithNode) {
            parts.mesh->SetUserValueB(GetSerial());
        }
    }
    DeviceMesh& mesh = *parts.mesh;
    if (!stateValid) {
        mesh.SetRenderFlagsWord(GetDeviceRenderFlags());
        mesh.SetOptions(MeshOwnerBit, MeshOwnerBit);
        const bool stencilRead = renderType_ == RenderStencil || TestRenderFlags(RenderStencilRead);
        mesh.SetStencilMode(stencilRead ? StencilMode::Read : StencilMode::None);
        mesh.SetOptions(MeshScreenSpace, mode == MatrixViewSpace ? MeshScreenSpace : 0);
        setState(mesh);
    }
    if (!transformValid) {
        mesh.SetWorldMatrix(mode == MatrixScreen ? Matrix4{} : GetWorldMatrix());
    }
    SetStateBits();
}

bool RenderObject::ApplyMeshState(DeviceMesh& mesh, VertexBuffer* vertices, IndexBuffer* indices,
                                  DeviceTexture* texture, uint32_t submeshMask) {
    const auto blend = static_cast<BlendMode>(blendMode_);
    mesh.SetRenderFlagsWord(GetDeviceRenderFlags());
    mesh.SetStencilMode(GetStencilMode());
    mesh.SetVertexStream(vertices, 0);
    mesh.SetIndexData(indices);
    mesh.SetWorldMatrix(GetWorldMatrix());
    if (texture && vertices && (vertices->GetFormat() & TexCoordBits)) {
        mesh.SetLayerCount(2);
        mesh.SetLayer(0, texture, blend);
        mesh.SetLayer(1, nullptr, BlendMode::Normal);
    } else {
        mesh.SetLayerCount(1);
        mesh.SetLayer(0, nullptr, blend);
    }
    mesh.SetColor(GetColorWithOpacity());
    mesh.SetShader(shader_ ? shader_->GetShader() : nullptr);
    mesh.SetShaderParameter(Float4(brightness_, brightness_, brightness_, brightness_));
    mesh.SetSubmeshMask(submeshMask);
    mesh.SetOptions(MeshOwnerBit, MeshOwnerBit);
    return true;
}

float RenderObject::ScriptIntersectRay(Float3 origin, Float3 direction) {
    PickQuery query;
    query.Init(PickQuery::DefaultMaxDistance, PickAnyObject, 0, 0);
    const Float2 screen = CurrentCameraWorldToScreen(origin + direction);
    query.screenPoint = Float2(std::trunc(screen.x), std::trunc(screen.y));
    query.current.node = this;
    query.current.object = this;
    return IntersectRay(origin, direction, query) ? query.current.distance : -1.0f;
}

// Version upgrades ------------------------------------------------------------------------------

void RenderObject::UpgradeVersion(int fileVersion) {
    Pivot::UpgradeVersion(fileVersion);
    const int32_t type = renderType_;
    switch (fileVersion) {
    case 1: {
        int32_t raised = type >= 1 ? Raised(type, 1) : type;
        SetRenderType(raised >= 7 ? Raised(raised, 1) : raised);
        break;
    }
    case 6: {
        // Blending moved out of the flags word into the blend mode.
        const uint32_t flags = GetRenderFlags();
        BlendMode mode = BlendMode::Normal;
        if (flags & 0x8) {
            mode = BlendMode::Add;
        }
        if (flags & 0x200) {
            mode = BlendMode::Filter;
        }
        if (flags & 0x400) {
            mode = BlendMode::Multiply;
        }
        SetBlendMode(ModeNumber(mode));
        SetRenderFlags(((flags >> 1) & 0xF8) | (flags & 7));
        break;
    }
    case 8:
        SetRenderFlag(RenderBilinear, true);
        break;
    case 15:
        if (type >= 10) {
            SetRenderType(Raised(type, 1));
        }
        break;
    case 20:
        if (type == RenderSolid) {
            SetRenderFlag(RenderZWrite, false);
            SetRenderFlag(RenderZBias, true);
        } else if (type == RenderDecal2) {
            SetRenderFlag(RenderZBias, true);
            SetRenderType(RenderDecal);
        } else if (type == RenderShadowVolume) {
            SetRenderType(RenderDecal);
        } else {
            int32_t lowered = type > 8 ? Raised(type, -1) : type;
            SetRenderType(lowered > 5 ? Raised(lowered, -1) : lowered);
        }
        break;
    case 32: {
        const int32_t raised = type > 3 ? Raised(type, 1) : type;
        renderType_ = raised > 11 ? Raised(raised, 3) : raised;
        break;
    }
    case 34:
        renderType_ = type > 1 ? Raised(type, 1) : type;
        break;
    case 36:
        SetRenderFlag(RenderClickable, true);
        break;
    case 37:
        renderType_ = type > 6 ? Raised(type, 1) : type;
        break;
    case 39:
        SetRenderFlag(RenderCastShadows, true);
        break;
    case 40:
        SetRenderFlag(RenderCastShadows, false);
        break;
    case 43:
        SetRenderFlag(RenderZTest, true);
        break;
    default:
        break;
    }
}

// Registration --------------------------------------------------------------------------------

ClassInfo* RenderObject::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo("RenderObject", nullptr, &classInfo);
    classInfo->SetParent(Pivot::RegisterClass());

    colorProperty_ =
        classInfo->AddProperty<PropertyColor, &RenderObject::GetColor, &RenderObject::SetColor>(
            "color:colorpick");
    classInfo
        ->AddProperty<PropertyFloat, &RenderObject::GetBrightness, &RenderObject::SetBrightness>(
            "brightness");
    classInfo->AddProperty<PropertyFloat, &RenderObject::GetOpacity, &RenderObject::SetOpacity>(
        "opacity:0.0,1.0,,0.001");
    classInfo
        ->AddProperty<PropertyEnum, &RenderObject::GetRenderType, &RenderObject::SetRenderType>(
            "rendertype:INVISIBLE,BACKDROP,BACKDROP2,SOLID,DECAL,DECAL2,NONSOLID,NONSOLID2,"
            "SHADOWVOLUME,STENCIL,JB2D,POSTPROCESS,2D,3DON2D_SOLID,3DON2D_DECAL,3DON2D_DECAL2,"
            "3DON2D_NONSOLID,OSD");
    blendModeProperty_ =
        classInfo
            ->AddProperty<PropertyEnum, &RenderObject::GetBlendMode, &RenderObject::SetBlendMode>(
                "blendmode:NORMAL,ADD,FILTER,MULTIPLY,LIGHTEN,DARKEN,INVERT,OPAQUE,INVISIBLE,"
                "NEGATIVE,COLORASALPHA,ADDSIGNED,POWER2,SUBTRACT,NORMAL_INVALPHA,ADD_INVALPHA,"
                "SUB_INVALPHA,FILTER_INVALPHA");
    renderFlagsProperty_ = classInfo->AddProperty<PropertyBitfield, &RenderObject::GetRenderFlags,
                                                  &RenderObject::SetRenderFlags>(
        "renderflags:geometry,wireframe,gizmo,zwrite,doublesided,lighting,specular,fog,"
        "cubemap,bilinear,zbias,ztest,castshadows,hardalpha,stencil_write,stencil_read,"
        "clickable,sortinggroup,sortingplane,sortingbias");
    classInfo->AddResourceProperty<&RenderObject::GetShaderName, &RenderObject::SetShaderName>(
        "shader:fx", &EffectShader::GetLoadableExtensions);

    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "(float3, float3):float",
                         BindMethod<&RenderObject::ScriptIntersectRay>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():float3",
                         BindMethod<&RenderObject::ScriptWorldBoxMin>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():float3",
                         BindMethod<&RenderObject::ScriptWorldBoxMax>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():float3",
                         BindMethod<&RenderObject::ScriptLocalBoxMin>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():float3",
                         BindMethod<&RenderObject::ScriptLocalBoxMax>(), MethodScript);
    classInfo->AddMethod("releasevideomemory", "(entity)",
                         BindSignalHandler<&RenderObject::OnReleaseVideoMemory>(),
                         MethodClassSignal);
    classInfo->AddMethod("restorevideomemory", "(entity)",
                         BindSignalHandler<&RenderObject::OnRestoreVideoMemory>(),
                         MethodClassSignal);
    RegisterClassSignal("releasevideomemory", classInfo);
    RegisterClassSignal("restorevideomemory", classInfo);

    // The render types (POSTPROCESS has no name), blend modes 0-13 and the render flags.
    for (int32_t type = 0; type < RenderTypeCount; ++type) {
        if (type != RenderPostProcess) {
            RegisterNamedConstant(NextShortName(), type);
        }
    }
    for (int32_t mode = 0; mode <= 13; ++mode) {
        RegisterNamedConstant(NextShortName(), mode);
    }
    RegisterNamedConstant(NextShortName(), 0);
    for (int bit = 0; bit < 20; ++bit) {
        RegisterNamedConstant(NextShortName(), static_cast<int32_t>(1u << bit));
    }
    return classInfo;
}

} // namespace quarn
