#include "collision/mockup/MockupShadow.h"

#include "collision/mockup/MockupBox.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/Signals.h"
#include "device/DeviceMesh.h"
#include "device/IndexBuffer.h"
#include "device/RenderDevice.h"
#include "device/VertexBuffer.h"
#include "render/ShadowVolume.h"
#include "resources/EffectShader.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace quarn {

ClassInfo* MockupShadow::classInfo = nullptr;

namespace {

constexpr uint32_t VolumeVertexFormat = VertexPosition | VertexNormal;
constexpr uint32_t VolumeVertices = 16;
constexpr int MaxFaces = 3;
// Each face: four side quads and its two caps.
constexpr uint32_t PairsPerFace = 6;
constexpr uint32_t VolumeIndices = 6 * PairsPerFace * MaxFaces;

// Corners by axis and side: +x, +y, +z, then -x, -y, -z (corner k: x from bit 0, y from bit 1,
// z from bit 2, set for the + side).
constexpr int FaceCorners[6][4] = {{5, 1, 3, 7}, {6, 7, 3, 2}, {4, 5, 7, 6},
                                   {4, 6, 2, 0}, {4, 0, 1, 5}, {0, 2, 3, 1}};

struct ShaderState {
    uint64_t deviceSerial = 0;
    EffectShader* shader = nullptr;
};

ShaderState& TheShaderState() {
    static ShaderState state;
    return state;
}

float Component(const Float3& v, int axis) {
    return axis == 0 ? v.x : axis == 1 ? v.y : v.z;
}

} // namespace

void MockupShadow::ReleaseShadowShader() {
    ShaderState& state = TheShaderState();
    if (state.shader) {
        state.shader->Release();
        state.shader = nullptr;
    }
    state.deviceSerial = 0;
}

EffectShader* MockupShadow::GetShadowShader() {
    RenderDevice* device = TheRenderDevice();
    ShaderState& state = TheShaderState();
    if (!device || !ShadowVolume::ShadowsSupported()) {
        ReleaseShadowShader();
        return nullptr;
    }
    if (state.deviceSerial != device->GetSerial()) {
        ReleaseShadowShader();
        state.deviceSerial = device->GetSerial();
    }
    if (!state.shader) {
        std::string name;
        ReplaceEffectShader(state.shader, name, ShadowVolume::ShaderPath);
    }
    return state.shader;
}

MockupShadow::MockupShadow() {
    SetRenderType(RenderShadowVolume);
}

MockupShadow::~MockupShadow() {
    deviceMesh_.reset();
    indices_.reset();
    vertices_.reset();
}

MockupBox* MockupShadow::ParentBox() const {
    return dynamic_cast<MockupBox*>(GetParent());
}

void MockupShadow::SetNumFaces(int32_t count) {
    numFaces_ = count;
    indicesStale_ = true;
}

void MockupShadow::SetExtrusion(float extrusion) {
    // A list built while nothing was to be drawn is empty: it must be built again once there
    // is something, even if the node never turns.
    if ((extrusion == 0.0f) != (extrusion_ == 0.0f)) {
        indicesStale_ = true;
    }
    extrusion_ = extrusion;
    WriteVertices();
    SetRenderFlag(RenderWorldBoxValid, false);
}

Float3 MockupShadow::Offset() {
    return GetWorldAxis(1) * -extrusion_;
}

void MockupShadow::BuildBuffers() {
    RenderDevice* device = TheRenderDevice();
    if (!device) {
        return;
    }
    if (!vertices_) {
        vertices_ = device->CreateVertexData();
        indices_ = device->CreateIndexData();
    }
    vertices_->Create(VolumeVertices, VolumeVertexFormat, 0);
    indices_->Create(VolumeIndices, 0);
    indices_->SetCount(0);
    indicesStale_ = true;
    WriteVertices();
}

void MockupShadow::WriteVertices() {
    MockupBox* box = ParentBox();
    if (!vertices_ || !box) {
        return;
    }
    const Float3 h = box->GetSize() * 0.5f;
    const Float3 e = Offset();
    vertices_->SetWriteState(2);
    for (uint32_t k = 0; k < 8; ++k) {
        const Float3 corner((k & 1) ? h.x : -h.x, (k & 2) ? h.y : -h.y, (k & 4) ? h.z : -h.z);
        vertices_->SetPosition(2 * k, corner);
        vertices_->SetNormal(2 * k, Float3());
        vertices_->SetPosition(2 * k + 1, corner);
        vertices_->SetNormal(2 * k + 1, e);
    }
    vertices_->SetWriteState(0);
}

uint32_t MockupShadow::BuildIndices() {
    MockupBox* box = ParentBox();
    if (!indices_ || !box) {
        return 0;
    }
    const Quaternion q = GetWorldOrientation();
    if (!indicesStale_ && q.x == cachedOrientation_.x && q.y == cachedOrientation_.y &&
        q.z == cachedOrientation_.z && q.w == cachedOrientation_.w) {
        return pairCount_;
    }
    cachedOrientation_ = q;
    indicesStale_ = false;
    pairCount_ = 0;
    indices_->SetCount(0);
    const Float3 worldY = GetWorldAxis(1);
    if (worldY.Dot(worldY) * extrusion_ == 0.0f) {
        return 0;
    }
    WriteVertices();
    // The faces are the box's own: the direction is taken in its frame, so a turned box
    // shadows from the faces that really look along the extrusion.
    const Float3 y = box->WorldToLocalDirection(worldY);
    const int faces = std::min(numFaces_, MaxFaces);
    int axes[3] = {0, 1, 2};
    if (faces < 3) {
        int first = 0;
        if (std::fabs(y.y) > std::fabs(y.x)) {
            first = 1;
        }
        if (std::fabs(y.z) > std::fabs(Component(y, first))) {
            first = 2;
        }
        const int next = (first + 1) % 3;
        const int last = (first + 2) % 3;
        axes[0] = first;
        axes[1] = std::fabs(Component(y, last)) > std::fabs(Component(y, next)) ? last : next;
    }
    uint32_t written = 0;
    const auto triangle = [&](uint32_t a, uint32_t b, uint32_t c) {
        indices_->SetIndex(written++, a);
        indices_->SetIndex(written++, b);
        indices_->SetIndex(written++, c);
    };
    indices_->Lock(2);
    for (int i = 0; i < faces; ++i) {
        const int a = axes[i];
        const int* c = FaceCorners[Component(y, a) > 0.0f ? a + 3 : a];
        for (int m = 0; m < 4; ++m) {
            const auto p = static_cast<uint32_t>(2 * c[m]);
            const auto n = static_cast<uint32_t>(2 * c[(m + 1) % 4]);
            triangle(p, n, n + 1);
            triangle(p, n + 1, p + 1);
        }
        if (caps_) {
            const auto c0 = static_cast<uint32_t>(2 * c[0]);
            const auto c1 = static_cast<uint32_t>(2 * c[1]);
            const auto c2 = static_cast<uint32_t>(2 * c[2]);
            const auto c3 = static_cast<uint32_t>(2 * c[3]);
            triangle(c0, c2, c1);
            triangle(c0, c3, c2);
            triangle(c0 + 1, c1 + 1, c2 + 1);
            triangle(c0 + 1, c2 + 1, c3 + 1);
        }
    }
    indices_->Lock(0);
    indices_->SetCount(written);
    pairCount_ = written / 6;
    if (deviceMesh_) {
        // A batch holding the volume copies its indices again.
        deviceMesh_->SetOptions(MeshOwnerChanged, MeshOwnerChanged);
    }
    return pairCount_;
}

EffectShader* MockupShadow::ChosenShader() const {
    EffectShader* own = GetEffectShader();
    return own ? own : GetShadowShader();
}

int32_t MockupShadow::Render() {
    MockupBox* box = ParentBox();
    EffectShader* shader = ChosenShader();
    if (!box || !GetShadowShader() || !shader || !shader->GetShader()) {
        return 0;
    }
    const Float3 size = box->GetSize();
    if (!vertices_ || size.x != cachedSize_.x || size.y != cachedSize_.y ||
        size.z != cachedSize_.z) {
        BuildBuffers();
        cachedSize_ = size;
    }
    if (!vertices_ || BuildIndices() == 0) {
        return 0;
    }
    if (!deviceMesh_ || !(GetRenderFlagsWord() & RenderStateValid)) {
        UpdateRenderState();
    }
    ShadowVolume::SubmitVolume(*this, *shader, *deviceMesh_);
    return 0;
}

void MockupShadow::UpdateRenderState() {
    RenderDevice* device = TheRenderDevice();
    if (!device) {
        return;
    }
    if (!deviceMesh_) {
        deviceMesh_ = device->CreateDeviceMesh();
    }
    const uint32_t word = GetRenderFlagsWord();
    if (!(word & RenderColorStateValid) || !vertices_) {
        BuildBuffers();
    }
    MockupBox* box = ParentBox();
    if (!(word & RenderStateValid)) {
        // Depth test on, depth write off: the volume counts where the scene's depth hides it.
        deviceMesh_->SetRenderFlagsWord(MeshZEnable);
        deviceMesh_->SetStencilMode(StencilMode::VolumeZFail);
        deviceMesh_->SetVertexStream(vertices_.get(), 0);
        deviceMesh_->SetIndexData(indices_.get());
        if (box) {
            deviceMesh_->SetWorldMatrix(box->GetWorldMatrix());
        }
        deviceMesh_->SetLayerCount(1);
        deviceMesh_->SetLayer(0, nullptr, BlendMode::Normal);
        // The offsets are world vectors: batches must not turn them.
        deviceMesh_->SetOptions(MeshOwnerBit | MeshKeepNormals, MeshOwnerBit | MeshKeepNormals);
        EffectShader* shader = ChosenShader();
        deviceMesh_->SetShader(shader ? shader->GetShader() : nullptr);
    }
    if (!(word & RenderTransformStateValid) && box) {
        deviceMesh_->SetWorldMatrix(box->GetWorldMatrix());
    }
    SetStateBits();
}

void MockupShadow::UpdateWorldBoundingBox() {
    MockupBox* box = ParentBox();
    if (!box) {
        RenderObject::UpdateWorldBoundingBox();
        return;
    }
    worldBox_ = box->GetWorldBoundingBox();
    ShadowVolume::GrowByOffset(worldBox_, Offset());
}

ClassInfo* MockupShadow::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "MockupShadow", []() -> Entity* { return new MockupShadow(); }, &classInfo);
    classInfo->SetParent(RenderObject::RegisterClass());
    classInfo->SetCategory("Mockup");
    classInfo->SetCleanUp(&ReleaseShadowShader);
    using S = MockupShadow;
    classInfo->AddProperty<PropertyInt, &S::GetNumFaces, &S::SetNumFaces>("numfaces");
    classInfo->AddProperty<PropertyFloat, &S::GetExtrusion, &S::SetExtrusion>(
        "extrusion:0.0,10.0");
    for (const char* signal : {"releasevideomemory", "restorevideomemory"}) {
        MethodInfo* method = classInfo->AddMethod(
            signal, "(entity)", BindSignalHandler<&S::OnVideoMemory>(), MethodClassSignal);
        RegisterClassSignal(signal, method);
    }
    // The device is asked now when there is one; the shader is acquired at first use, as the
    // file system may not be there yet.
    if (TheRenderDevice()) {
        ShadowVolume::ShadowsSupported();
    }
    return classInfo;
}

} // namespace quarn
