#pragma once

// Vertex and index buffers and vertex declarations of the software device: plain memory.

#include "gpu/GpuLayer.h"

#include <memory>
#include <vector>

namespace quarn {

struct SoftwareDeviceLink;

// Shared lock rules of both buffer kinds.
class SoftwareBufferStorage {
public:
    SoftwareBufferStorage(uint32_t length, uint32_t usage, GpuPool pool)
        : usage_(usage), pool_(pool), bytes_(length) {}

    GpuResult Lock(uint32_t offset, uint32_t size, void*& out, uint32_t flags);
    GpuResult Unlock();
    uint32_t Length() const { return static_cast<uint32_t>(bytes_.size()); }
    const uint8_t* Data() const { return bytes_.data(); }
    bool IsLocked() const { return locked_; }

    uint32_t usage_;
    GpuPool pool_;

private:
    std::vector<uint8_t> bytes_;
    bool locked_ = false;
};

class SoftwareVertexBuffer : public GpuVertexBuffer {
public:
    SoftwareVertexBuffer(std::shared_ptr<SoftwareDeviceLink> link, uint32_t length, uint32_t usage,
                         uint32_t fvf, GpuPool pool);
    ~SoftwareVertexBuffer() override;

    uint32_t GetLength() const override { return storage_.Length(); }
    uint32_t GetUsage() const override { return storage_.usage_; }
    GpuPool GetPool() const override { return storage_.pool_; }
    GpuResult Lock(uint32_t offset, uint32_t size, void*& out, uint32_t flags) override {
        return storage_.Lock(offset, size, out, flags);
    }
    GpuResult Unlock() override { return storage_.Unlock(); }

    const uint8_t* Data() const { return storage_.Data(); }
    uint32_t Fvf() const { return fvf_; }

private:
    std::shared_ptr<SoftwareDeviceLink> link_;
    SoftwareBufferStorage storage_;
    uint32_t fvf_;
};

class SoftwareIndexBuffer : public GpuIndexBuffer {
public:
    SoftwareIndexBuffer(std::shared_ptr<SoftwareDeviceLink> link, uint32_t length, uint32_t usage,
                        GpuFormat format, GpuPool pool);
    ~SoftwareIndexBuffer() override;

    uint32_t GetLength() const override { return storage_.Length(); }
    GpuFormat GetFormat() const override { return format_; }
    uint32_t GetUsage() const override { return storage_.usage_; }
    GpuPool GetPool() const override { return storage_.pool_; }
    GpuResult Lock(uint32_t offset, uint32_t size, void*& out, uint32_t flags) override {
        return storage_.Lock(offset, size, out, flags);
    }
    GpuResult Unlock() override { return storage_.Unlock(); }

    const uint8_t* Data() const { return storage_.Data(); }
    uint32_t IndexSize() const { return format_ == GpuFormat::Index32 ? 4u : 2u; }
    uint32_t IndexCount() const { return storage_.Length() / IndexSize(); }

private:
    std::shared_ptr<SoftwareDeviceLink> link_;
    SoftwareBufferStorage storage_;
    GpuFormat format_;
};

class SoftwareVertexDeclaration : public GpuVertexDeclaration {
public:
    SoftwareVertexDeclaration(std::shared_ptr<SoftwareDeviceLink> link,
                              std::span<const GpuVertexElement> elements);
    ~SoftwareVertexDeclaration() override;

    std::span<const GpuVertexElement> GetElements() const override { return elements_; }
    // Bytes one vertex of the stream needs at least (0 when no element reads the stream).
    uint32_t StreamExtent(uint32_t stream) const;
    // Element of the usage and index, or nullptr.
    const GpuVertexElement* Find(GpuDeclUsage usage, uint32_t usageIndex) const;

    // Checks element types, usages, streams and duplicates.
    static bool IsValid(std::span<const GpuVertexElement> elements);

private:
    std::shared_ptr<SoftwareDeviceLink> link_;
    std::vector<GpuVertexElement> elements_;
};

uint32_t GpuDeclTypeSize(GpuDeclType type);

} // namespace quarn
