#include "gpu/software/SoftwareTexture.h"

#include "gpu/software/SoftwareDevice.h"

#include <algorithm>
#include <cstring>

namespace quarn {

// ---- SoftwareSurface

SoftwareSurface::SoftwareSurface(std::shared_ptr<SoftwareDeviceLink> link,
                                 const GpuSurfaceDesc& desc, bool lockable, SoftwareTexture* owner,
                                 uint32_t depth)
    : link_(std::move(link)), desc_(desc), depthSlices_(std::max(depth, 1u)), lockable_(lockable),
      owner_(owner) {
    size_t count = static_cast<size_t>(desc.width) * desc.height * depthSlices_;
    if (GpuIsDepthFormat(desc.format)) {
        // Depth surfaces are never locked, so they keep planes the rasteriser can use directly.
        depth_.assign(count, 1.0f);
        stencil_.assign(count, 0);
        switch (desc.format) {
        case GpuFormat::D24S8:
            stencilMask_ = 0xFF;
            break;
        case GpuFormat::D24X4S4:
            stencilMask_ = 0x0F;
            break;
        case GpuFormat::D15S1:
            stencilMask_ = 0x01;
            break;
        default:
            break;
        }
        lockable_ = false;
        return;
    }
    uint32_t size = GpuFormatSize(desc.format);
    size_t rows;
    if (GpuIsBlockFormat(desc.format)) {
        pitch_ = std::max(1u, (desc.width + 3) / 4) * size;
        rows = static_cast<size_t>(std::max(1u, (desc.height + 3) / 4)) * depthSlices_;
    } else {
        pitch_ = desc.width * size;
        rows = static_cast<size_t>(desc.height) * depthSlices_;
    }
    bits_.assign(rows * pitch_, 0);
}

SoftwareSurface::~SoftwareSurface() {
    // Texture levels are accounted for by their texture.
    if (owner_ == nullptr && link_ && link_->device != nullptr) {
        link_->device->Forget(this);
    }
}

GpuResult SoftwareSurface::LockRect(GpuLockedRect& out, const GpuRect* rect, uint32_t) {
    if (!lockable_ || locked_ || bits_.empty()) {
        return GpuResult::InvalidCall;
    }
    uint32_t left = 0;
    uint32_t top = 0;
    if (rect != nullptr) {
        if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right ||
            rect->top >= rect->bottom || static_cast<uint32_t>(rect->right) > desc_.width ||
            static_cast<uint32_t>(rect->bottom) > desc_.height * depthSlices_) {
            return GpuResult::InvalidCall;
        }
        left = static_cast<uint32_t>(rect->left);
        top = static_cast<uint32_t>(rect->top);
        if (GpuIsBlockFormat(desc_.format)) {
            // Block formats lock whole blocks only.
            if ((left & 3) || (top & 3)) {
                return GpuResult::InvalidCall;
            }
            left /= 4;
            top /= 4;
        }
    }
    uint32_t unit = GpuFormatSize(desc_.format);
    out.pitch = static_cast<int32_t>(pitch_);
    out.bits = bits_.data() + static_cast<size_t>(top) * pitch_ + static_cast<size_t>(left) * unit;
    locked_ = true;
    return GpuResult::Ok;
}

GpuResult SoftwareSurface::UnlockRect() {
    if (!locked_) {
        return GpuResult::InvalidCall;
    }
    locked_ = false;
    return GpuResult::Ok;
}

uint32_t SoftwareSurface::ReadArgb(uint32_t x, uint32_t y) const {
    if (GpuIsBlockFormat(desc_.format)) {
        uint32_t blockRow = (y % desc_.height) / 4 + (y / desc_.height) * ((desc_.height + 3) / 4);
        const uint8_t* block = bits_.data() + static_cast<size_t>(blockRow) * pitch_ +
                               static_cast<size_t>(x / 4) * GpuFormatSize(desc_.format);
        return DecodeBlockTexelArgb(desc_.format, block, x, y % desc_.height);
    }
    uint32_t size = GpuFormatSize(desc_.format);
    return DecodeTexelArgb(desc_.format, bits_.data() + static_cast<size_t>(y) * pitch_ + x * size);
}

GpuColor SoftwareSurface::ReadTexel(uint32_t x, uint32_t y) const {
    if (desc_.format == GpuFormat::A16B16G16R16F || desc_.format == GpuFormat::A16B16G16R16) {
        return DecodeTexel(desc_.format, bits_.data() + static_cast<size_t>(y) * pitch_ + x * 8);
    }
    return ArgbToColor(ReadArgb(x, y));
}

void SoftwareSurface::WriteArgb(uint32_t x, uint32_t y, uint32_t argb) {
    uint32_t size = GpuFormatSize(desc_.format);
    EncodeTexelArgb(desc_.format, argb, bits_.data() + static_cast<size_t>(y) * pitch_ + x * size);
}

void SoftwareSurface::WriteTexel(uint32_t x, uint32_t y, const GpuColor& color) {
    uint32_t size = GpuFormatSize(desc_.format);
    EncodeTexel(desc_.format, color, bits_.data() + static_cast<size_t>(y) * pitch_ + x * size);
}

void SoftwareSurface::FillColor(const GpuRect& rect, uint32_t argb) {
    if (bits_.empty() || GpuIsBlockFormat(desc_.format)) {
        return;
    }
    if (rect.left >= rect.right || rect.top >= rect.bottom) {
        return;
    }
    const size_t size = GpuFormatSize(desc_.format);
    uint8_t texel[8] = {};
    EncodeTexelArgb(desc_.format, argb, texel);
    // The first row by doubling copies and the others copied from it: a clear a texel at a time
    // was a fair share of a frame.
    const size_t bytes = static_cast<size_t>(rect.right - rect.left) * size;
    auto at = [&](int32_t y) {
        return bits_.data() + static_cast<size_t>(y) * pitch_ +
               static_cast<size_t>(rect.left) * size;
    };
    uint8_t* first = at(rect.top);
    std::memcpy(first, texel, size);
    for (size_t done = size; done < bytes; done *= 2) {
        std::memcpy(first + done, first, std::min(done, bytes - done));
    }
    for (int32_t y = rect.top + 1; y < rect.bottom; ++y) {
        std::memcpy(at(y), first, bytes);
    }
}

void SoftwareSurface::FillDepthStencil(const GpuRect& rect, bool depth, float z, bool stencil,
                                       uint32_t value) {
    if (depth_.empty()) {
        return;
    }
    float clamped = std::clamp(z, 0.0f, 1.0f);
    uint8_t s = static_cast<uint8_t>(value & stencilMask_);
    for (int32_t y = rect.top; y < rect.bottom; ++y) {
        size_t row = static_cast<size_t>(y) * desc_.width;
        for (int32_t x = rect.left; x < rect.right; ++x) {
            if (depth) {
                depth_[row + static_cast<size_t>(x)] = clamped;
            }
            if (stencil) {
                stencil_[row + static_cast<size_t>(x)] = s;
            }
        }
    }
}

// ---- SoftwareTexture

SoftwareTexture::SoftwareTexture(std::shared_ptr<SoftwareDeviceLink> link, GpuResourceType type,
                                 uint32_t width, uint32_t height, uint32_t depth, uint32_t levels,
                                 uint32_t usage, GpuFormat format, GpuPool pool)
    : link_(std::move(link)), type_(type), format_(format), pool_(pool), usage_(usage),
      levels_(levels) {
    bool lockable = pool != GpuPool::Default || (usage & GpuUsageDynamic) != 0;
    if (usage & (GpuUsageRenderTarget | GpuUsageDepthStencil)) {
        lockable = false;
    }
    uint32_t faces = FaceCount();
    surfaces_.resize(static_cast<size_t>(faces) * levels);
    depths_.resize(levels);
    for (uint32_t face = 0; face < faces; ++face) {
        uint32_t w = width, h = height, d = depth;
        for (uint32_t level = 0; level < levels; ++level) {
            GpuSurfaceDesc desc{format, type, usage, pool, w, h};
            depths_[level] = d;
            surfaces_[face * levels + level] =
                std::make_unique<SoftwareSurface>(link_, desc, lockable, this, d);
            w = std::max(1u, w / 2);
            h = std::max(1u, h / 2);
            d = std::max(1u, d / 2);
        }
    }
}

SoftwareTexture::~SoftwareTexture() {
    if (link_->device != nullptr) {
        link_->device->Forget(this);
    }
}

GpuSurfaceDesc SoftwareTexture::GetLevelDesc(uint32_t level) const {
    if (level >= levels_) {
        return {};
    }
    return Level(level).GetDesc();
}

uint32_t SoftwareTexture::GetLevelDepth(uint32_t level) const {
    return level < levels_ ? depths_[level] : 0;
}

GpuSurface* SoftwareTexture::GetSurface(uint32_t level, GpuCubeFace face) {
    uint32_t f = type_ == GpuResourceType::CubeTexture ? static_cast<uint32_t>(face) : 0;
    if (level >= levels_ || f >= FaceCount() || type_ == GpuResourceType::VolumeTexture) {
        return nullptr;
    }
    return &Level(level, f);
}

GpuResult SoftwareTexture::LockRect(uint32_t level, GpuCubeFace face, GpuLockedRect& out,
                                    const GpuRect* rect, uint32_t flags) {
    GpuSurface* surface = GetSurface(level, face);
    if (surface == nullptr) {
        return GpuResult::InvalidCall;
    }
    return surface->LockRect(out, rect, flags);
}

GpuResult SoftwareTexture::UnlockRect(uint32_t level, GpuCubeFace face) {
    GpuSurface* surface = GetSurface(level, face);
    if (surface == nullptr) {
        return GpuResult::InvalidCall;
    }
    return surface->UnlockRect();
}

GpuResult SoftwareTexture::LockBox(uint32_t level, GpuLockedBox& out, uint32_t flags) {
    if (type_ != GpuResourceType::VolumeTexture || level >= levels_) {
        return GpuResult::InvalidCall;
    }
    SoftwareSurface& slices = Level(level);
    GpuLockedRect rect;
    GpuResult result = slices.LockRect(rect, nullptr, flags);
    if (result != GpuResult::Ok) {
        return result;
    }
    out.rowPitch = rect.pitch;
    out.slicePitch = rect.pitch * static_cast<int32_t>(slices.Height());
    out.bits = rect.bits;
    return GpuResult::Ok;
}

GpuResult SoftwareTexture::UnlockBox(uint32_t level) {
    if (type_ != GpuResourceType::VolumeTexture || level >= levels_) {
        return GpuResult::InvalidCall;
    }
    return Level(level).UnlockRect();
}

uint32_t SoftwareTexture::SampleTexelArgb(uint32_t level, uint32_t face, uint32_t x, uint32_t y,
                                          uint32_t z) const {
    const SoftwareSurface& s = Level(level, face);
    return s.ReadArgb(x, y + z * s.Height());
}

GpuColor SoftwareTexture::SampleTexel(uint32_t level, uint32_t face, uint32_t x, uint32_t y,
                                      uint32_t z) const {
    const SoftwareSurface& s = Level(level, face);
    return s.ReadTexel(x, y + z * s.Height());
}

} // namespace quarn
