#include "gpu/software/SoftwareBuffers.h"

#include "gpu/software/SoftwareDevice.h"

#include <algorithm>

namespace quarn {

GpuResult SoftwareBufferStorage::Lock(uint32_t offset, uint32_t size, void*& out, uint32_t flags) {
    out = nullptr;
    if (locked_ || offset > bytes_.size() || size > bytes_.size() - offset) {
        return GpuResult::InvalidCall;
    }
    // Discard and no-overwrite promise the caller will not read what the device still draws
    // from; only dynamic buffers may make that promise.
    if ((flags & (GpuLockDiscard | GpuLockNoOverwrite)) && !(usage_ & GpuUsageDynamic)) {
        return GpuResult::InvalidCall;
    }
    locked_ = true;
    out = bytes_.data() + offset;
    return GpuResult::Ok;
}

GpuResult SoftwareBufferStorage::Unlock() {
    if (!locked_) {
        return GpuResult::InvalidCall;
    }
    locked_ = false;
    return GpuResult::Ok;
}

SoftwareVertexBuffer::SoftwareVertexBuffer(std::shared_ptr<SoftwareDeviceLink> link,
                                           uint32_t length, uint32_t usage, uint32_t fvf,
                                           GpuPool pool)
    : link_(std::move(link)), storage_(length, usage, pool), fvf_(fvf) {}

SoftwareVertexBuffer::~SoftwareVertexBuffer() {
    if (link_->device != nullptr) {
        link_->device->Forget(this);
    }
}

SoftwareIndexBuffer::SoftwareIndexBuffer(std::shared_ptr<SoftwareDeviceLink> link, uint32_t length,
                                         uint32_t usage, GpuFormat format, GpuPool pool)
    : link_(std::move(link)), storage_(length, usage, pool), format_(format) {}

SoftwareIndexBuffer::~SoftwareIndexBuffer() {
    if (link_->device != nullptr) {
        link_->device->Forget(this);
    }
}

uint32_t GpuDeclTypeSize(GpuDeclType type) {
    switch (type) {
    case GpuDeclType::Float1:
    case GpuDeclType::Color:
        return 4;
    case GpuDeclType::Float2:
        return 8;
    case GpuDeclType::Float3:
        return 12;
    case GpuDeclType::Float4:
        return 16;
    case GpuDeclType::Unused:
        return 0;
    }
    return 0;
}

SoftwareVertexDeclaration::SoftwareVertexDeclaration(std::shared_ptr<SoftwareDeviceLink> link,
                                                     std::span<const GpuVertexElement> elements)
    : link_(std::move(link)), elements_(elements.begin(), elements.end()) {}

SoftwareVertexDeclaration::~SoftwareVertexDeclaration() {
    if (link_->device != nullptr) {
        link_->device->Forget(this);
    }
}

uint32_t SoftwareVertexDeclaration::StreamExtent(uint32_t stream) const {
    uint32_t extent = 0;
    for (const GpuVertexElement& e : elements_) {
        if (e.stream == stream) {
            extent = std::max(extent, e.offset + GpuDeclTypeSize(e.type));
        }
    }
    return extent;
}

const GpuVertexElement* SoftwareVertexDeclaration::Find(GpuDeclUsage usage,
                                                        uint32_t usageIndex) const {
    for (const GpuVertexElement& e : elements_) {
        if (e.usage == usage && e.usageIndex == usageIndex) {
            return &e;
        }
    }
    return nullptr;
}

bool SoftwareVertexDeclaration::IsValid(std::span<const GpuVertexElement> elements) {
    if (elements.empty() || elements.size() > GpuMaxVertexElements) {
        return false;
    }
    for (size_t i = 0; i < elements.size(); ++i) {
        const GpuVertexElement& e = elements[i];
        if (e.stream >= GpuStreamCount || e.type > GpuDeclType::Unused ||
            e.type == GpuDeclType::Unused || e.usage > GpuDeclUsage::Color || e.offset > 0xFFFF ||
            (e.offset & 3)) {
            return false;
        }
        uint32_t maxIndex = 0;
        switch (e.usage) {
        case GpuDeclUsage::TexCoord:
            maxIndex = 3;
            break;
        case GpuDeclUsage::Color:
        case GpuDeclUsage::BlendWeight:
            maxIndex = 1;
            break;
        default:
            break;
        }
        if (e.usageIndex > maxIndex) {
            return false;
        }
        for (size_t j = 0; j < i; ++j) {
            if (elements[j].usage == e.usage && elements[j].usageIndex == e.usageIndex) {
                return false;
            }
        }
    }
    return true;
}

} // namespace quarn
