#pragma once

#include "device/DeviceTexture.h"
#include "resources/Resource.h"

#include <cstdint>
#include <memory>

namespace quarn {

class ClassInfo;

// Bits of Texture::GetTextureFlags.
enum TextureFlags : uint32_t {
    TextureTranslucent = 1, // a sampled texel is not fully opaque, or there is no device texture
    TextureOpaque = 2,      // every sampled texel is opaque
    TextureUnpadded = 12,   // the image fills the allocation (no padding to a power of two)
    TextureInAtlas = 16,    // a rectangle of an atlas image
};

// An image resource holding one device texture. Its file resolves to a newer ".dds" beside a
// ".png" or ".bmp"; a texture listed in the atlas registry is a rectangle of an atlas image
// whose device texture it shares with the texture that loaded that image (the atlas owner,
// which it keeps alive by one reference). A missing or broken file gives a 16 x 16
// magenta/yellow checker. State: ResourceLoaded, ResourceShared (an atlas member),
// ResourceFailed or ResourcePlaceholder.
class Texture : public Resource {
public:
    // "MIPMAP" in the options (case counts) asks for the full mipmap chain. Loads when the path
    // is not empty.
    Texture(const char* path, const char* options);
    // A texture made by the device (render targets, lightmaps), not read from a file.
    Texture(int32_t width, int32_t height, PixelFormat format, TextureKind kind, uint32_t flags);
    ~Texture() override;

    static Entity* Create();
    ClassInfo* GetClass() const override { return classInfo ? classInfo : Resource::GetClass(); }

    // The checker placeholder.
    void Unload() override;
    // Reloads from the resource's path; references to the old device object are re-pointed.
    bool Load() override;
    // The later of the file's time and its "A_" companion's.
    uint64_t GetFileTime() const override;
    void SaveToFile(const char* path) override;
    uint32_t GetDataSize() const override;
    int GetInfoCount() const override { return 1; }
    // Width and height of the device texture's image into out[0] and out[1].
    void GetInfoValue(int index, uint32_t* out) const override;
    const char* GetInfoName(int index) const override;

    // Loads `path` (as an atlas member when the registry lists it) with the creation flags;
    // false when the placeholder took its place.
    bool LoadFile(const char* path, uint32_t creationFlags);
    // Replaces the image by an empty one of that size (a render target when asked).
    void CreateEmpty(int32_t width, int32_t height, bool renderTarget);
    // Writes the texture's own rectangle; false when the file was not written whole.
    bool SaveImage(const char* path);

    // Computed once, over the texture's own rectangle.
    uint32_t GetAverageColor();
    // The 32 x 32 opacity mask at (u, v); false outside 0..1.
    bool IsOpaqueAt(float u, float v) const;

    // Owned, or the atlas owner's; null when creation failed.
    DeviceTexture* GetDeviceTexture() const;
    // The atlas owner this texture shares with; null when it owns its device texture.
    Texture* GetAtlasTexture() const;
    int32_t GetWidth() const { return width_; }
    int32_t GetHeight() const { return height_; }
    int32_t GetLeft() const { return left_; }
    int32_t GetTop() const { return top_; }
    uint32_t GetTextureFlags() const { return textureFlags_; }
    uint32_t GetCreationFlags() const { return creationFlags_; }
    PixelFormat GetFormat() const { return format_; }
    const char* GetFilePath() const { return filePath_.Text(); }

    // Registers "Texture" (base "ResourceRef"), its script methods and constants, the image
    // codecs and the resource extensions "bmp" and "png".
    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    // Deletes an owned device texture and gives back the atlas reference.
    void DropImage();
    void ComputeAverageColor();
    void ComputeOpacity();

    // Script methods.
    void ScriptCreateEmpty(Int2 size, int32_t renderTarget) {
        CreateEmpty(size.x, size.y, renderTarget == 1);
    }
    void ScriptFill(uint32_t color);
    void ScriptLock(int32_t mode);
    Int2 ScriptGetSize() const { return {width_, height_}; }
    uint32_t ScriptGetPixel(Int2 at) const;
    void ScriptSetPixel(Int2 at, uint32_t color);
    void ScriptDraw(Float2 source0, Float2 source1, Float2 target0, Float2 target1);
    void ScriptSetRenderTarget(Entity* target);

    std::unique_ptr<DeviceTexture> ownTexture_;
    uint64_t atlasOwnerSerial_ = 0; // 0 when the image is not shared
    TextureKind kind_ = TextureKind::Texture2D;
    uint32_t creationFlags_ = 0;
    PixelFormat format_ = PixelFormat::A8R8G8B8;
    PathString filePath_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t left_ = 0;
    int32_t top_ = 0;
    uint32_t textureFlags_ = TextureTranslucent;
    uint32_t opacityMask_[32] = {};
    uint32_t averageColor_ = 0;
    float averageAlpha_ = -1.0f;
};

// The file a texture path loads: for a ".bmp" or ".png", a device-loadable file of the same
// name (".dds") whose time is not older than the path's; else the path.
PathString ResolveTextureFile(const char* path);
// The file time of a texture path: the later of the file's and its "A_" companion's.
uint64_t GetTextureFileTime(const char* path);

// Acquires a texture by path and options (see AcquireResource).
Texture* GetTexture(const char* path, const char* options);

} // namespace quarn
