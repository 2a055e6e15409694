#pragma once

// Vertex storage of the render device. Every vertex lives in a system-memory array the engine
// writes freely; the GPU buffer is only a copy made by Upload, so dynamic buffers can be dropped
// before a device reset and re-made after it without losing what was written.

#include "core/debug/ErrorCallback.h"
#include "core/math/Vector.h"
#include "gpu/GpuLayer.h"

#include <memory>
#include <span>
#include <vector>

namespace quarn {

// Format bits (low 16 bits of the format word).
inline constexpr uint32_t VertexPosition = 0x1;
inline constexpr uint32_t VertexScreenPosition = 0x2; // x, y, z, rhw; replaces VertexPosition
inline constexpr uint32_t VertexNormal = 0x4;
inline constexpr uint32_t VertexDiffuse = 0x8;
inline constexpr uint32_t VertexSpecular = 0x10;
inline constexpr uint32_t VertexTexCoord0 = 0x20; // 0x40, 0x80, 0x100: sets 1 to 3
inline constexpr uint32_t VertexWeight0 = 0x200;
inline constexpr uint32_t VertexWeight1 = 0x400;
inline constexpr uint32_t VertexExtraFloat = 0x800;

// Flag bits (high 16 bits).
inline constexpr uint32_t VertexDynamic = 0x40000;
inline constexpr uint32_t VertexStartEmpty = 0x80000;
inline constexpr uint32_t VertexClampU0 = 0x100000; // stage k: bit 20 + 2k for u, 21 + 2k for v
inline constexpr uint32_t VertexClampV0 = 0x200000;
inline constexpr uint32_t VertexNeedsUpload = 0x1000000;
inline constexpr uint32_t VertexChangedSinceDraw = 0x2000000;

// Memory layout of one vertex, in 32-bit words, and what the GPU layer is told about it.
struct VertexLayout {
    uint32_t stride = 0;
    // Word offsets; meaningful only when the format has the component.
    uint32_t position = 0;
    uint32_t normal = 0;
    uint32_t color = 0;
    uint32_t texCoord = 0;
    uint32_t extra = 0;
    uint32_t weight = 0;
    uint32_t texCoordSets = 0;
    uint32_t fixedFormat = 0;
    std::vector<GpuVertexElement> elements;

    static VertexLayout FromFormat(uint32_t format);
};

class VertexBuffer {
public:
    static constexpr uint32_t NoVertex = 0xFFFFFFFF;

    // `reporter` hears of misuse the caller should know about (the render device's error hook).
    explicit VertexBuffer(GpuDevice& device, ErrorCallback reporter = {});
    virtual ~VertexBuffer();
    VertexBuffer(const VertexBuffer&) = delete;
    VertexBuffer& operator=(const VertexBuffer&) = delete;

    // format may carry flags in its high 16 bits; both are ORed with flags. False when the
    // device refuses the declaration or (when starting empty) the buffer.
    bool Create(uint32_t count, uint32_t format, uint32_t flags);

    void SetWriteState(uint32_t state) { writeState_ = state; }
    // The vertices live in system memory, so locking only says whether the caller writes
    // (2), reads (1) or is done (0).
    bool Lock(uint32_t mode) {
        writeState_ = mode;
        return true;
    }
    uint32_t GetWriteState() const { return writeState_; }
    // Neither the format bits nor the upload bit can be set from outside.
    void SetFlags(uint32_t mask, uint32_t value);
    uint32_t TestFlags(uint32_t mask) const { return flags_ & mask & 0xFFFF0000u; }

    // Whole used range; marks it changed when the write state says the caller writes.
    std::span<uint32_t> GetVertices();
    // The used range for reading; nothing is marked changed.
    std::span<const uint32_t> ReadVertices() const {
        return {vertices_.data(), static_cast<size_t>(count_) * layout_.stride};
    }
    // From vertex `first` to past the last used one; empty (and reported) at or beyond the
    // capacity.
    std::span<uint32_t> OpenVertex(uint32_t first);

    uint32_t GetCount() const { return count_; }
    uint32_t GetCapacity() const { return capacity_; }
    uint32_t GetStride() const { return layout_.stride; }
    uint32_t GetFormat() const { return flags_ & 0xFFFF; }
    uint32_t GetMemorySize() const { return byteSize_; }
    const VertexLayout& GetLayout() const { return layout_; }

    // Writes outside the storage or to a component the format lacks are ignored; such reads
    // give zeros.
    void SetPosition(uint32_t i, const Float3& p);
    void SetNormal(uint32_t i, const Float3& n);
    void SetTexCoord(uint32_t i, uint32_t set, float u, float v);
    void SetColor(uint32_t i, uint32_t channel, uint32_t argb);
    Float3 GetPosition(uint32_t i) const;
    Float3 GetNormal(uint32_t i) const;
    Float2 GetTexCoord(uint32_t i, uint32_t set) const;
    uint32_t GetColor(uint32_t i, uint32_t channel) const;

    // Index of the first new vertex, or NoVertex with nothing changed when it would not fit.
    uint32_t AddVertices(uint32_t n);
    // Copies up to the free capacity from source (stride words per vertex).
    uint32_t Append(uint32_t n, const uint32_t* source);
    void Clear();

    // The GPU copy, refreshed when the vertices changed; nullptr when the device refuses it.
    GpuVertexBuffer* Upload();
    GpuVertexDeclaration* GetDeclaration() const { return declaration_.get(); }
    bool HasGpuBuffer() const { return buffer_ != nullptr; }

    // Around a device reset: dynamic buffers of that device drop their GPU objects, then get
    // them back with their contents kept and their count at 0. Restore is false on any failure.
    static void ReleaseDynamic(GpuDevice& device);
    static bool RestoreDynamic(GpuDevice& device);

private:
    void MarkChanged() { flags_ |= VertexNeedsUpload | VertexChangedSinceDraw; }
    uint32_t* Word(uint32_t i, uint32_t offset);
    const uint32_t* Word(uint32_t i, uint32_t offset) const;

    GpuDevice& device_;
    ErrorCallback reporter_;
    uint32_t count_ = 0;
    uint32_t capacity_ = 0;
    uint32_t byteSize_ = 0;
    uint32_t writeState_ = 0;
    uint32_t flags_ = 0;
    bool hasLayout_ = false;
    VertexLayout layout_;
    std::vector<uint32_t> vertices_;
    std::unique_ptr<GpuVertexBuffer> buffer_;
    std::unique_ptr<GpuVertexDeclaration> declaration_;
    size_t listIndex_ = 0;
};

} // namespace quarn
