#pragma once

// Index storage of the render device: either a system-memory array copied to the GPU on
// upload, or written in place in a locked GPU buffer (dynamic data filled during a frame).

#include "gpu/GpuLayer.h"

#include <functional>
#include <memory>
#include <vector>

namespace quarn {

// Flag bits; bits 0-1 hold the primitive kind (0 triangle list, 1 line list, 2 triangle strip,
// 3 line strip).
inline constexpr uint32_t IndexKindMask = 0x3;
inline constexpr uint32_t IndexDiscard = 0x4;    // dynamic, discarded at each whole lock
inline constexpr uint32_t IndexStartEmpty = 0x8; // dynamic, Create leaves the count at 0
inline constexpr uint32_t IndexSystemMemory = 0x10;
inline constexpr uint32_t IndexNeedsUpload = 0x10000;
inline constexpr uint32_t IndexChangedSinceDraw = 0x20000;

// Indices as GetRange hands them out, for AppendRange.
struct IndexRange {
    const uint8_t* begin = nullptr;
    const uint8_t* end = nullptr;
    uint32_t indexSize = 2;
};

class IndexBuffer {
public:
    // Called after the GPU buffer was re-made following a device reset, to refill it.
    using RestoreCallback = std::function<bool(IndexBuffer&)>;
    static constexpr uint32_t NoIndex = 0xFFFFFFFF;

    // Index size follows the device: 32-bit when it can address more than 65535 vertices.
    explicit IndexBuffer(GpuDevice& device);
    virtual ~IndexBuffer();
    IndexBuffer(const IndexBuffer&) = delete;
    IndexBuffer& operator=(const IndexBuffer&) = delete;

    // False when the device refuses the buffer.
    bool Create(uint32_t count, uint32_t flags);

    // 0 unlocks, 1 locks for reading, 2 for writing. False (mode unchanged) when the lock fails.
    bool Lock(uint32_t mode);
    uint32_t GetLockMode() const { return lockMode_; }
    // Locked memory from index `first` to the capacity; empty while nothing is locked.
    IndexRange GetRange(uint32_t first) const;

    // Writers lock for writing around the write when not locked so already; positions beyond
    // the capacity are ignored (reads give 0).
    void SetTriangle(uint32_t triangle, uint32_t a, uint32_t b, uint32_t c);
    void GetTriangle(uint32_t triangle, uint32_t& a, uint32_t& b, uint32_t& c);
    void SetLine(uint32_t line, uint32_t a, uint32_t b);
    void SetIndex(uint32_t position, uint32_t vertex);
    uint32_t GetIndex(uint32_t position);

    uint32_t GetIndexCount() const { return count_; }
    uint32_t GetCapacity() const { return capacity_; }
    uint32_t GetPrimitiveCount() const { return primitiveCount_; }
    GpuPrimitiveType GetPrimitiveType() const { return primitiveType_; }
    uint32_t GetFlags() const { return flags_; }
    // The drawer has seen the present indices.
    void ClearChangedSinceDraw() { flags_ &= ~IndexChangedSinceDraw; }
    uint32_t GetIndexSize() const { return indexSize_; }
    uint32_t GetMemorySize() const { return count_ * indexSize_; }
    void SetCount(uint32_t n);

    // Position of the first new index, or NoIndex with nothing changed when it would not fit
    // (never 0, which is a position like any other).
    uint32_t AddIndices(uint32_t n);
    // Appends n indices from source with vertexOffset added, converting the index size.
    uint32_t AppendRange(uint32_t n, const IndexRange& source, uint32_t vertexOffset);
    void Clear();
    // Binds the uploaded buffer as the device's indices.
    void Bind();

    void FillTriangles(uint32_t start, uint32_t n, uint32_t firstVertex);
    void FillLines(uint32_t start, uint32_t n, uint32_t firstVertex);
    void FillStrip(uint32_t start, uint32_t n, uint32_t firstVertex);
    // Six indices per quad of four vertices; front picks (v, v+1, v+2, v, v+2, v+3) over
    // (v, v+2, v+1, v, v+3, v+2).
    void FillQuadIndices(uint32_t start, uint32_t quads, uint32_t firstVertex, bool front);

    void SetRestoreCallback(RestoreCallback callback) { restore_ = std::move(callback); }

    // Triangle groups: group g spans from its start to the start of g + 1; the start of group
    // "count" is the end of the last one.
    void SetGroupCount(uint32_t count);
    uint32_t GetGroupCount() const { return groupCount_; }
    void SetGroupStart(uint32_t group, uint32_t firstIndex);
    uint32_t GetGroupStart(uint32_t group) const;

    // The GPU copy; nullptr when the device refuses it.
    GpuIndexBuffer* Upload();
    bool HasGpuBuffer() const { return buffer_ != nullptr; }

    static void ReleaseDynamic(GpuDevice& device);
    static bool RestoreDynamic(GpuDevice& device);

private:
    bool IsSystem() const { return (flags_ & IndexSystemMemory) != 0; }
    bool IsDynamic() const { return (flags_ & (IndexDiscard | IndexStartEmpty)) != 0; }
    void MarkChanged() { flags_ |= IndexNeedsUpload | IndexChangedSinceDraw; }
    void UpdatePrimitiveCount();
    void UnlockBuffer();
    void Put(uint32_t position, uint32_t value);
    uint32_t Fetch(uint32_t position) const;
    // Runs write with the data locked for writing, restoring the previous lock mode after.
    template <typename Write>
    void Writing(Write write);
    void FillRun(uint32_t start, uint32_t count, uint32_t firstVertex);

    GpuDevice& device_;
    uint32_t count_ = 0;
    uint32_t capacity_ = 0;
    uint32_t primitiveCount_ = 0;
    uint32_t flags_ = 0;
    uint32_t lockMode_ = 0;
    uint32_t indexSize_ = 2;
    GpuPrimitiveType primitiveType_ = GpuPrimitiveType::TriangleList;
    bool created_ = false;
    bool bufferLocked_ = false;
    uint8_t* writePointer_ = nullptr;
    std::vector<uint8_t> system_;
    std::unique_ptr<GpuIndexBuffer> buffer_;
    std::vector<uint32_t> groups_;
    uint32_t groupCount_ = 0;
    RestoreCallback restore_;
    size_t listIndex_ = 0;
};

} // namespace quarn
