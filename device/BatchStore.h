#pragma once

// Merges device meshes that share one render state into a few large draws. Per batch pass id a
// batch gathers the meshes submitted during the pass whose state blocks are equal; after the
// pass it draws them through two merged meshes with the vertices moved to world space on the
// processor: a static one for members unchanged for more than 100 frames, rebuilt only when that
// group changes, and a dynamic one for the rest. All merged meshes together hold at most
// MergedVertexLimit vertices: a member past it is drawn on its own, after its batch's merged
// meshes, so a scene of many large meshes holds no copy of them all.

#include "device/DeviceMesh.h"
#include "device/DrawBufferShare.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace quarn {

class IndexBuffer;
class VertexBuffer;

inline constexpr uint32_t BatchPassIdCount = 64;
// Hide-mask bits.
inline constexpr uint32_t BatchHideStatic = 0x1;
inline constexpr uint32_t BatchHideDynamic = 0x2;

class Batch {
public:
    Batch(const MeshStateBlock& block, uint32_t hash, uint32_t passId);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    uint32_t GetStateHash() const { return hash_; }
    uint32_t GetPassId() const { return passId_; }
    size_t GetMemberCount() const { return members_.size(); }

private:
    friend class BatchStore;

    enum Group : uint32_t { Static, Dynamic };

    struct Member {
        DeviceMesh* mesh = nullptr;
        uint32_t group = Dynamic;
        uint32_t framesUnchanged = 0;
        uint32_t size = 0;    // the mesh's vertex range
        bool waiting = false; // due for the static group, promoted with the next bunch
        bool alone = false;   // past the merged total: drawn by itself
    };

    // Owns its streams and index data; the mesh goes first.
    struct Merged {
        std::unique_ptr<VertexBuffer> stream0;
        std::unique_ptr<VertexBuffer> stream1;
        std::unique_ptr<IndexBuffer> indices;
        std::unique_ptr<DeviceMesh> mesh;
        uint32_t vertices = 0; // of its members, counted towards the store's total
        DrawBufferShare share; // its buffers, counted in the scene's draw buffers
        void Reset();
    };

    uint32_t Half() const { return passId_ >= BatchPassIdCount / 2 ? 1 : 0; }

    std::vector<DeviceMesh*> submitted_;
    std::array<Merged, 2> merged_;
    MeshStateBlock block_;
    std::vector<Member> members_;
    uint32_t hash_;
    uint32_t passId_;
};

class BatchStore {
public:
    // The vertices all merged meshes hold together, a member counting its range (its indices
    // where it has more). Tests lower it.
    static inline uint64_t MergedVertexLimit = uint64_t{1} << 20;

    BatchStore() = default;
    ~BatchStore() = default;
    BatchStore(const BatchStore&) = delete;
    BatchStore& operator=(const BatchStore&) = delete;

    // The batch for the mesh in that pass: its owner when that has the mesh's state, else the
    // first batch with an equal state block, else a new one. Null for an id out of range.
    Batch* SelectBatch(DeviceMesh& mesh, uint32_t passId);
    void AddMesh(Batch& batch, DeviceMesh& mesh);
    // The per-frame merge of the meshes submitted to the batch.
    void FlushBatch(Batch& batch);
    // Every batch of the id, in ascending hash order.
    void FlushPassBatches(uint32_t passId);
    void DrawPassBatches(uint32_t passId);
    // The mesh leaves the batch; its group is rebuilt at the next flush.
    void RemoveMesh(Batch& batch, DeviceMesh& mesh);
    // A mesh about to be deleted leaves its batches and every list of submitted meshes.
    void ForgetMesh(DeviceMesh& mesh);
    void CountHighlightedModels(uint32_t passId);
    void SetHideMask(uint32_t mask, uint32_t value);
    uint32_t GetHideMask() const { return hideMask_; }
    // The highlighted batch draws in solid red.
    void HighlightBatch(Batch* batch);
    void HighlightMeshBatch(DeviceMesh* mesh, uint32_t half);
    void ClearStore();

private:
    // Rebuilds the group's merged mesh from the members that fit the store's total; the others
    // are marked to be drawn alone.
    void UpdateMerged(Batch& batch, uint32_t group);
    void AppendMember(Batch::Merged& merged, DeviceMesh& member);
    void Highlight(Batch& batch, bool on);

    std::array<std::multimap<uint32_t, std::unique_ptr<Batch>>, BatchPassIdCount> batches_;
    uint32_t hideMask_ = 0;
    Batch* highlighted_ = nullptr;
    // Meshes added since the last flush: while none are, deleting a mesh need not look for it.
    size_t pendingSubmissions_ = 0;
    uint64_t mergedVertices_ = 0; // what the merged meshes of every batch hold
    bool toldLimit_ = false;
};

// The store of the run.
BatchStore& TheBatchStore();

} // namespace quarn
