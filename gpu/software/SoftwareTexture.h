#pragma once

// Surface and texture storage for the software device, with texel decode and encode for every
// format. Sampling decodes straight from the stored bytes (block formats included), so a texture
// drawn into as a render target never needs a refresh.

#include "gpu/GpuFormats.h"

#include <memory>
#include <vector>

namespace quarn {

class SoftwareTexture;
struct SoftwareDeviceLink;

// One image: a back buffer, depth-stencil or offscreen surface, or one level (and face) of a
// texture. Colour surfaces store their texels packed with the locked pitch; depth-stencil
// surfaces store a float depth plane and a byte stencil plane instead.
class SoftwareSurface : public GpuSurface {
public:
    SoftwareSurface(std::shared_ptr<SoftwareDeviceLink> link, const GpuSurfaceDesc& desc,
                    bool lockable, SoftwareTexture* owner, uint32_t depth = 1);
    ~SoftwareSurface() override;

    GpuSurfaceDesc GetDesc() const override { return desc_; }
    GpuResult LockRect(GpuLockedRect& out, const GpuRect* rect, uint32_t flags) override;
    GpuResult UnlockRect() override;

    uint32_t Width() const { return desc_.width; }
    uint32_t Height() const { return desc_.height; }
    GpuFormat Format() const { return desc_.format; }
    // Bytes per row (per row of blocks for block formats).
    uint32_t Pitch() const { return pitch_; }
    uint8_t* Bits() { return bits_.data(); }
    const uint8_t* Bits() const { return bits_.data(); }
    bool IsLocked() const { return locked_; }
    SoftwareTexture* Owner() const { return owner_; }

    // Texel access for sampling and for render-target writes; x < Width, y < Height (volume
    // slices are stacked rows: y + z * Height).
    uint32_t ReadArgb(uint32_t x, uint32_t y) const;
    GpuColor ReadTexel(uint32_t x, uint32_t y) const;
    void WriteArgb(uint32_t x, uint32_t y, uint32_t argb);
    void WriteTexel(uint32_t x, uint32_t y, const GpuColor& color);

    // Depth-stencil planes, Width * Height entries each (empty for colour surfaces).
    float* DepthPlane() { return depth_.data(); }
    uint8_t* StencilPlane() { return stencil_.data(); }
    // Mask of the stencil bits the format has (0 when it has none).
    uint32_t StencilMask() const { return stencilMask_; }

    // Fills rect (already clipped) of a colour surface with an ARGB colour, or of a depth-stencil
    // surface with depth and/or stencil.
    void FillColor(const GpuRect& rect, uint32_t argb);
    void FillDepthStencil(const GpuRect& rect, bool depth, float z, bool stencil, uint32_t value);

private:
    std::shared_ptr<SoftwareDeviceLink> link_;
    GpuSurfaceDesc desc_;
    uint32_t pitch_ = 0;
    uint32_t depthSlices_ = 1;
    bool lockable_ = false;
    bool locked_ = false;
    SoftwareTexture* owner_ = nullptr;
    uint32_t stencilMask_ = 0;
    std::vector<uint8_t> bits_;
    std::vector<float> depth_;
    std::vector<uint8_t> stencil_;
};

class SoftwareTexture : public GpuTexture {
public:
    // Sizes and levels must already be valid (the device checks them).
    SoftwareTexture(std::shared_ptr<SoftwareDeviceLink> link, GpuResourceType type, uint32_t width,
                    uint32_t height, uint32_t depth, uint32_t levels, uint32_t usage,
                    GpuFormat format, GpuPool pool);
    ~SoftwareTexture() override;

    GpuResourceType GetType() const override { return type_; }
    uint32_t GetLevelCount() const override { return levels_; }
    GpuSurfaceDesc GetLevelDesc(uint32_t level) const override;
    uint32_t GetLevelDepth(uint32_t level) const override;
    GpuSurface* GetSurface(uint32_t level, GpuCubeFace face) override;
    GpuResult LockRect(uint32_t level, GpuCubeFace face, GpuLockedRect& out, const GpuRect* rect,
                       uint32_t flags) override;
    GpuResult UnlockRect(uint32_t level, GpuCubeFace face) override;
    GpuResult LockBox(uint32_t level, GpuLockedBox& out, uint32_t flags) override;
    GpuResult UnlockBox(uint32_t level) override;

    GpuFormat Format() const { return format_; }
    GpuPool Pool() const { return pool_; }
    uint32_t Usage() const { return usage_; }
    uint32_t FaceCount() const { return type_ == GpuResourceType::CubeTexture ? 6u : 1u; }

    // The storage of one level and face (face 0 for 2D and volume textures); level must be below
    // GetLevelCount(). Never null.
    SoftwareSurface& Level(uint32_t level, uint32_t face = 0) {
        return *surfaces_[face * levels_ + level];
    }
    const SoftwareSurface& Level(uint32_t level, uint32_t face = 0) const {
        return *surfaces_[face * levels_ + level];
    }
    uint32_t LevelWidth(uint32_t level) const { return Level(level).Width(); }
    uint32_t LevelHeight(uint32_t level) const { return Level(level).Height(); }

    // One texel of a level; the rasteriser's sampler calls these with coordinates already
    // wrapped or clamped into the level (z = slice for volumes, else 0).
    uint32_t SampleTexelArgb(uint32_t level, uint32_t face, uint32_t x, uint32_t y,
                             uint32_t z = 0) const;
    GpuColor SampleTexel(uint32_t level, uint32_t face, uint32_t x, uint32_t y,
                         uint32_t z = 0) const;

private:
    std::shared_ptr<SoftwareDeviceLink> link_;
    GpuResourceType type_;
    GpuFormat format_;
    GpuPool pool_;
    uint32_t usage_;
    uint32_t levels_;
    std::vector<uint32_t> depths_;
    std::vector<std::unique_ptr<SoftwareSurface>> surfaces_;
};

} // namespace quarn
