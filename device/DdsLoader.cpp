#include "device/DdsLoader.h"

#include "core/io/ByteOrder.h"
#include "device/DeviceTexture.h"
#include "gpu/GpuFormats.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace quarn {

namespace {

constexpr uint32_t FourCC(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

// Header offsets counted from the end of the magic.
constexpr uint32_t HeightOffset = 8;
constexpr uint32_t WidthOffset = 12;
constexpr uint32_t MipMapCountOffset = 24;
constexpr uint32_t FourCCOffset = 80;
constexpr uint32_t BitCountOffset = 84;
constexpr uint32_t Caps1Offset = 104;
constexpr uint32_t Caps2Offset = 108;

// Rows of one image: (bytes a row takes in the file, number of rows).
void ImageRows(GpuFormat format, uint32_t width, uint32_t height, uint64_t& rowBytes,
               uint32_t& rows) {
    if (GpuIsBlockFormat(format)) {
        rowBytes = static_cast<uint64_t>((width + 3) / 4) * GpuFormatSize(format);
        rows = (height + 3) / 4;
    } else {
        rowBytes = static_cast<uint64_t>(width) * GpuFormatSize(format);
        rows = height;
    }
}

// Never trusts the reader's count beyond what was asked.
bool ReadExactly(TextureReadFunction read, void* userData, void* destination, uint32_t count) {
    return read != nullptr && read(destination, count, userData) >= count;
}

// Reads `count` bytes into `out`, which grows only as the bytes arrive (to at most twice what
// came so far). Null when all came, else the reason: the input ended first, or memory ran out.
const char* ReadGrowing(TextureReadFunction read, void* userData, uint64_t count,
                        std::vector<uint8_t>& out) {
    constexpr uint64_t FirstChunk = 64u << 10;
    constexpr uint64_t LargestChunk = 1u << 30;
    try {
        while (out.size() < count) {
            const uint64_t had = out.size();
            const uint64_t chunk = std::min({std::max(had, FirstChunk), LargestChunk, count - had});
            out.resize(static_cast<size_t>(had + chunk));
            if (!ReadExactly(read, userData, out.data() + had, static_cast<uint32_t>(chunk))) {
                return "Unexpected end of file.";
            }
        }
    } catch (const std::bad_alloc&) {
        return "Not enough memory for the texture";
    }
    return nullptr;
}

} // namespace

DdsHeader ParseDdsHeader(std::span<const uint8_t, DdsHeaderSize> bytes) {
    DdsHeader header;
    header.height = ReadLittleEndian32(bytes.data() + HeightOffset);
    header.width = ReadLittleEndian32(bytes.data() + WidthOffset);
    header.mipMapCount = ReadLittleEndian32(bytes.data() + MipMapCountOffset);
    header.fourCC = ReadLittleEndian32(bytes.data() + FourCCOffset);
    header.rgbBitCount = ReadLittleEndian32(bytes.data() + BitCountOffset);
    header.caps1 = ReadLittleEndian32(bytes.data() + Caps1Offset);
    header.caps2 = ReadLittleEndian32(bytes.data() + Caps2Offset);
    return header;
}

GpuFormat DdsBlockFormat(uint32_t fourCC) {
    switch (fourCC) {
    case FourCC('D', 'X', 'T', '1'):
        return GpuFormat::Dxt1;
    case FourCC('D', 'X', 'T', '2'):
        return GpuFormat::Dxt2;
    case FourCC('D', 'X', 'T', '3'):
        return GpuFormat::Dxt3;
    case FourCC('D', 'X', 'T', '4'):
        return GpuFormat::Dxt4;
    case FourCC('D', 'X', 'T', '5'):
        return GpuFormat::Dxt5;
    default:
        return GpuFormat::Unknown;
    }
}

uint64_t DdsImageBytes(GpuFormat format, uint32_t width, uint32_t height) {
    uint64_t rowBytes = 0;
    uint32_t rows = 0;
    ImageRows(format, width, height, rowBytes, rows);
    return rowBytes * rows;
}

bool DeviceTexture::LoadDDS(TextureReadFunction read, void* userData) {
    ReleaseObject();
    size_ = {};
    allocatedSize_ = {};
    flags_ = 0;
    format_ = PixelFormat::None;
    levelCount_ = 0;

    uint8_t magic[4] = {};
    if (!ReadExactly(read, userData, magic, 4) || std::memcmp(magic, "DDS ", 4) != 0) {
        lastError_ = "Not a DDS file";
        return false;
    }
    uint8_t headerBytes[DdsHeaderSize] = {};
    if (!ReadExactly(read, userData, headerBytes, DdsHeaderSize)) {
        lastError_ = "Unexpected end of file.";
        return false;
    }
    DdsHeader header = ParseDdsHeader(std::span<const uint8_t, DdsHeaderSize>(headerBytes));

    bool mipMapped = (header.caps1 & DdsCapsMipMap) != 0;
    bool cubeMap = (header.caps2 & DdsCaps2CubeMap) != 0;
    // Some writers leave the count at 0 on a single-level file.
    uint32_t imageCount = mipMapped ? std::max(header.mipMapCount, 1u) : 1;
    if (cubeMap && mipMapped) {
        lastError_ = "Mipmapped cubemaps are currently not supported";
        return false;
    }
    GpuFormat format = DdsBlockFormat(header.fourCC);
    if (format == GpuFormat::Unknown) {
        if (header.rgbBitCount == 24) {
            format = GpuFormat::R8G8B8;
        } else if (header.rgbBitCount == 32) {
            format = GpuFormat::A8R8G8B8;
        } else {
            lastError_ = "Unimplemented DDS format";
            return false;
        }
    }

    // A header that claims more levels than its size has, or a cube whose faces are not
    // square, describes no object the data could fill.
    bool sizeValid = header.width != 0 && header.height != 0 &&
                     imageCount <= GpuFullLevelCount(header.width, header.height) &&
                     (!cubeMap || header.width == header.height);
    const uint32_t images = cubeMap ? GpuCubeFaceCount : imageCount;
    uint64_t total = 0;
    for (uint32_t i = 0; sizeValid && i < images; ++i) {
        const uint32_t level = cubeMap ? 0 : i;
        const uint64_t bytes = DdsImageBytes(format, std::max(header.width >> level, 1u),
                                             std::max(header.height >> level, 1u));
        sizeValid = bytes <= 0xFFFFFFFFu;
        total += bytes;
    }
    if (!sizeValid) {
        lastError_ = "Failed to create texture";
        return false;
    }
    // The images are read before the texture is made: a header alone cannot make the loader
    // allocate what the file does not hold.
    std::vector<uint8_t> data;
    if (const char* failure = ReadGrowing(read, userData, total, data)) {
        lastError_ = failure;
        return false;
    }
    std::unique_ptr<GpuTexture> made =
        cubeMap ? device_.CreateCubeTexture(header.width, 1, 0, format, GpuPool::Managed)
                : device_.CreateTexture(header.width, header.height, imageCount, 0, format,
                                        GpuPool::Managed);
    if (!made || made->GetLevelCount() < (cubeMap ? 1 : imageCount)) {
        lastError_ = "Failed to create texture";
        return false;
    }
    texture_ = std::move(made);
    kind_ = cubeMap ? TextureKind::CubeTexture : TextureKind::Texture2D;
    flags_ = 0;
    RefreshInfo();
    size_ = {static_cast<int32_t>(header.width), static_cast<int32_t>(header.height)};
    SetUVRange(size_.x, size_.y);
    return CopyDdsImages(data, format, images);
}

bool DeviceTexture::CopyDdsImages(const std::vector<uint8_t>& data, GpuFormat format,
                                  uint32_t images) {
    const bool cubeMap = kind_ == TextureKind::CubeTexture;
    size_t at = 0;
    for (uint32_t i = 0; i < images; ++i) {
        uint32_t level = cubeMap ? 0 : i;
        GpuSurfaceDesc desc = texture_->GetLevelDesc(level);
        uint64_t rowBytes = 0;
        uint32_t rows = 0;
        ImageRows(format, desc.width, desc.height, rowBytes, rows);
        const uint64_t bytes = rowBytes * rows;
        if (bytes > data.size() - at) {
            lastError_ = "Failed to create texture";
            ReleaseObject();
            return false;
        }
        // Levels are written, so the lock must be a writing one.
        if (!Lock(TextureLockWrite, i)) {
            ReleaseObject();
            return false;
        }
        if (static_cast<uint64_t>(pitch_ < 0 ? 0 : pitch_) < rowBytes) {
            lastError_ = "Failed to create texture";
            Lock(TextureUnlocked, i);
            ReleaseObject();
            return false;
        }
        // The file packs its rows; the locked level may be wider.
        for (uint32_t row = 0; row < rows; ++row) {
            std::memcpy(bits_ + static_cast<ptrdiff_t>(row) * pitch_,
                        data.data() + at + static_cast<size_t>(row * rowBytes),
                        static_cast<size_t>(rowBytes));
        }
        at += static_cast<size_t>(bytes);
        Lock(TextureUnlocked, i);
    }
    return true;
}

} // namespace quarn
