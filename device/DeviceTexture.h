#pragma once

// The render device's texture object: one image the GPU can sample, render into or copy, with
// texel access for tools that build images on the processor. Every live texture is kept in one
// list so render targets can be released and re-created around a device reset.

#include "core/debug/ErrorCallback.h"
#include "core/math/Vector.h"
#include "gpu/GpuLayer.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

enum class TextureKind : uint32_t { None, Surface, Texture2D, CubeTexture, VolumeTexture };

// Format codes as stored in scenes and passed by callers; the order is fixed.
enum class PixelFormat : int32_t {
    None,
    R8G8B8,
    A8R8G8B8,
    X8R8G8B8,
    R5G6B5,
    A1R5G5B5,
    X1R5G5B5,
    A4R4G4B4,
    X4R4G4B4,
    P8,
    Dxt1,
    Dxt2,
    Dxt3,
    Dxt4,
    Dxt5,
    A16B16G16R16F,
    A16B16G16R16,
    Unknown,
};
inline constexpr int32_t PixelFormatCount = static_cast<int32_t>(PixelFormat::Unknown) + 1;

struct PixelFormatRecord {
    uint32_t bitsPerPixel;
    uint32_t redMask, greenMask, blueMask;
    uint32_t redBits, greenBits, blueBits;
    uint32_t redShift, greenShift, blueShift;
    uint32_t alphaBits;
    uint32_t blockCompression; // 0, or 1..5 for DXT1..DXT5
    GpuFormat gpuFormat;       // Unknown where the GPU layer has no such format
};

// Codes outside the list (a stored number) answer the record of Unknown.
const PixelFormatRecord& GetPixelFormatRecord(PixelFormat format);
PixelFormat PixelFormatFromGpu(GpuFormat format); // Unknown for formats without a code
GpuFormat PixelFormatToGpu(PixelFormat format);
// The formats tried in order when `format` is requested; formats with alpha fall back only to
// formats with alpha. Ends at the first None.
const std::array<PixelFormat, 8>& GetPixelFormatFallbacks(PixelFormat format);

// Creation flags.
inline constexpr uint32_t TextureFlagMipChain = 0x3; // either bit builds the full chain
inline constexpr uint32_t TextureFlagRenderTarget = 0x4;

// Lock modes.
inline constexpr uint32_t TextureUnlocked = 0;
inline constexpr uint32_t TextureLockRead = 1;
inline constexpr uint32_t TextureLockWrite = 2;
inline constexpr uint32_t TextureLockReadWrite = 3;

// Delivers up to `count` bytes into `destination`; answers how many it delivered.
using TextureReadFunction = uint32_t (*)(void* destination, uint32_t count, void* userData);

class DeviceTexture {
public:
    // `reporter` hears "Failed to create texture" and the like (the render device's error hook).
    DeviceTexture(GpuDevice& device, ErrorCallback reporter = {});
    virtual ~DeviceTexture();

    // A number no other texture object of this run has had: what holders of texture
    // references key on, since a deleted object's address may come back for a new one.
    uint64_t GetId() const { return id_; }
    DeviceTexture(const DeviceTexture&) = delete;
    DeviceTexture& operator=(const DeviceTexture&) = delete;

    // The object is width x height rounded up to powers of two; the image keeps the asked size.
    // `depth` is the level count of a surface and the slice count of a volume.
    bool Create(int32_t width, int32_t height, PixelFormat format, TextureKind kind, uint32_t flags,
                int32_t depth);
    // index is the mip level, or the face of a cube texture. Mode 0 unlocks.
    bool Lock(uint32_t mode, uint32_t index);
    uint32_t GetLockMode() const { return lockMode_; }
    int32_t GetLevelCount() const { return levelCount_; }
    bool LoadDDS(TextureReadFunction read, void* userData);
    const std::string& GetLastError() const { return lastError_; }

    // Texels are 0xAARRGGBB; outside the image size writes are ignored and reads answer 0.
    void SetPixel(int32_t x, int32_t y, uint32_t color);
    uint32_t GetPixel(int32_t x, int32_t y) const;
    void SetPixelFloat4(int32_t x, int32_t y, float c0, float c1, float c2, float c3);
    Float4 GetPixelFloat4(int32_t x, int32_t y) const;

    // Texel centres at whole numbers.
    Float2 UVToTexelCoord(float u, float v) const;
    Int2 UVToTexel(float u, float v) const;
    Float2 TexelToUV(float x, float y) const;

    Int2 GetSize() const { return size_; }
    // The image size only: the device object and the uv range stay.
    void SetSize(int32_t width, int32_t height) { size_ = {width, height}; }
    Int2 GetAllocatedSize() const { return allocatedSize_; }
    PixelFormat GetFormat() const { return format_; }
    TextureKind GetKind() const { return kind_; }
    uint32_t HasFlags(uint32_t mask) const { return flags_ & mask; }
    Float2 GetMinUV() const { return minUV_; }
    Float2 GetMaxUV() const { return maxUV_; }
    Float2 GetTexelSize() const { return texelSize_; }

    // Draws the source texel rectangle onto the destination pixel rectangle; 2D textures only.
    bool DrawToScreen(float sx0, float sy0, float sx1, float sy1, float dx0, float dy0, float dx1,
                      float dy1);
    bool CopyTo(DeviceTexture& destination);
    uint32_t GetMemorySize() const;

    // Back buffer and the like: the device keeps ownership of the surface.
    void WrapSurface(GpuSurface* surface);
    // Level `index` of a 2D texture, level 0 of face `index` of a cube, or the surface itself.
    GpuSurface* GetSurface(uint32_t index);
    GpuTexture* GetGpuTexture() { return texture_.get(); }

private:
    friend void ReleaseDeviceTextures();
    friend bool RestoreDeviceTextures();

    void ReleaseObject();
    void RefreshInfo();
    // The images of a DDS file, read whole, into the levels (or cube faces) just created.
    bool CopyDdsImages(const std::vector<uint8_t>& data, GpuFormat format, uint32_t images);
    void SetUVRange(int32_t width, int32_t height);
    void Report(const char* text);
    uint8_t* TexelAddress(int32_t x, int32_t y, uint32_t bytesPerTexel) const;
    void ChargeStagingCopy() const;
    bool InImage(int32_t x, int32_t y) const;

    GpuDevice& device_;
    ErrorCallback reporter_;
    uint64_t id_;
    TextureKind kind_ = TextureKind::None;
    std::unique_ptr<GpuTexture> texture_;
    std::unique_ptr<GpuSurface> ownedSurface_;
    GpuSurface* surface_ = nullptr; // kind 1: owned above or wrapped
    int32_t levelCount_ = 0;
    Int2 size_;
    Int2 allocatedSize_;
    Float2 texelSize_;
    Float2 minUV_;
    Float2 maxUV_;
    uint32_t flags_ = 0;
    PixelFormat format_ = PixelFormat::None;
    uint32_t lockMode_ = TextureUnlocked;
    uint32_t lockIndex_ = 0;
    int32_t pitch_ = 0;
    uint8_t* bits_ = nullptr;
    std::string lastError_;
    size_t listIndex_ = 0;
    std::unique_ptr<GpuSurface> staging_;
};

// "dds" at index 0, then the empty text that ends the list.
const char* GetNativeTextureExtension(int32_t index);
// Before a device reset: render targets drop their device object, keeping size and format.
void ReleaseDeviceTextures();
// After the reset: re-creates every render target; false when the last re-creation failed.
bool RestoreDeviceTextures();
size_t GetDeviceTextureCount();

} // namespace quarn
