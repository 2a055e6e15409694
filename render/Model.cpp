#include "render/Model.h"

#include "core/debug/Log.h"
#include "core/math/Color.h"
#include "core/math/Intersection.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "device/ImageTexture.h"
#include "device/RenderDevice.h"
#include "device/VertexBuffer.h"
#include "render/AnnotationSink.h"
#include "render/LightMapPath.h"
#include "render/VertexColours.h"
#include "resources/Mesh.h"
#include "resources/Texture.h"

#include <cmath>

namespace quarn {

ClassInfo* Model::classInfo = nullptr;

namespace {

// What a new mesh makes stale: the device state and both boxes.
constexpr uint32_t MeshBits =
    RenderStateValid | RenderColorStateValid | RenderLocalBoxValid | RenderWorldBoxValid;
// What new vertex colours and reloaded resources make stale.
constexpr uint32_t ColorBits = RenderStateValid | RenderColorStateValid;

constexpr uint32_t NormalLineColor = 0xFFFF0000;
constexpr uint32_t TriangleNumberBits = 0x0FFFFFFF;

bool IsSubmeshShown(uint32_t submeshFlags, uint32_t submesh) {
    return ((submeshFlags >> (submesh % 32)) & 1) != 0;
}

} // namespace

Model::~Model() {
    deviceMesh_.reset();
    wireframeMesh_.reset();
    vertexColors_.reset();
    colorArray_.clear();
    if (mesh_) {
        mesh_->Release();
    }
    if (texture_) {
        texture_->Release();
    }
}

// Properties -----------------------------------------------------------------------------------

const char* Model::GetMeshName() const {
    return RelativePathOf(mesh_);
}

void Model::SetMesh(const char* name) {
    TakeMesh(name && *name ? quarn::GetMesh(name, "") : nullptr);
}

void Model::TakeMesh(Mesh* acquired) {
    if (mesh_) {
        DetachGeometry();
        mesh_->Release();
        mesh_ = nullptr;
    }
    if (!acquired) {
        return;
    }
    SetRenderFlag(MeshBits, false);
    mesh_ = acquired;
    SendSignal("propertychange", static_cast<Entity*>(this), true);
}

void Model::DetachGeometry() {
    if (deviceMesh_) {
        deviceMesh_->SetVertexStream(nullptr, 0);
        deviceMesh_->SetIndexData(nullptr);
    }
    wireframeMesh_.reset();
}

void Model::DetachColors() {
    if (deviceMesh_) {
        deviceMesh_->SetVertexStream(nullptr, 1);
    }
    wireframeMesh_.reset();
}

const char* Model::GetTextureName() const {
    return RelativePathOf(texture_);
}

void Model::SetTextureName(const char* name) {
    // Taken before the old one goes, so that naming the same texture does not reload it.
    ReplaceHeldResource(texture_, name && *name ? quarn::GetTexture(name, "") : nullptr);
    SetRenderFlag(RenderStateValid, false);
}

void Model::SetVertexColorMode(int32_t mode) {
    if (mode == vcc_) {
        return;
    }
    vcc_ = mode;
    if (mode != 0) {
        LoadVertexColors();
    } else {
        DropVertexColors();
    }
    SetRenderFlag(ColorBits, false);
}

void Model::SetSubmeshFlags(uint32_t flags) {
    if (flags != submeshFlags_) {
        submeshFlags_ = flags;
        SetRenderFlag(RenderStateValid, false);
    }
}

// Vertex colours --------------------------------------------------------------------------------

uint32_t Model::GetMeshVertexCount() const {
    return mesh_ ? mesh_->GetVertexCount() : 0;
}

VertexBuffer* Model::GetVertexColorData() const {
    const uint32_t count = GetMeshVertexCount();
    return vertexColors_ && count > 0 && vertexColors_->GetCount() == count ? vertexColors_.get()
                                                                            : nullptr;
}

const std::vector<Float4>* Model::GetVertexColorArray() const {
    return GetVertexColorData() && colorArray_.size() == GetMeshVertexCount() ? &colorArray_
                                                                              : nullptr;
}

void Model::DropVertexColors() {
    DetachColors();
    vertexColors_.reset();
    colorArray_.clear();
    colorShare_.Release();
}

void Model::LoadVertexColors() {
    const PathString path = BuildLightMapPath(*this, "dat");
    const uint32_t count = GetMeshVertexCount();
    DetachColors();
    if (vertexColors_ && vertexColors_->GetCount() != count) {
        vertexColors_.reset();
    }
    // The float copy would no longer match what the file holds.
    colorArray_.clear();
    if (!colorShare_.Hold(uint64_t{count} * sizeof(uint32_t), this, "has no vertex colours")) {
        DropVertexColors();
        return;
    }
    int32_t fileCount = 0;
    const bool opened = LoadVertexColourFile(path.Text(), vertexColors_, count, &fileCount);
    if (!opened || fileCount < 0 || static_cast<uint32_t>(fileCount) != count) {
        LogAtPosition("resource", GetId(),
                      "Missing vertex color file or wrong number of vertices: %s", path.Text());
        vertexColors_.reset();
        colorShare_.Release();
    }
}

void Model::PrepareColorsForMesh() {
    const uint32_t count = GetMeshVertexCount();
    DetachColors();
    if (vertexColors_ && vertexColors_->GetCount() != count) {
        vertexColors_.reset();
        colorArray_.clear();
    }
    if (colorArray_.size() != count) {
        colorArray_.clear();
    }
    // The buffer and its float copy.
    if (!colorShare_.Hold(uint64_t{count} * (sizeof(uint32_t) + sizeof(Float4)), this,
                          "has no vertex colours")) {
        DropVertexColors();
        return;
    }
    PrepareVertexColourBuffers(colorArray_, vertexColors_, count);
}

void Model::CreateVertexColors() {
    if (!mesh_) {
        return;
    }
    PrepareColorsForMesh();
    ResetVertexColors();
}

void Model::ResetVertexColors() {
    if (!vertexColors_) {
        return;
    }
    // NaN brightness gives 0 as well.
    const float brightness = GetBrightness() - 1.0f;
    const float a = brightness > 0.0f ? brightness : 0.0f;
    FillVertexColours(colorArray_, vertexColors_.get(), a, a, a, 1.0f);
    SetRenderFlag(ColorBits, false);
}

void Model::BakeVertexLighting() {
    if (!vertexColors_ || !deviceMesh_ || !mesh_) {
        return;
    }
    // Colours made for another mesh would be indexed past their end.
    const uint32_t count = GetMeshVertexCount();
    if (vertexColors_->GetCount() != count || colorArray_.size() != count) {
        PrepareColorsForMesh();
        if (!vertexColors_) {
            return;
        }
    }
    // The mesh's own data: the device mesh takes it over only at the next state update.
    ComputeVertexLighting(*this, colorArray_, vertexColors_.get(), mesh_->GetVertexData(),
                          mesh_->GetIndexData(), GetBrightness());
    SetRenderFlag(ColorBits, false);
}

void Model::SaveVertexColors() {
    if (!vertexColors_) {
        return;
    }
    const PathString path = BuildLightMapPath(*this, "dat");
    // A scene that says "vcc = 1" without the file would log a missing file on every load.
    if (!SaveVertexColourFile(path.Text(), *vertexColors_, colorArray_)) {
        LogMessage("Could not save vertex colors to '%s'", path.Text());
        return;
    }
    vcc_ = 1;
}

// Queries -------------------------------------------------------------------------------------

PathString Model::GetDescription() const {
    return PathString(GetMeshName());
}

Entity* Model::GetResource() const {
    return mesh_;
}

bool Model::IsRenderable() {
    return RenderObject::IsRenderable() && mesh_;
}

uint32_t Model::GetColorArgb(Float3, uint32_t) {
    return texture_ ? ModulateColor(GetColor(), texture_->GetAverageColor()) : GetColor();
}

Float4 Model::GetColorRgba(Float3 point, uint32_t face) {
    const Float4 base = UnpackColor(GetColor() | 0xFF000000);
    const Float4 t = texture_ ? UnpackColor(texture_->GetAverageColor()) : Float4(1, 1, 1, 1);
    const float b = GetBrightness();
    Float3 light(b, b, b);
    const uint32_t triangle = face & TriangleNumberBits;
    const uint32_t count = GetMeshVertexCount();
    VertexBuffer* colors = GetVertexColorData();
    if (colors && triangle < mesh_->GetTriangleCount()) {
        const Int3 corners = mesh_->GetTriangle(triangle);
        const uint32_t index[3] = {static_cast<uint32_t>(corners.x),
                                   static_cast<uint32_t>(corners.y),
                                   static_cast<uint32_t>(corners.z)};
        if (index[0] < count && index[1] < count && index[2] < count) {
            const Float3 p = WorldToLocal(point);
            const Float3 a = mesh_->GetPoint(index[0]);
            const Float3 bp = mesh_->GetPoint(index[1]);
            const Float3 c = mesh_->GetPoint(index[2]);
            const float area = (bp - a).Cross(c - a).Length();
            if (!(area > 0.0f)) {
                return {0.0f, 0.0f, 0.0f, 1.0f};
            }
            const float weight[3] = {(bp - p).Cross(c - p).Length() / area,
                                     (c - p).Cross(a - p).Length() / area,
                                     (a - p).Cross(bp - p).Length() / area};
            const std::vector<Float4>* array = GetVertexColorArray();
            light = Float3();
            for (int k = 0; k < 3; ++k) {
                const Float4 v =
                    array ? (*array)[index[k]] : UnpackColor(colors->GetColor(index[k], 0));
                light = light + Float3(v.x, v.y, v.z) * weight[k];
            }
        }
    }
    return {base.x * light.x * t.x, base.y * light.y * t.y, base.z * light.z * t.z, base.w * t.w};
}

void Model::UpdateBoundingBox() {
    if (mesh_) {
        localBox_ = {mesh_->GetBoxMin(), mesh_->GetBoxMax()};
    }
}

void Model::UpdateWorldBoundingBox() {
    if (mesh_) {
        SetWorldBoxOfLocal(mesh_->GetBoxMin(), mesh_->GetBoxMax());
    }
}

// Picking -------------------------------------------------------------------------------------

bool Model::IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) {
    if (!mesh_ || !(query.flags & PickSolids)) {
        return false;
    }
    const float scale = GetWorldScale();
    const float radius = mesh_->GetSphereRadius() * scale;
    const Float3 w = LocalToWorld(mesh_->GetSphereCentre()) - origin;
    const float along = direction.Dot(w);
    if (along < -radius || (w - direction * along).LengthSquared() > radius * radius) {
        return false;
    }
    Float3 normal;
    uint32_t word = 0;
    float distance =
        mesh_->IntersectRay(WorldToLocal(origin), WorldToLocalDirection(direction), &normal, &word);
    if (distance == NoHit) {
        return false;
    }
    if ((word & Mesh::BackSideHit) && !TestRenderFlags(RenderDoubleSided) &&
        w.LengthSquared() < radius * radius) {
        // Inside a closed single-sided model: whatever lies behind its walls is hidden.
        word |= InsideBackHit;
        distance = 0.0f;
    }
    const uint32_t triangle = word & ~(Mesh::BackSideHit | InsideBackHit);
    if (!IsSubmeshShown(submeshFlags_, mesh_->GetTriangleFlags(triangle))) {
        return false;
    }
    query.current.part = static_cast<int32_t>(word);
    query.current.data =
        (query.flags & PickNormal) ? LocalToWorldDirection(normal) / scale : normal;
    query.current.distance = distance * scale * scale;
    return true;
}

// Drawing -------------------------------------------------------------------------------------

void Model::UpdateRenderState() {
    if (!mesh_) {
        if (deviceMesh_) {
            deviceMesh_->SetOptions(MeshOwnerBit, 0);
        }
        return;
    }
    RenderDevice* device = TheRenderDevice();
    if (!device) {
        return;
    }
    if (!deviceMesh_) {
        deviceMesh_ = device->CreateDeviceMesh();
        deviceMesh_->SetUserValueB(GetSerial());
    }
    const uint32_t word = GetRenderFlagsWord();
    if (!(word & RenderStateValid)) {
        ApplyMeshState(*deviceMesh_, mesh_->GetVertexData(), mesh_->GetIndexData(),
                       texture_ ? texture_->GetDeviceTexture() : nullptr, submeshFlags_);
        // The wireframe is drawn by a mesh of its own.
        deviceMesh_->SetRenderFlags(MeshWireframe, 0);
        deviceMesh_->SetVertexStream(vcc_ != 0 ? GetVertexColorData() : nullptr, 1);
        wireframeMesh_.reset();
    }
    if (!(word & RenderTransformStateValid)) {
        deviceMesh_->SetWorldMatrix(GetWorldMatrix());
    }
    SetStateBits();
}

int32_t Model::Render() {
    // Without a mesh the device mesh would draw geometry that is gone.
    if (deviceMesh_ && mesh_) {
        if (TestRenderFlags(RenderGeometry)) {
            SubmitMesh(*deviceMesh_);
        }
        if (TestRenderFlags(RenderWireframe)) {
            RenderDevice* device = TheRenderDevice();
            if (!wireframeMesh_ && device) {
                wireframeMesh_ = device->CreateDeviceMesh();
                wireframeMesh_->CopyFrom(*deviceMesh_);
                wireframeMesh_->SetRenderFlags(MeshWireframe | MeshDepthBias,
                                               MeshWireframe | MeshDepthBias);
                wireframeMesh_->SetLayerCount(1);
                wireframeMesh_->SetLayer(0, nullptr, BlendMode::Normal);
                wireframeMesh_->SetColor(0xFFFFFFFF);
            }
            if (wireframeMesh_) {
                // A move changes only the main mesh's matrix; the copy follows it.
                wireframeMesh_->SetWorldMatrix(deviceMesh_->GetWorldMatrix());
                SubmitMesh(*wireframeMesh_);
            }
        }
    }
    if (TestRenderFlags(RenderGizmo) && mesh_) {
        DrawNormals();
    }
    return 0;
}

void Model::DrawNormals() {
    AnnotationSink* annotations = GetActiveAnnotations();
    if (!annotations) {
        return;
    }
    const uint32_t count = mesh_->GetVertexCount();
    for (uint32_t i = 0; i < count; ++i) {
        const Float3 p = LocalToWorld(mesh_->GetPoint(i));
        const Float3 n = LocalToWorldDirection(mesh_->GetNormal(i));
        annotations->AddLine(p, p + n, NormalLineColor, 0.0f);
    }
}

// Script methods ------------------------------------------------------------------------------

Entity* Model::ScriptGetMesh() {
    if (mesh_ && mesh_->GetId() == 0) {
        // Scripts hold entities by id.
        mesh_->ChangeId(TheIdMap().GetFreeLocalId(0));
    }
    return mesh_;
}

void Model::ScriptSetMesh(Entity* mesh) {
    auto* acquired = dynamic_cast<Mesh*>(mesh);
    if (acquired) {
        acquired->AddReference();
    }
    TakeMesh(acquired);
}

void Model::OnResourceChangedSignal(void* resource) {
    if (!resource) {
        return;
    }
    if (resource == static_cast<Resource*>(mesh_)) {
        // A reload may have replaced the mesh's buffers; new geometry has new bounds too.
        DetachGeometry();
        SetRenderFlag(MeshBits, false);
    } else if (resource == static_cast<Resource*>(texture_)) {
        SetRenderFlag(ColorBits, false);
    }
}

// Version upgrades -----------------------------------------------------------------------------

void Model::UpgradeVersion(int fileVersion) {
    const bool castShadows = TestRenderFlags(RenderCastShadows);
    RenderObject::UpgradeVersion(fileVersion);
    if (fileVersion == 38) {
        SetBrightness(lightBias_ + 1.0f);
    } else if (fileVersion == 40) {
        // Models kept the flag that step took from every other drawable.
        SetRenderFlag(RenderCastShadows, castShadows);
    }
}

// Registration --------------------------------------------------------------------------------

ClassInfo* Model::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "Model", []() -> Entity* { return new Model(); }, &classInfo);
    classInfo->SetParent(RenderObject::RegisterClass());
    classInfo->SetCategory("Gfx");

    classInfo->AddResourceProperty<&Model::GetMeshName, &Model::SetMesh>(
        "mesh:mesh", &Mesh::GetLoadableExtensions);
    classInfo->AddResourceProperty<&Model::GetTextureName, &Model::SetTextureName>(
        "texture:bmp", &GetImageTextureExtensions);
    classInfo->AddProperty<PropertyInt, &Model::GetVertexColorMode, &Model::SetVertexColorMode>(
        "vcc:mesh");
    classInfo->AddProperty<PropertyFloat, &Model::GetLightBias, &Model::SetLightBias>(
        "lightbias:0.0,0.5");
    classInfo->AddProperty<PropertyInt, &Model::GetSubmeshFlags, &Model::SetSubmeshFlags>(
        "submeshflags:binary");

    // Under generated names in a fixed order (compiled scripts hold them), with the call flags
    // the lightmap tools were first registered with.
    constexpr uint32_t LightmapCommand = MethodEditorOnly | MethodSignalHandler;
    classInfo->AddMethod(NextShortName(), "", BindMethod<&Model::CreateVertexColors>(),
                         LightmapCommand);
    classInfo->AddMethod(NextShortName(), "", BindMethod<&Model::ResetVertexColors>(),
                         LightmapCommand);
    classInfo->AddMethod(NextShortName(), "", BindMethod<&Model::BakeVertexLighting>(),
                         MethodEditorOnly);
    classInfo
        ->AddMethod(NextShortName(), "", BindMethod<&Model::SaveVertexColors>(), MethodEditorOnly)
        ->SetWrittenFiles("SaveVertexColors",
                          [](const Entity& model) { return LightMapFileOf(model, "dat"); });
    classInfo->AddMethod(NextShortName(), "():Mesh", BindMethod<&Model::ScriptGetMesh>(),
                         MethodEditorOnly);
    classInfo->AddMethod(NextShortName(), "(Mesh)", BindMethod<&Model::ScriptSetMesh>(),
                         MethodEditorOnly);
    MethodInfo* resourceChanged = classInfo->AddMethod(
        NextShortName(), "", BindSignalHandler<&Model::OnResourceChangedSignal>(),
        MethodClassSignal);
    RegisterClassSignal("resourcechanged", resourceChanged);
    return classInfo;
}

} // namespace quarn
