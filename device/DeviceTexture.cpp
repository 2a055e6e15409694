#include "device/DeviceTexture.h"

#include "core/io/ByteOrder.h"
#include "core/math/Geometry.h"
#include "core/os/EngineWork.h"
#include "core/string/Text.h"
#include "gpu/GpuFormats.h"

#include <cassert>
#include <cmath>
#include <cstring>
#include <vector>

namespace quarn {

namespace {

constexpr PixelFormatRecord FormatRecords[PixelFormatCount] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, GpuFormat::Unknown},
    {24, 0xFF0000, 0xFF00, 0xFF, 8, 8, 8, 16, 8, 0, 0, 0, GpuFormat::R8G8B8},
    {32, 0xFF0000, 0xFF00, 0xFF, 8, 8, 8, 16, 8, 0, 8, 0, GpuFormat::A8R8G8B8},
    {32, 0xFF0000, 0xFF00, 0xFF, 8, 8, 8, 16, 8, 0, 0, 0, GpuFormat::X8R8G8B8},
    {16, 0xF800, 0x7E0, 0x1F, 5, 6, 5, 11, 5, 0, 0, 0, GpuFormat::R5G6B5},
    {16, 0x7C00, 0x3E0, 0x1F, 5, 5, 5, 10, 5, 0, 1, 0, GpuFormat::A1R5G5B5},
    {16, 0x7C00, 0x3E0, 0x1F, 5, 5, 5, 10, 5, 0, 0, 0, GpuFormat::X1R5G5B5},
    {16, 0xF00, 0xF0, 0xF, 4, 4, 4, 8, 4, 0, 4, 0, GpuFormat::A4R4G4B4},
    {16, 0xF00, 0xF0, 0xF, 4, 4, 4, 8, 4, 0, 0, 0, GpuFormat::X4R4G4B4},
    // The GPU layer has no palettes, so 8-bit textures are never created.
    {8, 0, 0, 0, 8, 8, 8, 0, 0, 0, 0, 0, GpuFormat::Unknown},
    // Block formats carry 16 bits per pixel for the memory estimate.
    {16, 0xF800, 0x7E0, 0x1F, 5, 6, 5, 11, 5, 0, 0, 1, GpuFormat::Dxt1},
    {16, 0xF800, 0x7E0, 0x1F, 5, 6, 5, 11, 5, 0, 0, 2, GpuFormat::Dxt2},
    {16, 0xF800, 0x7E0, 0x1F, 5, 6, 5, 11, 5, 0, 0, 3, GpuFormat::Dxt3},
    {16, 0xF800, 0x7E0, 0x1F, 5, 6, 5, 11, 5, 0, 0, 4, GpuFormat::Dxt4},
    {16, 0xF800, 0x7E0, 0x1F, 5, 6, 5, 11, 5, 0, 0, 5, GpuFormat::Dxt5},
    {64, 0xFF0000, 0xFF00, 0xFF, 16, 16, 16, 32, 16, 0, 0, 0, GpuFormat::A16B16G16R16F},
    {64, 0xFF0000, 0xFF00, 0xFF, 16, 16, 16, 32, 16, 0, 0, 0, GpuFormat::A16B16G16R16},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, GpuFormat::Unknown},
};

using Fallbacks = std::array<PixelFormat, 8>;
constexpr std::array<Fallbacks, PixelFormatCount> MakeFormatFallbacks() {
    using enum PixelFormat;
    return {{
        {},
        {R8G8B8, X8R8G8B8, A8R8G8B8, R5G6B5, X1R5G5B5, A1R5G5B5, X4R4G4B4, A4R4G4B4},
        {A8R8G8B8, A4R4G4B4, A1R5G5B5},
        {X8R8G8B8, R8G8B8, A8R8G8B8, R5G6B5, X1R5G5B5, A1R5G5B5, X4R4G4B4, A4R4G4B4},
        {R5G6B5, X1R5G5B5, A1R5G5B5, R8G8B8, X8R8G8B8, A8R8G8B8, X4R4G4B4, A4R4G4B4},
        {A1R5G5B5, A8R8G8B8, A4R4G4B4},
        {X1R5G5B5, A1R5G5B5, R5G6B5, R8G8B8, X8R8G8B8, A8R8G8B8, X4R4G4B4, A4R4G4B4},
        {A4R4G4B4, A8R8G8B8, A1R5G5B5},
        {X4R4G4B4, A4R4G4B4, X1R5G5B5, R5G6B5, A1R5G5B5, R8G8B8, X8R8G8B8, A8R8G8B8},
        {P8},
        {Dxt1},
        {Dxt2},
        {Dxt3},
        {Dxt4},
        {Dxt5},
        {A16B16G16R16F},
        {A16B16G16R16, A8R8G8B8, A4R4G4B4, A1R5G5B5},
        {},
    }};
}
constexpr std::array<Fallbacks, PixelFormatCount> FormatFallbacks = MakeFormatFallbacks();

// Index into the tables; formats outside the list (a stored number) read as Unknown.
size_t FormatIndex(PixelFormat format) {
    const auto code = static_cast<int32_t>(format);
    return static_cast<size_t>(
        code >= 0 && code < PixelFormatCount ? code : static_cast<int32_t>(PixelFormat::Unknown));
}

std::vector<DeviceTexture*>& LiveTextures() {
    static std::vector<DeviceTexture*> list;
    return list;
}

constexpr char CreateFailed[] = "Failed to create texture";

GpuCubeFace FaceOf(uint32_t index) {
    return static_cast<GpuCubeFace>(index < GpuCubeFaceCount ? index : 0);
}

// Keeps the top bits of each channel, as the format record lays them out.
uint32_t PackChannels(const PixelFormatRecord& r, uint32_t argb) {
    uint32_t red = (argb >> 16) & 0xFF;
    uint32_t green = (argb >> 8) & 0xFF;
    uint32_t blue = argb & 0xFF;
    uint32_t value = ((red >> (8 - r.redBits)) << r.redShift) |
                     ((green >> (8 - r.greenBits)) << r.greenShift) |
                     ((blue >> (8 - r.blueBits)) << r.blueShift);
    if (r.alphaBits != 0) {
        uint32_t alpha = argb >> 24;
        value |= (alpha >> (8 - r.alphaBits)) << (r.redShift + r.redBits);
    }
    return value;
}

uint32_t Expand(uint32_t value, uint32_t bits) {
    // Replicating the top bits makes full intensity read back as 255.
    uint32_t v = value << (8 - bits);
    for (uint32_t filled = bits; filled < 8; filled += bits) {
        v |= v >> bits;
    }
    return v & 0xFF;
}

uint32_t UnpackChannels(const PixelFormatRecord& r, uint32_t value) {
    uint32_t red = Expand((value & r.redMask) >> r.redShift, r.redBits);
    uint32_t green = Expand((value & r.greenMask) >> r.greenShift, r.greenBits);
    uint32_t blue = Expand((value & r.blueMask) >> r.blueShift, r.blueBits);
    uint32_t alpha = 0xFF;
    if (r.alphaBits != 0) {
        alpha =
            Expand((value >> (r.redShift + r.redBits)) & ((1u << r.alphaBits) - 1), r.alphaBits);
    }
    return GpuArgb(alpha, red, green, blue);
}

uint8_t ChannelToByte(float c) {
    float scaled = c * 255.0f;
    if (!(scaled > 0.0f)) {
        return 0;
    }
    return scaled >= 255.0f ? 255 : static_cast<uint8_t>(scaled);
}

uint8_t ChannelToByteRounded(float c) {
    return ChannelToByte(c + 0.5f / 255.0f);
}

} // namespace

const PixelFormatRecord& GetPixelFormatRecord(PixelFormat format) {
    return FormatRecords[FormatIndex(format)];
}

PixelFormat PixelFormatFromGpu(GpuFormat format) {
    for (int32_t code = 1; code < PixelFormatCount; ++code) {
        if (format != GpuFormat::Unknown && FormatRecords[code].gpuFormat == format) {
            return static_cast<PixelFormat>(code);
        }
    }
    return PixelFormat::Unknown;
}

GpuFormat PixelFormatToGpu(PixelFormat format) {
    return GetPixelFormatRecord(format).gpuFormat;
}

const Fallbacks& GetPixelFormatFallbacks(PixelFormat format) {
    return FormatFallbacks[FormatIndex(format)];
}

const char* GetNativeTextureExtension(int32_t index) {
    return index == 0 ? "dds" : "";
}

size_t GetDeviceTextureCount() {
    return LiveTextures().size();
}

void ReleaseDeviceTextures() {
    for (DeviceTexture* texture : LiveTextures()) {
        if (texture->flags_ & TextureFlagRenderTarget) {
            // A lock cannot outlive its object; the staging copy lives in the default pool too.
            texture->staging_.reset();
            texture->lockMode_ = TextureUnlocked;
            texture->bits_ = nullptr;
            texture->texture_.reset();
            texture->ownedSurface_.reset();
            texture->surface_ = nullptr;
        }
    }
}

bool RestoreDeviceTextures() {
    bool result = true;
    for (DeviceTexture* texture : LiveTextures()) {
        if (texture->flags_ & TextureFlagRenderTarget) {
            Int2 size = texture->size_;
            result = texture->Create(size.x, size.y, texture->format_, texture->kind_,
                                     texture->flags_, texture->levelCount_);
        }
    }
    return result;
}

DeviceTexture::DeviceTexture(GpuDevice& device, ErrorCallback reporter)
    : device_(device), reporter_(std::move(reporter)) {
    static uint64_t lastId = 0;
    id_ = ++lastId;
    listIndex_ = LiveTextures().size();
    LiveTextures().push_back(this);
}

DeviceTexture::~DeviceTexture() {
    std::vector<DeviceTexture*>& list = LiveTextures();
    assert(listIndex_ < list.size() && list[listIndex_] == this);
    list[listIndex_] = list.back();
    list[listIndex_]->listIndex_ = listIndex_;
    list.pop_back();
    ReleaseObject();
}

void DeviceTexture::Report(const char* text) {
    if (reporter_) {
        reporter_(text);
    }
}

void DeviceTexture::ReleaseObject() {
    staging_.reset();
    texture_.reset();
    ownedSurface_.reset();
    surface_ = nullptr;
    kind_ = TextureKind::None;
    lockMode_ = TextureUnlocked;
    pitch_ = 0;
    bits_ = nullptr;
}

void DeviceTexture::SetUVRange(int32_t width, int32_t height) {
    texelSize_ = {1.0f / static_cast<float>(allocatedSize_.x),
                  1.0f / static_cast<float>(allocatedSize_.y)};
    minUV_ = {0.0f, 0.0f};
    maxUV_ = {static_cast<float>(width) * texelSize_.x, static_cast<float>(height) * texelSize_.y};
}

bool DeviceTexture::Create(int32_t width, int32_t height, PixelFormat format, TextureKind kind,
                           uint32_t flags, int32_t depth) {
    bool renderTarget = (flags & TextureFlagRenderTarget) != 0;
    uint32_t allocatedWidth = width > 0 ? NextPowerOfTwo(static_cast<uint32_t>(width)) : 0;
    uint32_t allocatedHeight = height > 0 ? NextPowerOfTwo(static_cast<uint32_t>(height)) : 0;

    GpuPool pool = renderTarget ? GpuPool::Default : GpuPool::Managed;
    if (kind == TextureKind::Surface) {
        pool = GpuPool::SystemMem;
    }
    uint32_t usage = renderTarget ? GpuUsageRenderTarget : 0;
    PixelFormat chosen = PixelFormat::None;
    for (PixelFormat candidate : GetPixelFormatFallbacks(format)) {
        if (candidate == PixelFormat::None) {
            break;
        }
        GpuFormat candidateGpu = PixelFormatToGpu(candidate);
        if (candidateGpu != GpuFormat::Unknown &&
            device_.CheckDeviceFormat(usage, GpuResourceType::Texture, candidateGpu)) {
            chosen = candidate;
            break;
        }
    }
    GpuFormat gpuFormat = PixelFormatToGpu(chosen);

    ReleaseObject();
    kind_ = kind;
    levelCount_ = (flags & TextureFlagMipChain) ? 0 : 1;

    bool made = false;
    if (allocatedWidth != 0 && allocatedHeight != 0 && chosen != PixelFormat::None) {
        switch (kind) {
        case TextureKind::Surface:
            ownedSurface_ = device_.CreateOffscreenPlainSurface(allocatedWidth, allocatedHeight,
                                                                gpuFormat, pool);
            surface_ = ownedSurface_.get();
            made = surface_ != nullptr;
            break;
        case TextureKind::Texture2D:
            texture_ =
                device_.CreateTexture(allocatedWidth, allocatedHeight,
                                      static_cast<uint32_t>(levelCount_), usage, gpuFormat, pool);
            made = texture_ != nullptr;
            break;
        case TextureKind::CubeTexture:
            texture_ = device_.CreateCubeTexture(allocatedWidth, static_cast<uint32_t>(levelCount_),
                                                 0, gpuFormat, pool);
            made = texture_ != nullptr;
            break;
        case TextureKind::VolumeTexture:
            texture_ = device_.CreateVolumeTexture(
                allocatedWidth, allocatedHeight,
                NextPowerOfTwo(static_cast<uint32_t>(depth > 0 ? depth : 1)),
                static_cast<uint32_t>(levelCount_), usage, gpuFormat, pool);
            made = texture_ != nullptr;
            break;
        default:
            break;
        }
    }
    if (kind == TextureKind::None || kind > TextureKind::VolumeTexture) {
        kind_ = TextureKind::None;
        return false;
    }
    if (!made) {
        Report(CreateFailed);
        ReleaseObject();
        size_ = {};
        format_ = PixelFormat::None;
        return false;
    }
    flags_ = flags;
    format_ = chosen;
    allocatedSize_ = {static_cast<int32_t>(allocatedWidth), static_cast<int32_t>(allocatedHeight)};
    RefreshInfo();
    size_ = {width, height};
    SetUVRange(width, height);
    return true;
}

void DeviceTexture::RefreshInfo() {
    GpuSurfaceDesc desc;
    if (kind_ == TextureKind::Surface && surface_ != nullptr) {
        desc = surface_->GetDesc();
        levelCount_ = 1;
    } else if ((kind_ == TextureKind::Texture2D || kind_ == TextureKind::CubeTexture) &&
               texture_ != nullptr) {
        desc = texture_->GetLevelDesc(0);
        levelCount_ = static_cast<int32_t>(texture_->GetLevelCount());
    } else {
        return;
    }
    format_ = PixelFormatFromGpu(desc.format);
    allocatedSize_ = {static_cast<int32_t>(desc.width), static_cast<int32_t>(desc.height)};
}

void DeviceTexture::WrapSurface(GpuSurface* surface) {
    ReleaseObject();
    surface_ = surface;
    kind_ = TextureKind::Surface;
    RefreshInfo();
    size_ = allocatedSize_;
    if (allocatedSize_.x > 0 && allocatedSize_.y > 0) {
        SetUVRange(size_.x, size_.y);
    }
}

GpuSurface* DeviceTexture::GetSurface(uint32_t index) {
    switch (kind_) {
    case TextureKind::Surface:
        return surface_;
    case TextureKind::Texture2D:
        return texture_ ? texture_->GetSurface(index, GpuCubeFace::PositiveX) : nullptr;
    case TextureKind::CubeTexture:
        return texture_ ? texture_->GetSurface(0, FaceOf(index)) : nullptr;
    default:
        return nullptr;
    }
}

bool DeviceTexture::Lock(uint32_t mode, uint32_t index) {
    if (mode == lockMode_) {
        return true;
    }
    bool renderTarget = (flags_ & TextureFlagRenderTarget) != 0;
    if (mode == TextureUnlocked) {
        GpuResult result = GpuResult::InvalidCall;
        if (renderTarget && staging_) {
            result = staging_->UnlockRect();
            // Read-write locks are written back too, or their changes would be lost.
            if (result == GpuResult::Ok && (lockMode_ & TextureLockWrite)) {
                ChargeStagingCopy();
                GpuSurface* target = GetSurface(0);
                result = target ? device_.StretchRect(staging_.get(), nullptr, target, nullptr)
                                : GpuResult::InvalidCall;
            }
            staging_.reset();
        } else if (kind_ == TextureKind::Surface && surface_) {
            result = surface_->UnlockRect();
        } else if (kind_ == TextureKind::CubeTexture && texture_) {
            result = texture_->UnlockRect(0, FaceOf(lockIndex_));
        } else if (kind_ == TextureKind::VolumeTexture && texture_) {
            result = texture_->UnlockBox(lockIndex_);
        } else if (texture_) {
            result = texture_->UnlockRect(lockIndex_, GpuCubeFace::PositiveX);
        }
        if (result != GpuResult::Ok) {
            return false;
        }
        lockMode_ = TextureUnlocked;
        bits_ = nullptr;
        pitch_ = 0;
        return true;
    }
    if (mode > TextureLockReadWrite || lockMode_ != TextureUnlocked) {
        return false;
    }
    uint32_t lockFlags = mode == TextureLockRead ? GpuLockReadOnly : 0;
    GpuLockedRect locked;
    GpuResult result = GpuResult::InvalidCall;
    if (renderTarget) {
        staging_.reset();
        GpuSurface* target = GetSurface(0);
        GpuSurfaceDesc desc = target ? target->GetDesc() : GpuSurfaceDesc{};
        // Reading a render target back needs system memory, so every staging copy lives there.
        staging_ = target ? device_.CreateOffscreenPlainSurface(desc.width, desc.height,
                                                                desc.format, GpuPool::SystemMem)
                          : nullptr;
        if (staging_) {
            ChargeStagingCopy();
            result = (mode & TextureLockRead) ? device_.GetRenderTargetData(target, staging_.get())
                                              : GpuResult::Ok;
            if (result == GpuResult::Ok) {
                result = staging_->LockRect(locked, nullptr, lockFlags);
            }
            if (result != GpuResult::Ok) {
                staging_.reset();
            }
        }
    } else if (kind_ == TextureKind::Surface && surface_) {
        result = surface_->LockRect(locked, nullptr, lockFlags);
    } else if (kind_ == TextureKind::CubeTexture && texture_) {
        result = index < GpuCubeFaceCount
                     ? texture_->LockRect(0, FaceOf(index), locked, nullptr, lockFlags)
                     : GpuResult::InvalidCall;
    } else if (kind_ == TextureKind::VolumeTexture && texture_) {
        GpuLockedBox box;
        result = texture_->LockBox(index, box, lockFlags);
        locked.pitch = box.rowPitch;
        locked.bits = box.bits;
    } else if (texture_) {
        result = texture_->LockRect(index, GpuCubeFace::PositiveX, locked, nullptr, lockFlags);
    }
    if (result != GpuResult::Ok) {
        lastError_ = StringFormat("Texture lock failed. GPU error code is %X",
                                  static_cast<uint32_t>(result));
        return false;
    }
    pitch_ = locked.pitch;
    bits_ = static_cast<uint8_t*>(locked.bits);
    lockMode_ = mode;
    lockIndex_ = index;
    return true;
}

// A render target is locked through a copy in memory, made (and read back into) at the lock
// and written back at the unlock: work of the texture's size each time, whatever the script does
// with it.
void DeviceTexture::ChargeStagingCopy() const {
    const GpuSurfaceDesc desc = staging_->GetDesc();
    ChargeBytesScanned(uint64_t(desc.width) * uint64_t(desc.height) * 4);
}

bool DeviceTexture::InImage(int32_t x, int32_t y) const {
    return bits_ != nullptr && x >= 0 && y >= 0 && x < size_.x && y < size_.y;
}

uint8_t* DeviceTexture::TexelAddress(int32_t x, int32_t y, uint32_t bytesPerTexel) const {
    return bits_ + static_cast<ptrdiff_t>(y) * pitch_ + static_cast<ptrdiff_t>(x) * bytesPerTexel;
}

void DeviceTexture::SetPixel(int32_t x, int32_t y, uint32_t color) {
    if (!InImage(x, y) || lockMode_ == TextureLockRead) {
        return;
    }
    const PixelFormatRecord& r = GetPixelFormatRecord(format_);
    if (format_ == PixelFormat::A16B16G16R16F || format_ == PixelFormat::A16B16G16R16) {
        GpuColor c = ArgbToColor(color);
        SetPixelFloat4(x, y, c.r, c.g, c.b, c.a);
        return;
    }
    if (r.blockCompression != 0) {
        uint32_t blockBytes = r.blockCompression == 1 ? 8 : 16;
        uint8_t* block = bits_ + static_cast<ptrdiff_t>(y / 4) * pitch_ +
                         static_cast<ptrdiff_t>(x / 4) * blockBytes;
        uint32_t index = static_cast<uint32_t>((y & 3) * 4 + (x & 3));
        uint32_t alpha = color >> 24;
        if (r.blockCompression == 2 || r.blockCompression == 3) {
            uint8_t& pair = block[index / 2];
            uint32_t shift = 4 * (index & 1);
            pair = static_cast<uint8_t>((pair & ~(0xF << shift)) | ((alpha >> 4) << shift));
        } else if (r.blockCompression >= 4) {
            // Interpolated alpha: the texel takes endpoint 0, which becomes its alpha.
            block[0] = static_cast<uint8_t>(alpha);
            uint64_t indices = 0;
            for (int i = 0; i < 6; ++i) {
                indices |= static_cast<uint64_t>(block[2 + i]) << (8 * i);
            }
            indices &= ~(uint64_t{7} << (3 * index));
            for (int i = 0; i < 6; ++i) {
                block[2 + i] = static_cast<uint8_t>(indices >> (8 * i));
            }
        }
        uint8_t* colorBlock = r.blockCompression == 1 ? block : block + 8;
        WriteLittleEndian16(colorBlock, PackChannels(FormatRecords[4], color));
        uint8_t& row = colorBlock[4 + (y & 3)];
        row = static_cast<uint8_t>(row & ~(3 << (2 * (x & 3))));
        return;
    }
    uint8_t* texel = TexelAddress(x, y, r.bitsPerPixel / 8);
    switch (r.bitsPerPixel) {
    case 16:
        WriteLittleEndian16(texel, PackChannels(r, color));
        break;
    case 24:
        EncodeTexelArgb(GpuFormat::R8G8B8, color, texel);
        break;
    case 32:
        std::memcpy(texel, &color, 4);
        break;
    default:
        break;
    }
}

uint32_t DeviceTexture::GetPixel(int32_t x, int32_t y) const {
    if (!InImage(x, y)) {
        return 0;
    }
    const PixelFormatRecord& r = GetPixelFormatRecord(format_);
    if (format_ == PixelFormat::A16B16G16R16F || format_ == PixelFormat::A16B16G16R16) {
        // Rounded, so a byte written through SetPixel reads back as itself: truncating the
        // wider channel's float lost one step (0x40 came back as 0x3F).
        Float4 c = GetPixelFloat4(x, y);
        return GpuArgb(ChannelToByteRounded(c.w), ChannelToByteRounded(c.x),
                       ChannelToByteRounded(c.y), ChannelToByteRounded(c.z));
    }
    if (r.blockCompression != 0) {
        uint32_t blockBytes = r.blockCompression == 1 ? 8 : 16;
        const uint8_t* block = bits_ + static_cast<ptrdiff_t>(y / 4) * pitch_ +
                               static_cast<ptrdiff_t>(x / 4) * blockBytes;
        return DecodeBlockTexelArgb(r.gpuFormat, block, static_cast<uint32_t>(x & 3),
                                    static_cast<uint32_t>(y & 3));
    }
    const uint8_t* texel = TexelAddress(x, y, r.bitsPerPixel / 8);
    switch (r.bitsPerPixel) {
    case 16:
        return UnpackChannels(r, ReadLittleEndian16(texel));
    case 24:
        return DecodeTexelArgb(GpuFormat::R8G8B8, texel);
    case 32: {
        uint32_t value;
        std::memcpy(&value, texel, 4);
        return value;
    }
    default:
        return 0;
    }
}

void DeviceTexture::SetPixelFloat4(int32_t x, int32_t y, float c0, float c1, float c2, float c3) {
    if (!InImage(x, y) || lockMode_ == TextureLockRead) {
        return;
    }
    if (format_ == PixelFormat::A16B16G16R16F || format_ == PixelFormat::A16B16G16R16) {
        // 16-bit integer channels use their whole range, as the sampler reads them.
        EncodeTexel(PixelFormatToGpu(format_), GpuColor{c0, c1, c2, c3}, TexelAddress(x, y, 8));
        return;
    }
    SetPixel(x, y,
             GpuArgb(ChannelToByte(c3), ChannelToByte(c0), ChannelToByte(c1), ChannelToByte(c2)));
}

Float4 DeviceTexture::GetPixelFloat4(int32_t x, int32_t y) const {
    if (!InImage(x, y)) {
        return {};
    }
    if (format_ == PixelFormat::A16B16G16R16F || format_ == PixelFormat::A16B16G16R16) {
        GpuColor c = DecodeTexel(PixelFormatToGpu(format_), TexelAddress(x, y, 8));
        return {c.r, c.g, c.b, c.a};
    }
    GpuColor c = ArgbToColor(GetPixel(x, y));
    return {c.r, c.g, c.b, c.a};
}

Float2 DeviceTexture::UVToTexelCoord(float u, float v) const {
    return {std::fmod(u, 1.0f) * static_cast<float>(allocatedSize_.x) - 0.5f,
            std::fmod(v, 1.0f) * static_cast<float>(allocatedSize_.y) - 0.5f};
}

Int2 DeviceTexture::UVToTexel(float u, float v) const {
    float x = std::fmod(u, 1.0f) * static_cast<float>(allocatedSize_.x);
    float y = std::fmod(v, 1.0f) * static_cast<float>(allocatedSize_.y);
    // NaN and infinities have no texel; fmod already keeps finite values inside the object.
    return {std::isfinite(x) ? static_cast<int32_t>(x) : 0,
            std::isfinite(y) ? static_cast<int32_t>(y) : 0};
}

Float2 DeviceTexture::TexelToUV(float x, float y) const {
    return {x / static_cast<float>(allocatedSize_.x), y / static_cast<float>(allocatedSize_.y)};
}

bool DeviceTexture::DrawToScreen(float sx0, float sy0, float sx1, float sy1, float dx0, float dy0,
                                 float dx1, float dy1) {
    if (kind_ != TextureKind::Texture2D || !texture_) {
        return false;
    }
    struct Vertex {
        float x, y, z, rhw, u, v;
    };
    static_assert(sizeof(Vertex) == 24);
    float w = static_cast<float>(allocatedSize_.x);
    float h = static_cast<float>(allocatedSize_.y);
    auto at = [&](float dx, float dy, float sx, float sy) {
        return Vertex{dx - 0.5f, dy - 0.5f, 0.0f, 1.0f, sx / w, sy / h};
    };
    const Vertex vertices[6] = {
        at(dx0, dy0, sx0, sy0), at(dx1, dy1, sx1, sy1), at(dx1, dy0, sx1, sy0),
        at(dx0, dy0, sx0, sy0), at(dx0, dy1, sx0, sy1), at(dx1, dy1, sx1, sy1),
    };
    const GpuVertexElement elements[] = {
        {0, 0, GpuDeclType::Float4, GpuDeclUsage::PositionT, 0},
        {0, 16, GpuDeclType::Float2, GpuDeclUsage::TexCoord, 0},
    };
    std::unique_ptr<GpuVertexDeclaration> declaration = device_.CreateVertexDeclaration(elements);
    if (!declaration) {
        return false;
    }
    device_.SetVertexDeclaration(declaration.get());
    device_.SetTexture(0, texture_.get());
    device_.SetTextureStageState(0, GpuStageState::ColorOp,
                                 static_cast<uint32_t>(GpuTextureOp::SelectArg1));
    device_.SetTextureStageState(0, GpuStageState::ColorArg1,
                                 static_cast<uint32_t>(GpuTextureArg::Texture));
    device_.SetTextureStageState(0, GpuStageState::ColorArg2,
                                 static_cast<uint32_t>(GpuTextureArg::TFactor));
    device_.SetTextureStageState(1, GpuStageState::ColorOp,
                                 static_cast<uint32_t>(GpuTextureOp::Disable));
    device_.SetTextureStageState(1, GpuStageState::AlphaOp,
                                 static_cast<uint32_t>(GpuTextureOp::Disable));
    device_.SetRenderState(GpuRenderState::BlendOp, static_cast<uint32_t>(GpuBlendOp::Add));
    device_.SetRenderState(GpuRenderState::SrcBlend, static_cast<uint32_t>(GpuBlend::One));
    device_.SetRenderState(GpuRenderState::DestBlend, static_cast<uint32_t>(GpuBlend::Zero));
    device_.SetRenderState(GpuRenderState::TextureFactor, 0xFFFF0000);
    // A full-screen copy must not inherit the last mesh's fill, tests, fog or culling.
    device_.SetRenderState(GpuRenderState::FillMode, static_cast<uint32_t>(GpuFillMode::Solid));
    device_.SetRenderState(GpuRenderState::AlphaTestEnable, 0);
    device_.SetRenderState(GpuRenderState::AlphaBlendEnable, 0);
    device_.SetRenderState(GpuRenderState::ZEnable, 0);
    device_.SetRenderState(GpuRenderState::StencilEnable, 0);
    device_.SetRenderState(GpuRenderState::FogEnable, 0);
    device_.SetRenderState(GpuRenderState::CullMode, static_cast<uint32_t>(GpuCull::None));
    GpuResult result =
        device_.DrawPrimitiveUP(GpuPrimitiveType::TriangleList, 2, vertices, sizeof(Vertex));
    device_.SetVertexDeclaration(nullptr);
    return result == GpuResult::Ok;
}

bool DeviceTexture::CopyTo(DeviceTexture& destination) {
    GpuSurface* source = GetSurface(0);
    GpuSurface* target = destination.GetSurface(0);
    if (source == nullptr || target == nullptr) {
        return false;
    }
    if (flags_ & TextureFlagRenderTarget) {
        return device_.GetRenderTargetData(source, target) == GpuResult::Ok;
    }
    return device_.StretchRect(source, nullptr, target, nullptr) == GpuResult::Ok;
}

uint32_t DeviceTexture::GetMemorySize() const {
    const PixelFormatRecord& r = GetPixelFormatRecord(format_);
    uint64_t level0 = static_cast<uint64_t>(r.bitsPerPixel / 8) *
                      static_cast<uint64_t>(allocatedSize_.x > 0 ? allocatedSize_.x : 0) *
                      static_cast<uint64_t>(allocatedSize_.y > 0 ? allocatedSize_.y : 0);
    int32_t levels = levelCount_ > 1 ? levelCount_ : 1;
    uint64_t total = 0;
    for (int32_t i = 0; i < levels && i < 32; ++i) {
        total += level0 >> (2 * i);
    }
    return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(total);
}

} // namespace quarn
