#include "device/ImageTexture.h"

#include "codecs/ImageCodec.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/string/Text.h"
#include "device/RenderDevice.h"

#include <climits>
#include <new>
#include <vector>

namespace quarn {
namespace {

uint32_t ReadFromFile(void* destination, uint32_t count, void* file) {
    return static_cast<File*>(file)->Read(destination, count);
}

void WriteTexel(int32_t x, int32_t y, ImagePixel pixel, void* texture) {
    static_cast<DeviceTexture*>(texture)->SetPixel(x, y, pixel);
}

struct TextureRegion {
    DeviceTexture* texture;
    int32_t left;
    int32_t top;
};

ImagePixel ReadTexel(uint32_t x, uint32_t y, void* context) {
    const auto* region = static_cast<const TextureRegion*>(context);
    const int64_t tx = int64_t(x) + region->left;
    const int64_t ty = int64_t(y) + region->top;
    if (tx < INT32_MIN || tx > INT32_MAX || ty < INT32_MIN || ty > INT32_MAX) {
        return 0;
    }
    return region->texture->GetPixel(int32_t(tx), int32_t(ty));
}

// Keeps what the codec writes until it is done: a file stream, once open, always ends by
// replacing the target, so the file is opened only when there is a whole image to put in it.
class StagedImageStream final : public ImageOutputStream {
public:
    bool IsOpen() const override { return true; }
    uint32_t Write(const void* data, uint32_t count) override {
        if (data == nullptr) {
            return 0;
        }
        const auto* bytes = static_cast<const uint8_t*>(data);
        bytes_.insert(bytes_.end(), bytes, bytes + count);
        return count;
    }

    bool IsEmpty() const { return bytes_.empty(); }

    bool WriteTo(const char* path) const {
        if (bytes_.size() > UINT32_MAX) {
            return false;
        }
        ForwardingOutputStream file;
        if (!file.Open(path, WriteCreateFolders)) {
            return false;
        }
        const auto size = static_cast<uint32_t>(bytes_.size());
        const bool written = file.Write(bytes_.data(), size) == size;
        return file.Close() && written;
    }

private:
    std::vector<uint8_t> bytes_;
};

bool IsDeviceLoadable(const std::string& extension) {
    for (int32_t i = 0; *GetNativeTextureExtension(i) != '\0'; ++i) {
        if (CompareNoCase(extension.c_str(), GetNativeTextureExtension(i)) == 0) {
            return true;
        }
    }
    return false;
}

std::unique_ptr<DeviceTexture> LoadDeviceFile(const char* path, std::string& error) {
    RenderDevice* device = TheRenderDevice();
    std::unique_ptr<DeviceTexture> texture = device ? device->CreateTexture() : nullptr;
    if (!texture) {
        error = "Failed to create texture";
        return nullptr;
    }
    FileSystem* files = GetFileSystem();
    std::unique_ptr<File> file = files ? files->Open(path, OpenText) : nullptr;
    if (!file) {
        error = "Invalid texture";
        return nullptr;
    }
    if (!texture->LoadDDS(ReadFromFile, file.get())) {
        error = texture->GetLastError();
        return nullptr;
    }
    return texture;
}

// The image through its codec; allocations may throw, which the caller turns into a reason.
std::unique_ptr<DeviceTexture> LoadCodecTexture(const char* path, PixelFormat format,
                                                TextureKind kind, uint32_t flags,
                                                std::string& error) {
    InitImageCodecs();
    const std::string extension = GetPathExtension(path);
    if (IsDeviceLoadable(extension)) {
        return LoadDeviceFile(path, error);
    }
    ImageCodec* codec = FindImageCodec(extension.c_str());
    if (!codec) {
        error = "Unknown format";
        return nullptr;
    }

    FileReader reader;
    if (!reader.Open(path, true, false)) {
        error = "Invalid texture";
        return nullptr;
    }
    std::vector<uint8_t> data(reader.GetSize());
    data.resize(reader.Read(data.data(), static_cast<uint32_t>(data.size())));
    reader.Close();

    RenderDevice* device = TheRenderDevice();
    if (device && device->GetMaxTextureSize() > 0) {
        SetImageMaxTextureSize(static_cast<uint32_t>(device->GetMaxTextureSize()));
    }
    const auto size = static_cast<uint32_t>(data.size());
    ImageInfo info;
    codec->GetTextureFormat(info, data.data(), size);
    if (info.width == 0 || info.height == 0 || info.bitsPerPixel == 0) {
        codec->ReleaseData();
        error = "Invalid texture";
        return nullptr;
    }

    std::unique_ptr<DeviceTexture> texture = device ? device->CreateTexture() : nullptr;
    if (!texture || info.width > INT32_MAX || info.height > INT32_MAX ||
        !texture->Create(int32_t(info.width), int32_t(info.height), format, kind, flags, 1)) {
        codec->ReleaseData();
        error = "Failed to create texture";
        return nullptr;
    }
    // Without a write lock no texel would arrive, which is a failed load like any other.
    bool loaded = texture->Lock(TextureLockWrite, 0);
    if (loaded) {
        loaded = codec->Load(data.data(), size, texture.get(), WriteTexel);
        texture->Lock(TextureUnlocked, 0);
    }
    codec->ReleaseData();
    if (!loaded) {
        error = "Load error";
        return nullptr;
    }
    return texture;
}

} // namespace

std::vector<std::string> GetImageTextureExtensions() {
    std::vector<std::string> extensions;
    for (int32_t i = 0; *GetNativeTextureExtension(i) != '\0'; ++i) {
        extensions.emplace_back(GetNativeTextureExtension(i));
    }
    for (std::string& extension : GetImageCodecExtensions()) {
        extensions.push_back(std::move(extension));
    }
    return extensions;
}

std::unique_ptr<DeviceTexture> LoadImageTexture(const char* path, PixelFormat format,
                                                TextureKind kind, uint32_t flags,
                                                std::string& error) {
    try {
        return LoadCodecTexture(path, format, kind, flags, error);
    } catch (const std::bad_alloc&) {
        // The codec may hold what it decoded so far.
        if (ImageCodec* codec = FindImageCodec(GetPathExtension(path).c_str())) {
            codec->ReleaseData();
        }
        error = "Not enough memory for the texture";
        return nullptr;
    }
}

bool SaveImageFile(const char* path, DeviceTexture* texture, int32_t left, int32_t top,
                   int32_t width, int32_t height) {
    InitImageCodecs();
    ImageCodec* codec = FindImageCodec(GetPathExtension(path).c_str(), true);
    return codec && SaveImageFileWith(*codec, path, texture, left, top, width, height);
}

bool SaveImageFileWith(ImageCodec& codec, const char* path, DeviceTexture* texture, int32_t left,
                       int32_t top, int32_t width, int32_t height) {
    // An empty image has no valid file in any of the formats.
    if (!path || !texture || width <= 0 || height <= 0) {
        return false;
    }
    if (!texture->Lock(TextureLockRead, 0)) {
        return false;
    }
    StagedImageStream stream;
    TextureRegion region{texture, left, top};
    const uint32_t written =
        codec.Save(stream, uint32_t(width), uint32_t(height), 24, false, &region, ReadTexel);
    texture->Lock(TextureUnlocked, 0);
    if (written == 0 || stream.IsEmpty()) {
        return false;
    }
    return stream.WriteTo(path);
}

} // namespace quarn
