#include "device/DeviceMesh.h"

#include "device/BatchStore.h"
#include "device/DeviceTexture.h"
#include "device/IndexBuffer.h"
#include "device/RenderDevice.h"
#include "device/Shader.h"
#include "device/VertexBuffer.h"

#include <algorithm>
#include <bit>
#include <vector>

namespace quarn {

namespace {

std::vector<DeviceMesh*>& LiveMeshes() {
    // Never destroyed: meshes held by static objects may outlive every other static.
    static auto* list = new std::vector<DeviceMesh*>;
    return *list;
}

// State blocks are costly to record, so a device records at most one per frame. The last
// recording's device is kept by serial (0: none yet): a new device counts its frames from 0 again.
uint64_t gRecordDevice = 0;
uint32_t gRecordFrame = 0;

// Draws unchanged before a mesh records its state.
constexpr uint32_t DrawsBeforeRecording = 5;

// The state block's layout.
enum StateWord : uint32_t {
    WordFormat0,
    WordFormat1,
    WordFlags0,
    WordFlags1,
    WordPrimitiveKind,
    WordShader,
    WordRenderFlags,
    WordColor,
    WordLayerCount,
    WordTextures,
    WordOps = WordTextures + MeshLayerCount,
    WordStencil = WordOps + MeshLayerCount,
    WordScreenSpace,
    WordCount,
};
static_assert(WordCount == std::tuple_size_v<MeshStateBlock>);

// Stream flags that enter the state: the free flags and the address modes of layers 0 and 1.
constexpr uint32_t StreamStateFlags = 0xF30000;

struct BlendRow {
    GpuBlendOp op;
    GpuBlend source;
    GpuBlend dest;
    GpuTextureOp colorOp; // layers 1-3
    GpuTextureOp alphaOp;
};

constexpr BlendRow BlendRows[BlendModeCount] = {
    {GpuBlendOp::Add, GpuBlend::SrcAlpha, GpuBlend::InvSrcAlpha, GpuTextureOp::Modulate,
     GpuTextureOp::Modulate},
    {GpuBlendOp::Add, GpuBlend::SrcAlpha, GpuBlend::One, GpuTextureOp::Add, GpuTextureOp::Add},
    {GpuBlendOp::RevSubtract, GpuBlend::SrcAlpha, GpuBlend::One, GpuTextureOp::Subtract,
     GpuTextureOp::SelectArg2},
    {GpuBlendOp::Add, GpuBlend::DestColor, GpuBlend::Zero, GpuTextureOp::Modulate,
     GpuTextureOp::Modulate},
    {GpuBlendOp::Max, GpuBlend::SrcAlpha, GpuBlend::InvSrcAlpha, GpuTextureOp::Modulate,
     GpuTextureOp::Modulate},
    {GpuBlendOp::Min, GpuBlend::SrcAlpha, GpuBlend::InvSrcAlpha, GpuTextureOp::Modulate,
     GpuTextureOp::Modulate},
    {GpuBlendOp::Subtract, GpuBlend::SrcAlpha, GpuBlend::SrcAlpha, GpuTextureOp::Modulate,
     GpuTextureOp::Modulate},
    {GpuBlendOp::Add, GpuBlend::One, GpuBlend::Zero, GpuTextureOp::SelectArg2,
     GpuTextureOp::SelectArg2},
    {GpuBlendOp::Add, GpuBlend::Zero, GpuBlend::One, GpuTextureOp::SelectArg1,
     GpuTextureOp::SelectArg1},
    {GpuBlendOp::Add, GpuBlend::InvSrcColor, GpuBlend::InvSrcAlpha, GpuTextureOp::Modulate,
     GpuTextureOp::Modulate},
    {GpuBlendOp::Add, GpuBlend::SrcColor, GpuBlend::InvSrcColor, GpuTextureOp::Modulate,
     GpuTextureOp::Modulate},
    {GpuBlendOp::Add, GpuBlend::DestColor, GpuBlend::SrcColor, GpuTextureOp::AddSigned,
     GpuTextureOp::AddSigned},
    {GpuBlendOp::Add, GpuBlend::SrcColor, GpuBlend::Zero, GpuTextureOp::Modulate,
     GpuTextureOp::Modulate},
    {GpuBlendOp::RevSubtract, GpuBlend::SrcAlpha, GpuBlend::One, GpuTextureOp::Subtract,
     GpuTextureOp::SelectArg2},
    {GpuBlendOp::Add, GpuBlend::InvSrcAlpha, GpuBlend::SrcAlpha, GpuTextureOp::Modulate,
     GpuTextureOp::Modulate},
    {GpuBlendOp::Add, GpuBlend::InvSrcAlpha, GpuBlend::One, GpuTextureOp::Add, GpuTextureOp::Add},
    {GpuBlendOp::RevSubtract, GpuBlend::InvSrcAlpha, GpuBlend::One, GpuTextureOp::Subtract,
     GpuTextureOp::SelectArg2},
    {GpuBlendOp::RevSubtract, GpuBlend::InvSrcAlpha, GpuBlend::One, GpuTextureOp::Subtract,
     GpuTextureOp::SelectArg2},
};

// Ops from a stored number beyond the table blend as Normal.
const BlendRow& RowOf(BlendMode mode) {
    const auto index = static_cast<uint32_t>(mode);
    return BlendRows[index < BlendModeCount ? index : 0];
}

bool InvertsAlphaTest(BlendMode mode) {
    return mode >= BlendMode::NormalInvAlpha && mode <= BlendMode::FilterInvAlpha;
}

template <typename E>
constexpr uint32_t Word(E value) {
    return static_cast<uint32_t>(value);
}

} // namespace

DeviceMesh::DeviceMesh(RenderDevice& device, GpuDevice& gpu)
    : device_(device), gpu_(gpu), options_(MeshStateStale) {
    listIndex_ = LiveMeshes().size();
    LiveMeshes().push_back(this);
}

DeviceMesh::~DeviceMesh() {
    TheBatchStore().ForgetMesh(*this);
    recorded_.reset();
    declaration_.reset();
    submeshes_.reset();
    std::vector<DeviceMesh*>& list = LiveMeshes();
    list[listIndex_] = list.back();
    list[listIndex_]->listIndex_ = listIndex_;
    list.pop_back();
}

void DeviceMesh::SetRenderFlags(uint32_t mask, uint32_t value) {
    SetRenderFlagsWord((renderFlags_ & ~mask) | (mask & value));
}

void DeviceMesh::SetRenderFlagsWord(uint32_t value) {
    renderFlags_ = value;
    options_ |= MeshRerecord | MeshStateStale;
}

void DeviceMesh::SetStencilMode(StencilMode mode) {
    stencilMode_ = mode;
    options_ |= MeshRerecord | MeshStateStale;
}

void DeviceMesh::SetVertexStream(VertexBuffer* vertices, uint32_t stream) {
    if (stream < streams_.size()) {
        streams_[stream] = vertices;
        options_ |= MeshRerecord | MeshStateStale;
    }
}

VertexBuffer* DeviceMesh::GetVertexStream(uint32_t stream) const {
    return stream < streams_.size() ? streams_[stream] : nullptr;
}

void DeviceMesh::SetIndexData(IndexBuffer* indices) {
    if (indices != indices_) {
        indices_ = indices;
        options_ |= MeshRebuildSubmeshes | MeshRerecord | MeshStateStale;
    }
}

uint32_t DeviceMesh::GetVertexRange() const {
    return std::max(streams_[0] ? streams_[0]->GetCount() : 0u,
                    indices_ ? indices_->GetIndexCount() : 0u);
}

uint32_t DeviceMesh::GetCapacityRange() const {
    return std::max(streams_[0] ? streams_[0]->GetCapacity() : 0u,
                    indices_ ? indices_->GetCapacity() : 0u);
}

void DeviceMesh::SetShader(Shader* shader) {
    shader_ = shader;
    options_ |= MeshStateStale;
}

void DeviceMesh::SetLayerCount(uint32_t count) {
    layerCount_ = std::min(count, MeshLayerCount);
    options_ |= MeshRerecord | MeshStateStale;
}

void DeviceMesh::SetLayer(uint32_t layer, DeviceTexture* texture, BlendMode op) {
    if (layer >= MeshLayerCount) {
        return;
    }
    MeshLayer& l = layers_[layer];
    l.op = op;
    l.texture = texture;
    l.textureId = texture ? texture->GetId() : 0;
    if (!texture) {
        l.kind = LayerKind::Empty;
    } else {
        l.kind =
            texture->GetKind() == TextureKind::Texture2D ? LayerKind::Plain : LayerKind::Reflection;
    }
    options_ |= MeshRerecord | MeshStateStale;
}

DeviceTexture* DeviceMesh::GetLayerTexture(uint32_t layer) const {
    return layer < MeshLayerCount ? layers_[layer].texture : nullptr;
}

BlendMode DeviceMesh::GetLayerOp(uint32_t layer) const {
    return layer < MeshLayerCount ? layers_[layer].op : BlendMode::Normal;
}

LayerKind DeviceMesh::GetLayerKind(uint32_t layer) const {
    return layer < MeshLayerCount ? layers_[layer].kind : LayerKind::Empty;
}

void DeviceMesh::SetWorldMatrix(const Matrix4& world) {
    world_ = world;
    options_ |= MeshWorldChanged;
}

void DeviceMesh::SetColor(uint32_t argb) {
    color_ = argb;
    options_ |= MeshRerecord | MeshStateStale;
}

void DeviceMesh::SetOptions(uint32_t mask, uint32_t value) {
    const uint32_t before = options_;
    options_ = (options_ & ~mask) | (mask & value);
    if ((before ^ options_) & MeshScreenSpace) {
        options_ |= MeshStateStale;
    }
}

bool DeviceMesh::HasSameState(DeviceMesh& other) {
    return GetStateBlock() == other.GetStateBlock();
}

void DeviceMesh::CopyRenderState(const DeviceMesh& other) {
    shader_ = other.shader_;
    layerCount_ = other.layerCount_;
    layers_ = other.layers_;
    renderFlags_ = other.renderFlags_;
    stencilMode_ = other.stencilMode_;
    color_ = other.color_;
    options_ = other.options_ | MeshRerecord | MeshStateStale;
}

void DeviceMesh::CopyFrom(DeviceMesh& other) {
    CopyRenderState(other);
    streams_ = other.streams_;
    indices_ = other.indices_;
    world_ = other.world_;
    submeshMask_ = other.submeshMask_;
    // The hash is copied with its block, so the two always describe the same state.
    stateBlock_ = other.GetStateBlock();
    stateHash_ = other.stateHash_;
    options_ = other.options_ | MeshRebuildSubmeshes | MeshRerecord | MeshWorldChanged;
}

void DeviceMesh::RefreshStateBlock() {
    MeshStateBlock& b = stateBlock_;
    b.fill(0);
    for (uint32_t s = 0; s < 2; ++s) {
        if (streams_[s]) {
            b[WordFormat0 + s] = streams_[s]->GetFormat();
            b[WordFlags0 + s] = streams_[s]->TestFlags(StreamStateFlags);
        }
    }
    b[WordPrimitiveKind] = indices_ ? (indices_->GetFlags() & IndexKindMask) : 0;
    b[WordShader] = shader_ ? shader_->GetId() : 0;
    b[WordRenderFlags] = renderFlags_;
    b[WordColor] = color_;
    b[WordLayerCount] = layerCount_;
    // Layers beyond the count stay 0, so they never keep two meshes apart.
    for (uint32_t i = 0; i < layerCount_; ++i) {
        b[WordTextures + i] = layers_[i].textureId;
        b[WordOps + i] = Word(layers_[i].op);
    }
    // Meshes that differ in these draw differently, so they must never share a batch.
    b[WordStencil] = Word(stencilMode_);
    b[WordScreenSpace] = options_ & MeshScreenSpace;

    uint32_t h = 0;
    for (uint32_t s = 0; s < 2; ++s) {
        if (streams_[s]) {
            const int shift = static_cast<int>(16 * s);
            h ^= std::rotl(static_cast<uint32_t>(b[WordFlags0 + s]), shift) ^
                 std::rotl(static_cast<uint32_t>(b[WordFormat0 + s]), shift);
        }
    }
    h ^= std::rotl(renderFlags_, 5) ^ std::rotr(color_, 5) ^
         std::rotr(static_cast<uint32_t>(b[WordPrimitiveKind]), 13) ^
         std::rotl(static_cast<uint32_t>(b[WordShader]), 1);
    for (uint32_t i = 0; i < layerCount_; ++i) {
        const int shift = static_cast<int>(i);
        h ^= std::rotl(Word(layers_[i].op), 8 * shift) ^
             std::rotl(static_cast<uint32_t>(layers_[i].textureId), shift);
    }
    h ^= std::rotl((Word(stencilMode_) << 1) | (b[WordScreenSpace] ? 1u : 0u), 27);
    stateHash_ = h;
    options_ &= ~MeshStateStale;
}

const MeshStateBlock& DeviceMesh::GetStateBlock() {
    if (options_ & MeshStateStale) {
        RefreshStateBlock();
    }
    return stateBlock_;
}

uint32_t DeviceMesh::ComputeStateHash() {
    RefreshStateBlock();
    return stateHash_;
}

uint32_t DeviceMesh::GetStateHash() {
    GetStateBlock();
    return stateHash_;
}

void DeviceMesh::SetSubmeshMask(uint32_t mask) {
    if (mask != submeshMask_) {
        submeshMask_ = mask;
        options_ |= MeshRebuildSubmeshes;
    }
    options_ |= MeshRerecord;
}

std::vector<IndexSpan> DeviceMesh::GetSelectedRanges() const {
    std::vector<IndexSpan> ranges;
    if (!indices_) {
        return ranges;
    }
    const uint32_t count = indices_->GetIndexCount();
    const uint32_t groups = std::min(indices_->GetGroupCount(), 32u);
    if (submeshMask_ == 0 || submeshMask_ == 0xFFFFFFFF || groups == 0) {
        ranges.push_back({0, count});
        return ranges;
    }
    for (uint32_t i = 0; i < groups; ++i) {
        if (!(submeshMask_ & (1u << i))) {
            continue;
        }
        // Group starts come from mesh files: a group reaching past the indices is cut there.
        const uint32_t end = std::min(indices_->GetGroupStart(i + 1), count);
        const uint32_t begin = std::min(indices_->GetGroupStart(i), end);
        if (end > begin) {
            ranges.push_back({begin, end});
        }
    }
    return ranges;
}

void DeviceMesh::RebuildSubmeshes() {
    if (indices_->GetGroupCount() > 0) {
        ++device_.GetRenderStatistics().numSubmeshUpdates;
    }
    if (submeshMask_ == 0 || submeshMask_ == 0xFFFFFFFF || indices_->GetGroupCount() == 0) {
        submeshes_.reset();
        return;
    }
    const std::vector<IndexSpan> ranges = GetSelectedRanges();
    uint32_t total = 0;
    for (const IndexSpan& r : ranges) {
        total += r.end - r.begin;
    }
    if (!submeshes_ || submeshes_->GetCapacity() < total) {
        submeshes_ = device_.CreateIndexData();
    }
    if (!submeshes_ || !submeshes_->Create(total, indices_->GetFlags() & IndexKindMask)) {
        submeshes_.reset();
        return;
    }
    submeshes_->SetCount(0);
    const uint32_t previous = indices_->GetLockMode();
    if (indices_->Lock(1)) {
        for (const IndexSpan& r : ranges) {
            submeshes_->AppendRange(r.end - r.begin, indices_->GetRange(r.begin), 0);
        }
    }
    // A read lock is given back; any other ends here (writing while drawing is the caller's fault).
    indices_->Lock(previous == 1 ? 1 : 0);
}

void DeviceMesh::ApplyGeometry() {
    if (options_ & MeshRebuildSubmeshes) {
        RebuildSubmeshes();
        options_ &= ~MeshRebuildSubmeshes;
    }
    IndexBuffer* used = submeshes_ ? submeshes_.get() : indices_;
    used->Bind();
    primitiveCount_ = used->GetPrimitiveCount();
    primitiveType_ = used->GetPrimitiveType();
    // The selection was just made from the present indices, so it is seen either way.
    indices_->ClearChangedSinceDraw();

    VertexBuffer* s0 = streams_[0];
    VertexBuffer* s1 = streams_[1];
    const uint32_t key = s0->GetFormat() | (s1 ? s1->GetFormat() << 16 : 0);
    if (key != declarationKey_) {
        declaration_.reset();
        declarationKey_ = key;
        if (s1) {
            // Stream 1 wins where both carry a component (a model's baked vertex colours over
            // its mesh's own): a declaration names each usage once.
            const std::vector<GpuVertexElement>& second = s1->GetLayout().elements;
            std::vector<GpuVertexElement> elements;
            for (const GpuVertexElement& e : s0->GetLayout().elements) {
                const bool replaced =
                    std::any_of(second.begin(), second.end(), [&](const GpuVertexElement& s) {
                        return s.usage == e.usage && s.usageIndex == e.usageIndex;
                    });
                if (!replaced) {
                    elements.push_back(e);
                }
            }
            for (GpuVertexElement e : second) {
                e.stream = 1;
                elements.push_back(e);
            }
            declaration_ = gpu_.CreateVertexDeclaration(elements);
            ++device_.GetRenderStatistics().numDeclarationUpdates;
        }
    }
    gpu_.SetVertexDeclaration(declaration_ ? declaration_.get() : s0->GetDeclaration());
    gpu_.SetStreamSource(0, s0->Upload(), 0, s0->GetStride() * 4);
    if (s1) {
        gpu_.SetStreamSource(1, s1->Upload(), 0, s1->GetStride() * 4);
    }
    drawVertexCount_ = s0->GetCount();
}

void DeviceMesh::ApplyWorldMatrix() {
    if (options_ & MeshKeepDeviceWorld) {
        return;
    }
    device_.SetWorldMatrix(world_);
    if (shader_) {
        shader_->SetMatrixConstant(ShaderWorld, world_);
    }
}

void DeviceMesh::SetRender(GpuRenderState state, uint32_t value) {
    gpu_.SetRenderState(state, value);
}

void DeviceMesh::ApplyStates() {
    const uint32_t f = renderFlags_;
    const bool inverted = InvertsAlphaTest(layers_[0].op);
    SetRender(GpuRenderState::TextureFactor, color_);
    SetRender(GpuRenderState::AlphaBlendEnable, (f & MeshAlphaBlend) ? 1 : 0);
    SetRender(GpuRenderState::FillMode,
              Word((f & MeshWireframe) ? GpuFillMode::Wireframe : GpuFillMode::Solid));
    SetRender(GpuRenderState::AlphaRef, (f & MeshAlphaRef128) ? 128 : (inverted ? 254 : 1));
    SetRender(GpuRenderState::AlphaFunc, Word(inverted ? GpuCompare::Less : GpuCompare::Greater));
    SetRender(GpuRenderState::CullMode, Word((f & MeshNoCulling) ? GpuCull::None : GpuCull::Cw));
    SetRender(GpuRenderState::ZWriteEnable, (f & MeshZWrite) ? 1 : 0);
    SetRender(GpuRenderState::Lighting, (f & MeshLighting) ? 1 : 0);
    SetRender(GpuRenderState::SpecularEnable, (f & MeshSpecular) ? 1 : 0);
    SetRender(GpuRenderState::FogEnable, (f & MeshFog) ? 1 : 0);
    SetRender(GpuRenderState::ZEnable, (f & MeshZEnable) ? 1 : 0);

    // Two address bits (u, v clamped) per layer, from bit 20 of stream 0's flags.
    uint32_t address = streams_[0]->TestFlags(0xFFF00000) >> 20;
    auto stage = [this](uint32_t s, GpuStageState state, uint32_t value) {
        gpu_.SetTextureStageState(s, state, value);
    };
    stage(0, GpuStageState::ColorOp, Word(GpuTextureOp::Modulate));
    for (uint32_t i = 0; i < layerCount_; ++i) {
        const MeshLayer& layer = layers_[i];
        const BlendRow& row = RowOf(layer.op);
        const GpuTextureArg first = i == 0 ? GpuTextureArg::Diffuse : GpuTextureArg::Current;
        stage(i, GpuStageState::ColorArg1, Word(first));
        stage(i, GpuStageState::AlphaArg1, Word(first));
        stage(i, GpuStageState::ColorOp, Word(i == 0 ? GpuTextureOp::Modulate : row.colorOp));
        stage(i, GpuStageState::AlphaOp, Word(i == 0 ? GpuTextureOp::Modulate : row.alphaOp));
        const GpuTextureArg second =
            layer.texture ? GpuTextureArg::Texture : GpuTextureArg::TFactor;
        stage(i, GpuStageState::ColorArg2, Word(second));
        stage(i, GpuStageState::AlphaArg2, Word(second));
        device_.SetTexture(layer.texture, i);
        if (layer.kind == LayerKind::Reflection) {
            Matrix4 rotation;
            device_.GetCameraRotationMatrix(rotation);
            gpu_.SetTransform(static_cast<GpuTransform>(Word(GpuTransform::Texture0) + i),
                              rotation);
            stage(i, GpuStageState::TexCoordIndex, i | GpuTexGenCameraSpaceReflection);
            stage(i, GpuStageState::TextureTransformFlags, Word(GpuTextureTransformFlags::Count3));
            gpu_.SetSamplerState(i, GpuSamplerState::MipFilter, Word(GpuFilter::None));
        } else {
            stage(i, GpuStageState::TexCoordIndex, i);
            stage(i, GpuStageState::TextureTransformFlags, Word(GpuTextureTransformFlags::Disable));
            gpu_.SetSamplerState(i, GpuSamplerState::MipFilter, Word(GpuFilter::Linear));
        }
        gpu_.SetSamplerState(i, GpuSamplerState::AddressU,
                             Word((address & 1) ? GpuAddress::Clamp : GpuAddress::Wrap));
        gpu_.SetSamplerState(i, GpuSamplerState::AddressV,
                             Word((address & 2) ? GpuAddress::Clamp : GpuAddress::Wrap));
        address >>= 2;
    }
    stage(layerCount_, GpuStageState::ColorOp, Word(GpuTextureOp::Disable));
    stage(layerCount_, GpuStageState::AlphaOp, Word(GpuTextureOp::Disable));

    const BlendRow& blend = RowOf(layers_[0].op);
    SetRender(GpuRenderState::BlendOp, Word(blend.op));
    SetRender(GpuRenderState::SrcBlend, Word(blend.source));
    SetRender(GpuRenderState::DestBlend, Word(blend.dest));
    if (f & MeshNeverRecord) {
        unchangedDraws_ = 0;
    }
}

void DeviceMesh::ApplyTransformMode() {
    const bool overridden = device_.IsViewProjectionOverridden();
    if ((options_ & MeshScreenSpace) && !overridden) {
        Matrix4 scale;
        scale.m[0] = 2.0f;
        scale.m[5] = 2.0f;
        device_.OverrideViewProjection(Matrix4{}, scale);
    } else if (!(options_ & MeshScreenSpace) && overridden) {
        device_.RestoreViewProjection();
    }
    // Asked of the device rather than remembered here: pass hooks and stencil passes change the
    // bias too, and a new projection keeps the bias in force.
    const int32_t bias = (renderFlags_ & MeshDepthBias) ? 1 : 0;
    if (bias != device_.GetDepthBias()) {
        device_.SetDepthBias(bias);
    }
}

bool DeviceMesh::CanRecord() {
    const uint32_t frame = device_.GetFrameCount();
    if (gRecordDevice == device_.GetSerial() && frame == gRecordFrame) {
        return false;
    }
    gRecordDevice = device_.GetSerial();
    gRecordFrame = frame;
    return true;
}

bool DeviceMesh::Draw() {
    if (!streams_[0] || !indices_) {
        return false;
    }
    RenderStatistics& statistics = device_.GetRenderStatistics();
    if (indices_->GetFlags() & IndexChangedSinceDraw) {
        options_ |= MeshRebuildSubmeshes;
    }
    // A recorded state would also replay GPU copies that no longer hold the vertices.
    const bool staleVertices = streams_[0]->TestFlags(VertexChangedSinceDraw | VertexNeedsUpload) ||
                               (streams_[1] && streams_[1]->TestFlags(VertexNeedsUpload));
    if ((options_ & (MeshRerecord | MeshRebuildSubmeshes)) || staleVertices) {
        recorded_.reset();
        unchangedDraws_ = 0;
        options_ &= ~(MeshRerecord | MeshWorldChanged);
        streams_[0]->SetFlags(VertexChangedSinceDraw, 0);
    }
    ++unchangedDraws_;

    if (!recorded_ && unchangedDraws_ >= DrawsBeforeRecording && CanRecord() &&
        gpu_.BeginStateBlock() == GpuResult::Ok) {
        ApplyGeometry();
        ApplyWorldMatrix();
        ApplyStates();
        recorded_ = gpu_.EndStateBlock();
        if (recorded_) {
            ++statistics.numStateBlocksCreated;
        }
        options_ &= ~(MeshRerecord | MeshWorldChanged);
    }
    if (recorded_) {
        recorded_->Apply();
        ++statistics.numStateBlocksApplied;
        if (options_ & MeshWorldChanged) {
            ApplyWorldMatrix();
        }
    } else {
        ApplyGeometry();
        ApplyWorldMatrix();
        ApplyStates();
    }
    ApplyTransformMode();

    bool drawn = StencilPass(0) && DrawPrimitives();
    for (uint32_t pass = 1; StencilPass(pass); ++pass) {
        // After a failed draw the passes still run, so their states are restored.
        drawn = drawn && DrawPrimitives();
    }
    ++statistics.numModelsRendered;
    if (shader_) {
        ++statistics.numShadedModelsRendered;
    }
    return drawn;
}

bool DeviceMesh::DrawPrimitives() {
    if (primitiveCount_ == 0) {
        return true;
    }
    RenderStatistics& statistics = device_.GetRenderStatistics();
    auto drawFixedFunction = [&] {
        if (gpu_.DrawIndexedPrimitive(primitiveType_, 0, 0, drawVertexCount_, 0, primitiveCount_) !=
            GpuResult::Ok) {
            return false;
        }
        statistics.numPrimitivesRendered += primitiveCount_;
        return true;
    };
    Shader* shader = shader_ ? shader_ : device_.GetDefaultShader();
    if (!shader) {
        return drawFixedFunction();
    }
    if (!shader_) {
        shaderParameter_ = device_.GetDefaultShaderParameter();
        if (color_ != device_.GetDefaultColor()) {
            SetColor(device_.GetDefaultColor());
        }
    }
    SetShaderConstants(*shader);
    bool drawn = true;
    const int32_t passes = shader->Begin();
    if (passes == 0) {
        // A shader without programs (its load failed) leaves the draw to the fixed function.
        shader->End();
        return drawFixedFunction();
    }
    for (int32_t i = 0; i < passes && drawn; ++i) {
        shader->BeginPass(i);
        drawn = gpu_.DrawIndexedPrimitive(primitiveType_, 0, 0, drawVertexCount_, 0,
                                          primitiveCount_) == GpuResult::Ok;
        if (drawn) {
            statistics.numPrimitivesRendered += primitiveCount_;
        }
        shader->EndPass();
    }
    shader->End();
    return drawn;
}

void DeviceMesh::SetShaderConstants(Shader& shader) {
    shader.SetTexture(0, layers_[0].texture);
    shader.SetTexture(1, layerCount_ >= 2 ? layers_[1].texture : nullptr);
    Matrix4 toClip;
    if (options_ & MeshScreenSpace) {
        toClip.m[0] = 2.0f;
        toClip.m[5] = 2.0f;
    } else {
        device_.GetViewProjectionMatrix(toClip);
    }
    Matrix4 worldToClip;
    world_.Multiply(toClip, worldToClip);
    shader.SetMatrixConstant(ShaderWorldViewProjection, worldToClip);
    shader.SetMatrixConstant(ShaderWorld, world_);
    shader.SetVectorConstant(ShaderOwnParameter, shader.GetParameter());
    auto channel = [](uint32_t argb, int shift) {
        return static_cast<float>((argb >> shift) & 0xFF) / 255.0f;
    };
    shader.SetVectorConstant(ShaderColor, {channel(color_, 16), channel(color_, 8),
                                           channel(color_, 0), channel(color_, 24)});
    shader.SetVectorConstant(ShaderMeshParameter, shaderParameter_);
    if (renderFlags_ & MeshLighting) {
        for (uint32_t i = 0; i < 2; ++i) {
            LightRecord light;
            device_.GetLight(i, light);
            const uint32_t at = ShaderLights + 3 * i;
            shader.SetVectorConstant(at, {light.position.x, light.position.y, light.position.z, 0});
            shader.SetVectorConstant(at + 1,
                                     {light.direction.x, light.direction.y, light.direction.z, 0});
            shader.SetVectorConstant(at + 2,
                                     Float4{channel(light.color, 16), channel(light.color, 8),
                                            channel(light.color, 0), channel(light.color, 24)}
                                         .ScaleXyz(light.strength));
        }
    }
    // Volume shaders read the world matrix and the biased view-projection; they follow the
    // named constants, whose registers they share, so every volume draw sees them.
    if (shader_ &&
        (stencilMode_ == StencilMode::VolumeZPass || stencilMode_ == StencilMode::VolumeZFail)) {
        const int32_t saved = device_.GetDepthBias();
        device_.SetDepthBias(-1);
        Matrix4 view;
        Matrix4 projection;
        device_.GetViewMatrix(view);
        device_.GetProjectionMatrix(projection);
        device_.SetDepthBias(saved);
        Matrix4 viewProjection;
        view.Multiply(projection, viewProjection);
        viewProjection.TransposeInPlace();
        Matrix4 world = world_;
        world.TransposeInPlace();
        shader.SetMatrixRegisters(ShaderVolumeWorldRegister, world);
        shader.SetMatrixRegisters(ShaderVolumeViewProjectionRegister, viewProjection);
    }
}

bool DeviceMesh::StencilPass(uint32_t pass) {
    auto restore = [this] {
        SetRender(GpuRenderState::CullMode, Word(GpuCull::Cw));
        SetRender(GpuRenderState::StencilEnable, 0);
        SetRender(GpuRenderState::ZWriteEnable, 1);
        SetRender(GpuRenderState::ZEnable, 1);
        SetRender(GpuRenderState::SrcBlend, Word(GpuBlend::SrcAlpha));
        SetRender(GpuRenderState::DestBlend, Word(GpuBlend::InvSrcAlpha));
    };
    // Counting passes: colour untouched, depth kept, the stencil counts front faces.
    auto counting = [this](GpuStencilOp onPass, GpuStencilOp onDepthFail) {
        SetRender(GpuRenderState::StencilEnable, 1);
        SetRender(GpuRenderState::StencilFunc, Word(GpuCompare::Always));
        SetRender(GpuRenderState::StencilFail, Word(GpuStencilOp::Keep));
        SetRender(GpuRenderState::StencilWriteMask, 0xFFFFFFFF);
        SetRender(GpuRenderState::CullMode, Word(GpuCull::Cw));
        SetRender(GpuRenderState::StencilZFail, Word(onDepthFail));
        SetRender(GpuRenderState::StencilPass, Word(onPass));
        SetRender(GpuRenderState::AlphaBlendEnable, 1);
        SetRender(GpuRenderState::SrcBlend, Word(GpuBlend::Zero));
        SetRender(GpuRenderState::DestBlend, Word(GpuBlend::One));
        SetRender(GpuRenderState::ZWriteEnable, 0);
    };
    switch (stencilMode_) {
    case StencilMode::VolumeZPass:
    case StencilMode::VolumeZFail: {
        const bool zPass = stencilMode_ == StencilMode::VolumeZPass;
        if (pass == 0) {
            counting(zPass ? GpuStencilOp::Incr : GpuStencilOp::Keep,
                     zPass ? GpuStencilOp::Keep : GpuStencilOp::Incr);
            return true;
        }
        if (pass == 1) {
            // Back faces count down.
            SetRender(GpuRenderState::CullMode, Word(GpuCull::Ccw));
            SetRender(zPass ? GpuRenderState::StencilPass : GpuRenderState::StencilZFail,
                      Word(GpuStencilOp::Decr));
            return true;
        }
        restore();
        return false;
    }
    case StencilMode::Read:
        if (pass == 0) {
            SetRender(GpuRenderState::ZEnable, 0);
            SetRender(GpuRenderState::StencilEnable, 1);
            SetRender(GpuRenderState::StencilFunc, Word(GpuCompare::NotEqual));
            SetRender(GpuRenderState::StencilPass, Word(GpuStencilOp::Keep));
            SetRender(GpuRenderState::StencilRef, 0);
            return true;
        }
        SetRender(GpuRenderState::StencilEnable, 0);
        SetRender(GpuRenderState::ZEnable, 1);
        return false;
    case StencilMode::Write:
        if (pass == 0) {
            counting(GpuStencilOp::Incr, GpuStencilOp::Keep);
            return true;
        }
        restore();
        return false;
    case StencilMode::None:
    default:
        return pass == 0;
    }
}

void DeviceMesh::ClearAllOwners() {
    for (DeviceMesh* mesh : LiveMeshes()) {
        mesh->owners_ = {};
    }
}

void DeviceMesh::DropAllRecordedState() {
    for (DeviceMesh* mesh : LiveMeshes()) {
        mesh->recorded_.reset();
        mesh->submeshes_.reset();
        mesh->options_ |= MeshRebuildSubmeshes;
    }
}

void DeviceMesh::ReplaceTexture(uint64_t oldId, DeviceTexture* replacement) {
    if (oldId == 0) {
        return; // the id of no texture
    }
    for (DeviceMesh* mesh : LiveMeshes()) {
        for (uint32_t i = 0; i < mesh->layerCount_; ++i) {
            if (mesh->layers_[i].textureId == oldId) {
                mesh->SetLayer(i, replacement, mesh->layers_[i].op);
            }
        }
    }
}

} // namespace quarn
