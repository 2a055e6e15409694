#include "render/ShadowVolume.h"

#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/PropertyVector.h"
#include "core/object/Signals.h"
#include "device/DrawBufferShare.h"
#include "device/IndexBuffer.h"
#include "device/RenderDevice.h"
#include "device/Shader.h"
#include "device/VertexBuffer.h"
#include "render/RenderQueue.h"
#include "resources/EffectShader.h"
#include "resources/Mesh.h"
#include "resources/ResourceRegistry.h"

#include <string>
#include <utility>

namespace quarn {

ClassInfo* ShadowVolume::classInfo = nullptr;

namespace {

struct ShadowClassState {
    uint64_t deviceSerial = 0; // the device the answer is for; 0: not asked yet
    bool supported = false;
    EffectShader* shader = nullptr; // one counted reference while supported
};

ShadowClassState& ClassState() {
    static ShadowClassState state;
    return state;
}

bool BeforeShadowPass() {
    if (ShadowVolume::ShadowsSupported()) {
        TheRenderDevice()->SetDepthBias(-1);
    }
    return true;
}

void AfterShadowPass() {
    if (ShadowVolume::ShadowsSupported()) {
        TheRenderDevice()->SetDepthBias(0);
    }
}

constexpr uint32_t VolumeVertexFormat = VertexPosition | VertexNormal;
// 16-bit indices reach 65,536 volume vertices: two per mesh vertex.
constexpr uint32_t MaxVerticesForShortIndices = 32768;

} // namespace

void ShadowVolume::ReleaseShadowShader() {
    ShadowClassState& state = ClassState();
    if (state.shader) {
        state.shader->Release();
        state.shader = nullptr;
    }
    state.supported = false;
    state.deviceSerial = 0;
}

bool ShadowVolume::ShadowsSupported() {
    RenderDevice* device = TheRenderDevice();
    if (!device) {
        return false;
    }
    ShadowClassState& state = ClassState();
    if (state.deviceSerial != device->GetSerial()) {
        ReleaseShadowShader();
        state.deviceSerial = device->GetSerial();
        state.supported = device->SupportsVertexShader(1, 0) && device->GetStencilBits() >= 4;
    }
    return state.supported;
}

EffectShader* ShadowVolume::GetShadowShader() {
    if (!ShadowsSupported()) {
        return nullptr;
    }
    // Acquired at first use: registration may come before the file system is there.
    ShadowClassState& state = ClassState();
    if (!state.shader) {
        std::string name;
        ReplaceEffectShader(state.shader, name, ShaderPath);
    }
    return state.shader;
}

ShadowVolume::ShadowVolume() {
    SetRenderType(RenderShadowVolume);
    SetRenderFlags(RenderGeometry);
}

ShadowVolume::~ShadowVolume() {
    deviceMesh_.reset();
    vertices_.reset();
    indices_.reset();
    if (mesh_) {
        mesh_->Release();
    }
}

PathString ShadowVolume::GetDescription() const {
    return PathString(GetMeshName());
}

Entity* ShadowVolume::GetResource() const {
    return mesh_;
}

const char* ShadowVolume::GetMeshName() const {
    return RelativePathOf(mesh_);
}

void ShadowVolume::SetMesh(const char* name) {
    if (mesh_) {
        if (deviceMesh_) {
            deviceMesh_->SetVertexStream(nullptr, 0);
            deviceMesh_->SetIndexData(nullptr);
        }
        mesh_->Release();
        mesh_ = nullptr;
    }
    vertexCount_ = 0;
    volumeBuilt_ = false;
    if (name && *name) {
        mesh_ = quarn::GetMesh(name, "_shadow");
        if (!(mesh_->GetStateFlags() & Mesh::EdgesValid)) {
            mesh_->BuildEdges();
        }
        if (ShadowsSupported()) {
            RebuildVolume();
        }
    }
    SetRenderFlag(RenderStateValid | RenderColorStateValid, false);
    SendSignal("propertychange", static_cast<Entity*>(this), true);
}

void ShadowVolume::SetExtrusion(float extrusion) {
    extrusion_ = extrusion;
    WriteOffsets();
    SetRenderFlag(RenderWorldBoxValid, false);
}

void ShadowVolume::SetLightDir(Float3 direction) {
    lightDir_ = direction;
    WriteOffsets();
    SetRenderFlag(RenderWorldBoxValid, false);
}

void ShadowVolume::RebuildVolume() {
    RenderDevice* device = TheRenderDevice();
    if (!mesh_ || !device) {
        return;
    }
    volumeBuilt_ = true;
    indicesStale_ = true;
    triangleCount_ = 0;
    vertexCount_ = mesh_->GetVertexCount();
    if (vertexCount_ == 0) {
        return;
    }
    if (!vertices_) {
        vertices_ = device->CreateVertexData();
        indices_ = device->CreateIndexData();
        // Dynamic indices are lost with the device; the node may be gone by then.
        const uint64_t serial = GetSerial();
        indices_->SetRestoreCallback([serial](IndexBuffer&) {
            if (auto* node = dynamic_cast<ShadowVolume*>(Entity::FindBySerial(serial))) {
                node->indicesStale_ = true;
            }
            return true;
        });
    }
    if (indices_->GetIndexSize() == 2 && vertexCount_ > MaxVerticesForShortIndices) {
        LogMessage("Shadow volume of '%s': %u vertices need 32-bit indices; it casts no shadow",
                   GetMeshName(), vertexCount_);
        vertexCount_ = 0;
        return;
    }
    // Each edge gives at most one quad, each triangle at most its two caps.
    const uint64_t indexCount =
        6 * (static_cast<uint64_t>(mesh_->GetEdges().size()) + mesh_->GetTriangleCount());
    const uint64_t bytes = DrawBufferShare::MeshBytes(
        2 * uint64_t{vertexCount_}, VolumeVertexFormat, indexCount, indices_->GetIndexSize());
    if (!share_.Hold(bytes, this)) {
        // What an earlier mesh's volume held goes back too.
        deviceMesh_.reset();
        vertices_.reset();
        indices_.reset();
        share_.Release();
        vertexCount_ = 0;
        return;
    }
    if (indexCount > Mesh::MaxBufferBytes / sizeof(uint32_t) ||
        !vertices_->Create(2 * vertexCount_, VolumeVertexFormat, 0) ||
        !indices_->Create(static_cast<uint32_t>(indexCount), IndexDiscard)) {
        LogMessage("Shadow volume of '%s': the device refused its buffers", GetMeshName());
        share_.Release();
        vertexCount_ = 0;
        return;
    }
    indices_->SetCount(0);
    vertices_->Lock(2);
    for (uint32_t i = 0; i < vertexCount_; ++i) {
        const Float3 p = mesh_->GetPoint(i);
        vertices_->SetPosition(2 * i, p);
        vertices_->SetPosition(2 * i + 1, p);
        vertices_->SetNormal(2 * i, {});
    }
    vertices_->Lock(0);
    WriteOffsets();
    SetRenderFlag(RenderStateValid | RenderColorStateValid, false);
}

void ShadowVolume::WriteOffsets() {
    if (!vertices_ || vertexCount_ == 0) {
        return;
    }
    const Float3 offset = Offset();
    vertices_->Lock(2);
    for (uint32_t i = 0; i < vertexCount_; ++i) {
        vertices_->SetNormal(2 * i + 1, offset);
    }
    vertices_->Lock(0);
}

uint32_t ShadowVolume::BuildIndices() {
    if (vertexCount_ == 0 || !indices_ || extrusion_ * lightDir_.Dot(lightDir_) == 0.0f) {
        return 0;
    }
    // Towards the light, in the mesh's frame: the silhouette is the mesh's own.
    const Float3 light = WorldToLocalDirection(lightDir_ * -1.0f);
    if (!indicesStale_ && light.x == lightKey_.x && light.y == lightKey_.y &&
        light.z == lightKey_.z) {
        return triangleCount_;
    }
    lightKey_ = light;
    indicesStale_ = false;
    ++indexBuilds_;

    const uint32_t capacity = indices_->GetCapacity();
    uint32_t written = 0;
    auto triangle = [&](uint32_t a, uint32_t b, uint32_t c) {
        if (capacity - written >= 3) {
            indices_->SetIndex(written++, a);
            indices_->SetIndex(written++, b);
            indices_->SetIndex(written++, c);
        }
    };
    auto facing = [&](uint32_t t) { return mesh_->GetTriangleNormal(t).Dot(light); };
    const uint32_t triangles = mesh_->GetTriangleCount();

    indices_->Lock(2);
    for (const MeshEdge& edge : mesh_->GetEdges()) {
        uint32_t a = edge.start;
        uint32_t b = edge.end;
        if (a >= vertexCount_ || b >= vertexCount_ || edge.firstTriangle >= triangles) {
            continue;
        }
        if (edge.secondTriangle == MeshEdge::NoTriangle) {
            std::swap(a, b);
        } else {
            const float first = facing(edge.firstTriangle);
            const float second = facing(edge.secondTriangle);
            if (first >= 0.0f && second < 0.0f) {
                std::swap(a, b);
            } else if (!(second >= 0.0f && first < 0.0f)) {
                continue;
            }
        }
        triangle(2 * a, 2 * b + 1, 2 * b);
        triangle(2 * a, 2 * a + 1, 2 * b + 1);
    }
    for (uint32_t t = 0; t < triangles; ++t) {
        const Int3 c = mesh_->GetTriangle(t);
        const auto inside = [this](int32_t i) {
            return i >= 0 && static_cast<uint32_t>(i) < vertexCount_;
        };
        if (!inside(c.x) || !inside(c.y) || !inside(c.z) || facing(t) >= 0.0f) {
            continue;
        }
        const auto i0 = static_cast<uint32_t>(c.x);
        const auto i1 = static_cast<uint32_t>(c.y);
        const auto i2 = static_cast<uint32_t>(c.z);
        triangle(2 * i0, 2 * i1, 2 * i2);
        triangle(2 * i0 + 1, 2 * i2 + 1, 2 * i1 + 1);
    }
    indices_->Lock(0);
    indices_->SetCount(written);
    triangleCount_ = written / 3;
    if (deviceMesh_) {
        // A batch holding the volume copies its indices again.
        deviceMesh_->SetOptions(MeshOwnerChanged, MeshOwnerChanged);
    }
    return triangleCount_;
}

EffectShader* ShadowVolume::ChosenShader() const {
    EffectShader* own = GetEffectShader();
    return own ? own : GetShadowShader();
}

int32_t ShadowVolume::Render() {
    if (!mesh_ || !ShadowsSupported()) {
        return 0;
    }
    EffectShader* shader = ChosenShader();
    if (!shader || !shader->GetShader()) {
        return 0;
    }
    if (!volumeBuilt_) {
        // The mesh came before the device could say shadows are supported.
        RebuildVolume();
    }
    if (!vertices_ || BuildIndices() == 0) {
        return 0;
    }
    if (!deviceMesh_ || !(GetRenderFlagsWord() & RenderStateValid)) {
        UpdateRenderState();
    }
    SubmitVolume(*this, *shader, *deviceMesh_);
    return 0;
}

void ShadowVolume::SubmitVolume(RenderObject& node, EffectShader& shader, DeviceMesh& mesh) {
    Matrix4 viewProjection;
    TheRenderDevice()->GetViewProjectionMatrix(viewProjection);
    viewProjection.TransposeInPlace();
    shader.GetShader()->SetMatrixRegisters(ViewProjectionRegister, viewProjection);
    node.SubmitMesh(mesh);
}

void ShadowVolume::GrowByOffset(Aabb& box, const Float3& offset) {
    const auto grow = [](float by, float& min, float& max) { (by < 0.0f ? min : max) += by; };
    grow(offset.x, box.min.x, box.max.x);
    grow(offset.y, box.min.y, box.max.y);
    grow(offset.z, box.min.z, box.max.z);
}

void ShadowVolume::UpdateRenderState() {
    if (!vertices_) {
        return;
    }
    if (!deviceMesh_) {
        deviceMesh_ = TheRenderDevice()->CreateDeviceMesh();
    }
    ApplyMeshState(*deviceMesh_, vertices_.get(), indices_.get(), nullptr, 0xFFFFFFFF);
    // Depth test on, depth write off: the volume counts where the scene's depth hides it.
    deviceMesh_->SetRenderFlagsWord(MeshZEnable);
    deviceMesh_->SetStencilMode(StencilMode::VolumeZFail);
    deviceMesh_->SetLayer(0, nullptr, BlendMode::Normal);
    // The offsets are world vectors: batches must not turn them.
    deviceMesh_->SetOptions(MeshKeepNormals, MeshKeepNormals);
    EffectShader* shader = ChosenShader();
    deviceMesh_->SetShader(shader ? shader->GetShader() : nullptr);
    SetStateBits();
}

void ShadowVolume::UpdateBoundingBox() {
    localBox_ = mesh_ ? Aabb{mesh_->GetBoxMin(), mesh_->GetBoxMax()} : Aabb{};
}

void ShadowVolume::UpdateWorldBoundingBox() {
    if (!mesh_) {
        RenderObject::UpdateWorldBoundingBox();
        return;
    }
    SetWorldBoxOfLocal(mesh_->GetBoxMin(), mesh_->GetBoxMax());
    GrowByOffset(worldBox_, Offset());
}

void ShadowVolume::OnMeshResourceChanged(void* resource) {
    if (!resource) {
        return;
    }
    if (mesh_ && resource == static_cast<Resource*>(mesh_)) {
        if (!(mesh_->GetStateFlags() & Mesh::EdgesValid)) {
            mesh_->BuildEdges();
        }
        volumeBuilt_ = false;
        if (ShadowsSupported()) {
            RebuildVolume();
        }
        SetRenderFlag(RenderLocalBoxValid | RenderWorldBoxValid, false);
    } else if (resource == static_cast<Resource*>(ClassState().shader)) {
        SetRenderFlag(RenderStateValid | RenderColorStateValid, false);
    }
}

ClassInfo* ShadowVolume::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "ShadowVolume", []() -> Entity* { return new ShadowVolume(); }, &classInfo);
    classInfo->SetParent(RenderObject::RegisterClass());
    classInfo->SetCategory("Gfx");
    classInfo->SetCleanUp(&ReleaseShadowShader);

    classInfo->AddResourceProperty<&ShadowVolume::GetMeshName, &ShadowVolume::SetMesh>(
        "mesh:mesh", &Mesh::GetLoadableExtensions);
    classInfo->AddProperty<PropertyFloat, &ShadowVolume::GetExtrusion,
                           &ShadowVolume::SetExtrusion>("extrusion:0.0,10.0");
    classInfo->AddProperty<PropertyFloat3, &ShadowVolume::GetLightDir,
                           &ShadowVolume::SetLightDir>("lightdir");

    // The two video-memory signals are the base class's: a volume keeps nothing to release.
    MethodInfo* resourceChanged = classInfo->AddMethod(
        "resourcechanged", "", BindSignalHandler<&ShadowVolume::OnMeshResourceChanged>(),
        MethodClassSignal);
    RegisterClassSignal("resourcechanged", resourceChanged);

    SetPassHooks(RenderShadowVolume, &BeforeShadowPass, &AfterShadowPass);
    if (TheRenderDevice()) {
        ShadowsSupported();
    }
    return classInfo;
}

} // namespace quarn
