#include "device/BatchStore.h"

#include "core/debug/Log.h"
#include "device/DrawBufferShare.h"
#include "device/IndexBuffer.h"
#include "device/RenderDevice.h"
#include "device/VertexBuffer.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace quarn {

namespace {

// Frames a member must stay unchanged before it is due for the static group.
constexpr uint32_t FramesBeforeStatic = 100;
// Due members wait until the static group is rebuilt anyway, or until more than this many wait.
constexpr uint32_t WaitingBeforeRebuild = 10;
// Option bits that make a member count as changed.
constexpr uint32_t MemberChangeBits = MeshOwnerChanged | MeshRebuildSubmeshes | MeshWorldChanged;
// Merged buffers only carry the stream flags that enter the state block.
constexpr uint32_t MergedStreamFlags = 0xF30000;

void TransformVertices(std::span<uint32_t> words, const VertexLayout& layout, uint32_t format,
                       const Matrix4& world, bool normals) {
    const bool positions = (format & VertexPosition) && !(format & VertexScreenPosition);
    const float* m = world.m;
    for (size_t v = 0; v + layout.stride <= words.size(); v += layout.stride) {
        if (positions) {
            uint32_t* p = &words[v + layout.position];
            const float x = std::bit_cast<float>(p[0]);
            const float y = std::bit_cast<float>(p[1]);
            const float z = std::bit_cast<float>(p[2]);
            p[0] = std::bit_cast<uint32_t>(x * m[0] + y * m[4] + z * m[8] + m[12]);
            p[1] = std::bit_cast<uint32_t>(x * m[1] + y * m[5] + z * m[9] + m[13]);
            p[2] = std::bit_cast<uint32_t>(x * m[2] + y * m[6] + z * m[10] + m[14]);
        }
        if (normals) {
            uint32_t* n = &words[v + layout.normal];
            const Float3 t =
                world.TransformNormal({std::bit_cast<float>(n[0]), std::bit_cast<float>(n[1]),
                                       std::bit_cast<float>(n[2])});
            n[0] = std::bit_cast<uint32_t>(t.x);
            n[1] = std::bit_cast<uint32_t>(t.y);
            n[2] = std::bit_cast<uint32_t>(t.z);
        }
    }
}

// The render state a merged mesh takes from the meshes it stands for.
void TakeRenderState(DeviceMesh& merged, DeviceMesh& reference) {
    merged.SetRenderFlagsWord(reference.GetRenderFlags());
    merged.SetStencilMode(reference.GetStencilMode());
    merged.SetShader(reference.GetShader());
    merged.SetColor(reference.GetColor());
    merged.SetLayerCount(reference.GetLayerCount());
    for (uint32_t i = 0; i < MeshLayerCount; ++i) {
        merged.SetLayer(i, reference.GetLayerTexture(i), reference.GetLayerOp(i));
    }
    merged.SetOptions(MeshScreenSpace, reference.TestOptions(MeshScreenSpace));
}

} // namespace

Batch::Batch(const MeshStateBlock& block, uint32_t hash, uint32_t passId)
    : block_(block), hash_(hash), passId_(passId) {}

Batch::~Batch() {
    for (Merged& merged : merged_) {
        merged.Reset();
    }
}

void Batch::Merged::Reset() {
    mesh.reset();
    indices.reset();
    stream1.reset();
    stream0.reset();
    share.Release();
}

BatchStore& TheBatchStore() {
    // Never destroyed: device meshes held by static objects may be deleted after it would be.
    static auto* store = new BatchStore;
    return *store;
}

Batch* BatchStore::SelectBatch(DeviceMesh& mesh, uint32_t passId) {
    if (passId >= BatchPassIdCount) {
        return nullptr;
    }
    const uint32_t hash = mesh.GetStateHash();
    const MeshStateBlock& block = mesh.GetStateBlock();
    const uint32_t half = passId >= BatchPassIdCount / 2 ? 1 : 0;
    // The owner is the usual answer; it is checked in full, since equal hashes may hide unlike
    // states.
    Batch* owner = mesh.GetOwner(half);
    if (owner && owner->passId_ == passId && owner->hash_ == hash && owner->block_ == block) {
        return owner;
    }
    auto& map = batches_[passId];
    for (auto [it, end] = map.equal_range(hash); it != end; ++it) {
        if (it->second->block_ == block) {
            return it->second.get();
        }
    }
    return map.emplace(hash, std::make_unique<Batch>(block, hash, passId))->second.get();
}

void BatchStore::AddMesh(Batch& batch, DeviceMesh& mesh) {
    batch.submitted_.push_back(&mesh);
    ++pendingSubmissions_;
}

void BatchStore::FlushBatch(Batch& batch) {
    const uint32_t half = batch.Half();
    for (DeviceMesh* mesh : batch.submitted_) {
        mesh->SetOptions(MeshFrameBits, MeshNewThisFrame);
    }
    for (Batch::Member& member : batch.members_) {
        member.mesh->SetOptions(MeshFrameBits, 0);
    }

    // Classify the submitted meshes; a mesh submitted twice is classified once.
    for (DeviceMesh* mesh : batch.submitted_) {
        const uint32_t bits = mesh->TestOptions(MeshFrameBits);
        if (bits == MeshNewThisFrame) {
            if (mesh->GetOwner(half) != &batch) {
                batch.members_.push_back({mesh, Batch::Dynamic, 0, mesh->GetVertexRange(), false});
                mesh->SetOwner(&batch, half);
            }
        } else if (bits == 0) {
            VertexBuffer* stream = mesh->GetVertexStream(0);
            const bool changed = mesh->TestOptions(MemberChangeBits) ||
                                 (stream && stream->TestFlags(VertexChangedSinceDraw));
            if (changed) {
                mesh->SetOptions(MemberChangeBits, 0);
                if (stream) {
                    stream->SetFlags(VertexChangedSinceDraw, 0);
                }
            }
            mesh->SetOptions(MeshFrameBits,
                             changed ? MeshChangedThisFrame : MeshUnchangedThisFrame);
        }
    }

    bool changed[2] = {false, false};
    size_t kept = 0;
    for (Batch::Member& member : batch.members_) {
        DeviceMesh* mesh = member.mesh;
        switch (mesh->TestOptions(MeshFrameBits)) {
        case 0: // not submitted this frame: it leaves
            changed[member.group] = true;
            if (mesh->GetOwner(half) == &batch) {
                mesh->SetOwner(nullptr, half);
            }
            continue;
        case MeshUnchangedThisFrame:
            ++member.framesUnchanged;
            if (member.group == Batch::Dynamic && member.framesUnchanged > FramesBeforeStatic) {
                if (changed[Batch::Static]) {
                    member.group = Batch::Static;
                    member.waiting = false;
                    changed[Batch::Static] = changed[Batch::Dynamic] = true;
                } else {
                    member.waiting = true;
                }
            }
            break;
        case MeshChangedThisFrame:
            member.framesUnchanged = 0;
            member.size = mesh->GetVertexRange();
            member.waiting = false;
            changed[member.group] = true;
            if (member.group == Batch::Static) {
                member.group = Batch::Dynamic;
                changed[Batch::Dynamic] = true;
            }
            break;
        case MeshNewThisFrame:
            changed[Batch::Dynamic] = true;
            break;
        default:
            break;
        }
        batch.members_[kept++] = member;
    }
    batch.members_.resize(kept);

    uint32_t waiting = 0;
    for (const Batch::Member& member : batch.members_) {
        waiting += member.waiting ? 1 : 0;
    }
    if (waiting > 0 && (changed[Batch::Static] || waiting > WaitingBeforeRebuild)) {
        for (Batch::Member& member : batch.members_) {
            if (member.waiting) {
                member.group = Batch::Static;
                member.waiting = false;
            }
        }
        changed[Batch::Static] = changed[Batch::Dynamic] = true;
    }
    for (uint32_t group = 0; group < 2; ++group) {
        DeviceMesh* merged = batch.merged_[group].mesh.get();
        if (merged && merged->TestOptions(MeshMergedRebuild)) {
            merged->SetOptions(MeshMergedRebuild, 0);
            changed[group] = true;
        }
    }

    // Both groups give back what they hold before either takes again, so members moving to the
    // static group find room there.
    for (uint32_t group = 0; group < 2; ++group) {
        if (changed[group]) {
            mergedVertices_ -= std::exchange(batch.merged_[group].vertices, 0u);
        }
    }
    for (uint32_t group = 0; group < 2; ++group) {
        if (changed[group]) {
            UpdateMerged(batch, group);
        }
    }
    pendingSubmissions_ -= std::min(pendingSubmissions_, batch.submitted_.size());
    batch.submitted_.clear();
}

void BatchStore::UpdateMerged(Batch& batch, uint32_t group) {
    Batch::Merged& merged = batch.merged_[group];
    uint32_t total = 0;
    uint32_t alone = 0;
    for (Batch::Member& member : batch.members_) {
        if (member.group != group) {
            continue;
        }
        member.alone = mergedVertices_ + total + member.size > MergedVertexLimit;
        if (member.alone) {
            ++alone;
        } else {
            total += member.size;
        }
    }
    if (alone > 0 && !toldLimit_) {
        toldLimit_ = true;
        LogMessage("Batches merge at most %llu vertices together: %u meshes of a batch are drawn "
                   "one by one",
                   static_cast<unsigned long long>(MergedVertexLimit), alone);
    }
    merged.vertices = total;
    mergedVertices_ += total;
    if (merged.mesh && merged.mesh->GetCapacityRange() < total) {
        merged.Reset();
    }
    if (!merged.mesh) {
        // Every member left was submitted this frame, so a group with members has a reference.
        if (total == 0 || batch.submitted_.empty()) {
            return;
        }
        RenderDevice* device = TheRenderDevice();
        DeviceMesh& reference = *batch.submitted_.front();
        VertexBuffer* source0 = reference.GetVertexStream(0);
        VertexBuffer* source1 = reference.GetVertexStream(1);
        IndexBuffer* sourceIndices = reference.GetIndexData();
        if (!device || !source0 || !sourceIndices) {
            return;
        }
        // Room for half as much again, so a growing group is not rebuilt every frame.
        const uint32_t capacity =
            static_cast<uint32_t>(std::min<uint64_t>(uint64_t{3} * total / 2, UINT32_MAX));
        const uint64_t bytes =
            DrawBufferShare::MeshBytes(capacity, source0->GetFormat(), capacity,
                                       sourceIndices->GetIndexSize()) +
            (source1 ? DrawBufferShare::MeshBytes(capacity, source1->GetFormat(), 0, 0) : 0);
        if (!merged.share.Hold(bytes, nullptr)) {
            // Past the scene's draw buffers the group's members are drawn one by one.
            for (Batch::Member& member : batch.members_) {
                member.alone = member.alone || member.group == group;
            }
            mergedVertices_ -= std::exchange(merged.vertices, 0u);
            return;
        }
        const uint32_t dynamic = VertexDynamic | VertexStartEmpty;
        merged.stream0 = device->CreateVertexData();
        merged.indices = device->CreateIndexData();
        merged.mesh = device->CreateDeviceMesh();
        bool made =
            merged.stream0 && merged.indices && merged.mesh &&
            merged.stream0->Create(capacity, source0->GetFormat(),
                                   source0->TestFlags(MergedStreamFlags) | dynamic) &&
            merged.indices->Create(capacity, IndexDiscard | IndexStartEmpty |
                                                 (sourceIndices->GetFlags() & IndexKindMask));
        if (made && source1) {
            merged.stream1 = device->CreateVertexData();
            made = merged.stream1 &&
                   merged.stream1->Create(capacity, source1->GetFormat(),
                                          source1->TestFlags(MergedStreamFlags) | dynamic);
        }
        if (!made) {
            merged.Reset();
            return;
        }
        merged.mesh->SetVertexStream(merged.stream0.get(), 0);
        merged.mesh->SetVertexStream(merged.stream1.get(), 1);
        merged.mesh->SetIndexData(merged.indices.get());
        TakeRenderState(*merged.mesh, reference);
        if (highlighted_ == &batch) {
            Highlight(batch, true);
        }
    }
    merged.mesh->SetOptions(MeshHidden, total == 0 ? MeshHidden : 0);
    merged.stream0->Clear();
    if (merged.stream1) {
        merged.stream1->Clear();
    }
    merged.indices->Clear();
    for (const Batch::Member& member : batch.members_) {
        if (member.group == group && !member.alone) {
            AppendMember(merged, *member.mesh);
        }
    }
    merged.indices->Lock(0);
}

void BatchStore::AppendMember(Batch::Merged& merged, DeviceMesh& member) {
    VertexBuffer* source = member.GetVertexStream(0);
    VertexBuffer* source1 = member.GetVertexStream(1);
    IndexBuffer* indices = member.GetIndexData();
    if (!source || !indices || source->GetCount() == 0 || indices->GetIndexCount() == 0) {
        return;
    }
    const uint32_t count = source->GetCount();
    const std::vector<IndexSpan> ranges = member.GetSelectedRanges();
    uint32_t indexTotal = 0;
    for (const IndexSpan& r : ranges) {
        indexTotal += r.end - r.begin;
    }
    VertexBuffer& target = *merged.stream0;
    // A member whose streams disagree in length would shift every later member's second
    // stream; it is left out rather than drawn wrong.
    const bool second = merged.stream1 != nullptr;
    if (count > target.GetCapacity() - target.GetCount() ||
        indexTotal > merged.indices->GetCapacity() - merged.indices->GetIndexCount() ||
        second != (source1 != nullptr) || (source1 && source1->GetCount() < count)) {
        return;
    }
    const uint32_t first = target.GetCount();
    std::span<const uint32_t> vertices = source->ReadVertices();
    target.Append(count, vertices.data());
    if (!member.TestOptions(MeshVerticesInWorld)) {
        const uint32_t format = target.GetFormat();
        const bool normals = (format & VertexNormal) && !member.TestOptions(MeshKeepNormals);
        std::span<uint32_t> appended =
            target.GetVertices().subspan(static_cast<size_t>(first) * target.GetStride());
        TransformVertices(appended, target.GetLayout(), format, member.GetWorldMatrix(), normals);
    }
    if (source1) {
        merged.stream1->Append(count, source1->ReadVertices().data());
    }
    const uint32_t previous = indices->GetLockMode();
    if (indices->Lock(1)) {
        for (const IndexSpan& r : ranges) {
            merged.indices->AppendRange(r.end - r.begin, indices->GetRange(r.begin), first);
        }
    }
    indices->Lock(previous == 1 ? 1 : 0);
}

void BatchStore::FlushPassBatches(uint32_t passId) {
    if (passId >= BatchPassIdCount) {
        return;
    }
    for (auto& [hash, batch] : batches_[passId]) {
        FlushBatch(*batch);
    }
}

void BatchStore::DrawPassBatches(uint32_t passId) {
    RenderDevice* device = TheRenderDevice();
    if (passId >= BatchPassIdCount || !device) {
        return;
    }
    RenderStatistics& statistics = device->GetRenderStatistics();
    for (auto& [hash, batch] : batches_[passId]) {
        bool drawn = true;
        DeviceMesh* fixed = batch->merged_[Batch::Static].mesh.get();
        if (fixed && !fixed->TestOptions(MeshHidden) && !(hideMask_ & BatchHideStatic)) {
            drawn = fixed->Draw();
            ++statistics.numStaticBatchesRendered;
        }
        DeviceMesh* moving = batch->merged_[Batch::Dynamic].mesh.get();
        if (moving && !moving->TestOptions(MeshHidden) && !(hideMask_ & BatchHideDynamic)) {
            if (drawn) {
                moving->Draw();
            }
            ++statistics.numDynamicBatchesRendered;
        }
        for (const Batch::Member& member : batch->members_) {
            const uint32_t hidden = member.group == Batch::Static ? BatchHideStatic
                                                                  : BatchHideDynamic;
            if (member.alone && !(hideMask_ & hidden)) {
                member.mesh->Draw();
            }
        }
    }
}

void BatchStore::RemoveMesh(Batch& batch, DeviceMesh& mesh) {
    auto member = std::find_if(batch.members_.begin(), batch.members_.end(),
                               [&](const Batch::Member& m) { return m.mesh == &mesh; });
    if (member == batch.members_.end()) {
        return;
    }
    if (DeviceMesh* merged = batch.merged_[member->group].mesh.get()) {
        merged->SetOptions(MeshMergedRebuild, MeshMergedRebuild);
    }
    batch.members_.erase(member);
}

void BatchStore::ForgetMesh(DeviceMesh& mesh) {
    for (uint32_t half = 0; half < 2; ++half) {
        if (Batch* owner = mesh.GetOwner(half)) {
            RemoveMesh(*owner, mesh);
        }
    }
    if (pendingSubmissions_ == 0) {
        return;
    }
    for (auto& map : batches_) {
        for (auto& [hash, batch] : map) {
            const size_t before = batch->submitted_.size();
            std::erase(batch->submitted_, &mesh);
            pendingSubmissions_ -= std::min(pendingSubmissions_, before - batch->submitted_.size());
        }
    }
}

void BatchStore::CountHighlightedModels(uint32_t passId) {
    RenderDevice* device = TheRenderDevice();
    if (highlighted_ && device && highlighted_->passId_ == passId) {
        device->GetRenderStatistics().numModelsInHighlightedBatch +=
            static_cast<uint32_t>(highlighted_->members_.size());
    }
}

void BatchStore::SetHideMask(uint32_t mask, uint32_t value) {
    hideMask_ = (hideMask_ & ~mask) | (mask & value);
}

void BatchStore::Highlight(Batch& batch, bool on) {
    for (Batch::Merged& merged : batch.merged_) {
        if (!merged.mesh) {
            continue;
        }
        if (on) {
            merged.mesh->SetColor(0xFFFF0000);
            merged.mesh->SetLayerCount(1);
            merged.mesh->SetLayer(0, nullptr, BlendMode::Normal);
            merged.mesh->SetRenderFlags(MeshLighting | MeshFog, 0);
            merged.mesh->SetShader(nullptr);
        } else if (!batch.members_.empty()) {
            TakeRenderState(*merged.mesh, *batch.members_.front().mesh);
        }
    }
}

void BatchStore::HighlightBatch(Batch* batch) {
    if (batch == highlighted_) {
        return;
    }
    if (highlighted_) {
        Highlight(*highlighted_, false);
    }
    highlighted_ = batch;
    if (batch) {
        Highlight(*batch, true);
    }
}

void BatchStore::HighlightMeshBatch(DeviceMesh* mesh, uint32_t half) {
    HighlightBatch(mesh ? mesh->GetOwner(half) : nullptr);
}

void BatchStore::ClearStore() {
    highlighted_ = nullptr;
    pendingSubmissions_ = 0;
    mergedVertices_ = 0;
    // The batches die outside the store: their merged meshes' destructors look into it.
    auto batches = std::move(batches_);
    batches_ = {};
    DeviceMesh::ClearAllOwners();
}

} // namespace quarn
