#include "resources/Texture.h"

#include "codecs/ImageCodec.h"
#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/Signals.h"
#include "core/object/ValueBinding.h"
#include "core/os/EngineWork.h"
#include "core/string/Text.h"
#include "device/ImageTexture.h"
#include "device/RenderDevice.h"
#include "resources/ResourceRegistry.h"
#include "resources/TextureAtlas.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

namespace quarn {

ClassInfo* Texture::classInfo = nullptr;

namespace {

constexpr PixelFormat ArgbFormat = PixelFormat::A8R8G8B8;

// The texture that loaded each atlas image, by resolved image path.
std::map<std::string, Texture*, NoCaseLess>& AtlasOwners() {
    static auto* owners = new std::map<std::string, Texture*, NoCaseLess>();
    return *owners;
}

void ForgetAtlasOwner(const Texture* texture) {
    std::erase_if(AtlasOwners(), [texture](const auto& entry) { return entry.second == texture; });
}

void ClearTextureClassState() {
    ClearTextureAtlases();
    AtlasOwners().clear();
    ReleaseImageCodecs();
}

uint32_t Channel(uint32_t argb, int shift) {
    return (argb >> shift) & 0xFF;
}

} // namespace

PathString ResolveTextureFile(const char* path) {
    std::string folder, name, extension;
    SplitPath(path, &folder, &name, &extension);
    FileSystem* files = GetFileSystem();
    if (!files || (CompareNoCase(extension.c_str(), "bmp") != 0 &&
                   CompareNoCase(extension.c_str(), "png") != 0)) {
        return PathString(path);
    }
    const uint64_t time = GetTextureFileTime(path);
    for (int32_t i = 0; *GetNativeTextureExtension(i) != '\0'; ++i) {
        PathString candidate;
        candidate.Format("%s%s.%s", folder.c_str(), name.c_str(), GetNativeTextureExtension(i));
        // Equal times pick the device file: a converter writes it right after its source.
        if (files->Exists(candidate.Text()) && files->GetFileTime(candidate.Text()) >= time) {
            return candidate;
        }
    }
    return PathString(path);
}

uint64_t GetTextureFileTime(const char* path) {
    FileSystem* files = GetFileSystem();
    if (!files || !path || !*path) {
        return 0;
    }
    const uint64_t time = files->GetFileTime(path);
    const std::string companion = MakePrefixedFileName(path);
    if (!files->Exists(companion.c_str())) {
        return time;
    }
    return std::max(time, files->GetFileTime(companion.c_str()));
}

Texture::Texture(const char* path, const char* options) : Resource(path, options) {
    if (options && std::strstr(options, "MIPMAP")) {
        creationFlags_ = 2;
    }
    if (path && *path) {
        LoadFile(GetFullPath(), creationFlags_);
    }
}

Texture::Texture(int32_t width, int32_t height, PixelFormat format, TextureKind kind,
                 uint32_t flags)
    : Resource("", nullptr), kind_(kind), creationFlags_(flags), format_(format), width_(width),
      height_(height) {
    RenderDevice* device = TheRenderDevice();
    ownTexture_ = device ? device->CreateTexture() : nullptr;
    if (!ownTexture_ || !ownTexture_->Create(width, height, format, kind, flags, 1)) {
        ownTexture_.reset();
        SetState(ResourceFailed);
        return;
    }
    if (ownTexture_->GetAllocatedSize() == Int2{width, height}) {
        textureFlags_ |= TextureUnpadded;
    }
}

Texture::~Texture() {
    DropImage();
}

Entity* Texture::Create() {
    return new Texture("", "");
}

DeviceTexture* Texture::GetDeviceTexture() const {
    if (Texture* owner = GetAtlasTexture()) {
        // The owner's current object, so a reload of the atlas image reaches every member.
        return owner->GetDeviceTexture();
    }
    return ownTexture_.get();
}

Texture* Texture::GetAtlasTexture() const {
    return atlasOwnerSerial_ == 0 ? nullptr
                                  : static_cast<Texture*>(Entity::FindBySerial(atlasOwnerSerial_));
}

void Texture::DropImage() {
    ForgetAtlasOwner(this);
    ownTexture_.reset();
    // A member gives back its reference only; the image belongs to the owner and its other
    // members.
    Texture* owner = GetAtlasTexture();
    atlasOwnerSerial_ = 0;
    if (owner) {
        owner->Release();
    }
    averageAlpha_ = -1.0f;
}

void Texture::Unload() {
    DropImage();
    RenderDevice* device = TheRenderDevice();
    ownTexture_ = device ? device->CreateTexture() : nullptr;
    if (ownTexture_ &&
        ownTexture_->Create(16, 16, PixelFormat::R8G8B8, TextureKind::Texture2D, 0, 1) &&
        ownTexture_->Lock(TextureLockWrite, 0)) {
        for (int32_t y = 0; y < 16; ++y) {
            for (int32_t x = 0; x < 16; ++x) {
                const bool magenta = ((x ^ y) & 2) != 0;
                ownTexture_->SetPixel(x, y, magenta ? 0xFFFF00FFu : 0xFFFFFF00u);
            }
        }
        ownTexture_->Lock(TextureUnlocked, 0);
    } else {
        ownTexture_.reset();
    }
    width_ = height_ = 16;
    left_ = top_ = 0;
    SendSignal("resourcechanged", this, true);
}

bool Texture::Load() {
    const uint64_t oldId = ownTexture_ ? ownTexture_->GetId() : 0;
    const bool loaded = LoadFile(GetFullPath(), creationFlags_);
    // Only an object this texture owned is gone; a shared one still serves its owner.
    RenderDevice* device = TheRenderDevice();
    if (oldId != 0 && device) {
        device->ReplaceTexture(oldId, GetDeviceTexture());
    }
    return loaded;
}

bool Texture::LoadFile(const char* path, uint32_t creationFlags) {
    creationFlags_ = creationFlags;
    DropImage();
    SetState(ResourceLoaded);
    const TextureAtlasEntry* entry = FindTextureAtlasEntry(path);
    filePath_ = ResolveTextureFile(entry ? entry->image.Text() : path);
    if (entry) {
        left_ = entry->left;
        top_ = entry->top;
        width_ = entry->width;
        height_ = entry->height;
    }
    FileSystem* files = GetFileSystem();
    if (!files || !files->Exists(filePath_.Text())) {
        SetState(ResourcePlaceholder);
        Unload();
        ReportMissingResource(path);
        return false;
    }
    // A tool that reads and writes scenes has no device to make images into: the texture keeps
    // its name for the save, and nothing went wrong.
    if (!TheRenderDevice()) {
        SetState(ResourcePlaceholder);
        Unload();
        return false;
    }

    auto owner = entry ? AtlasOwners().find(filePath_.Text()) : AtlasOwners().end();
    if (owner != AtlasOwners().end()) {
        owner->second->AddReference();
        atlasOwnerSerial_ = owner->second->GetSerial();
        SetState(ResourceShared);
        textureFlags_ = owner->second->textureFlags_ & ~TextureUnpadded;
    } else {
        if (entry) {
            AtlasOwners()[filePath_.Text()] = this;
        }
        std::string error;
        ownTexture_ = LoadImageTexture(filePath_.Text(), ArgbFormat, TextureKind::Texture2D,
                                       creationFlags, error);
        if (!ownTexture_) {
            // Members that come later try the image themselves rather than share a placeholder.
            ForgetAtlasOwner(this);
            SetState(ResourceFailed);
            Unload();
            LogMessage("Error while loading texture '%s': %s", filePath_.Text(), error.c_str());
            return false;
        }
        format_ = ArgbFormat;
        kind_ = TextureKind::Texture2D;
        if (entry) {
            textureFlags_ |= TextureInAtlas;
        } else {
            textureFlags_ &= ~TextureInAtlas;
            left_ = top_ = 0;
            width_ = ownTexture_->GetSize().x;
            height_ = ownTexture_->GetSize().y;
        }
        if (ownTexture_->GetAllocatedSize() == Int2{width_, height_}) {
            textureFlags_ |= TextureUnpadded;
        } else {
            textureFlags_ &= ~TextureUnpadded;
        }
    }
    UpdateFileTime();
    SendSignal("resourcechanged", this, true);
    ComputeAverageColor();
    ComputeOpacity();
    return true;
}

void Texture::CreateEmpty(int32_t width, int32_t height, bool renderTarget) {
    DropImage();
    RenderDevice* device = TheRenderDevice();
    ownTexture_ = device ? device->CreateTexture() : nullptr;
    if (!ownTexture_ || !ownTexture_->Create(width, height, ArgbFormat, TextureKind::Texture2D,
                                             renderTarget ? TextureFlagRenderTarget : 0, 1)) {
        ownTexture_.reset();
        SetState(ResourceFailed);
        Unload();
        LogMessage("Error while creating texture");
        return;
    }
    width_ = width;
    height_ = height;
    // Made filled: its bytes are work as any memory filled.
    ChargeBytesScanned(uint64_t(width) * uint64_t(height) * 4);
    left_ = top_ = 0;
    textureFlags_ &= ~TextureInAtlas;
    creationFlags_ = ownTexture_->HasFlags(~0u);
    format_ = ownTexture_->GetFormat();
    kind_ = TextureKind::Texture2D;
}

uint64_t Texture::GetFileTime() const {
    return GetTextureFileTime(filePath_.Text());
}

bool Texture::SaveImage(const char* path) {
    return SaveImageFile(path, GetDeviceTexture(), left_, top_, width_, height_);
}

void Texture::SaveToFile(const char* path) {
    if (!SaveImage(path)) {
        LogMessage("Could not save texture to '%s'", path ? path : "");
    }
}

uint32_t Texture::GetDataSize() const {
    DeviceTexture* texture = GetDeviceTexture();
    return texture ? texture->GetMemorySize() : 0;
}

void Texture::GetInfoValue(int, uint32_t* out) const {
    DeviceTexture* texture = GetDeviceTexture();
    out[0] = texture ? static_cast<uint32_t>(texture->GetSize().x) : 0;
    out[1] = texture ? static_cast<uint32_t>(texture->GetSize().y) : 0;
}

const char* Texture::GetInfoName(int index) const {
    return index == 0 ? "width" : index == 1 ? "height" : "";
}

uint32_t Texture::GetAverageColor() {
    if (averageAlpha_ == -1.0f) {
        ComputeAverageColor();
    }
    return averageColor_;
}

void Texture::ComputeAverageColor() {
    averageColor_ = 0;
    const int64_t count = int64_t{width_} * height_;
    DeviceTexture* texture = GetDeviceTexture();
    if (count <= 0 || !texture) {
        return;
    }
    // Over the texture's own rectangle: an atlas member's colour is not its atlas's.
    uint64_t sums[4] = {};
    texture->Lock(TextureLockRead, 0);
    for (int32_t y = 0; y < height_; ++y) {
        for (int32_t x = 0; x < width_; ++x) {
            const uint32_t pixel = texture->GetPixel(left_ + x, top_ + y);
            for (int c = 0; c < 4; ++c) {
                sums[c] += Channel(pixel, 8 * c);
            }
        }
    }
    texture->Lock(TextureUnlocked, 0);
    for (int c = 0; c < 4; ++c) {
        averageColor_ |= static_cast<uint32_t>(sums[c] / static_cast<uint64_t>(count)) << (8 * c);
    }
    averageAlpha_ = static_cast<float>(Channel(averageColor_, 24)) / 255.0f;
}

void Texture::ComputeOpacity() {
    std::fill(std::begin(opacityMask_), std::end(opacityMask_), 0u);
    DeviceTexture* texture = GetDeviceTexture();
    if (!texture) {
        textureFlags_ = (textureFlags_ | TextureTranslucent) & ~TextureOpaque;
        return;
    }
    // Samples lie in the image (an atlas member's rectangle): the padding up to the allocated
    // size reads as transparent and would mark every odd-sized texture translucent.
    textureFlags_ = (textureFlags_ & ~TextureTranslucent) | TextureOpaque;
    texture->Lock(TextureLockRead, 0);
    for (int64_t j = 0; j < 32; ++j) {
        for (int64_t i = 0; i < 32; ++i) {
            const auto x = static_cast<int32_t>(left_ + width_ * i / 32);
            const auto y = static_cast<int32_t>(top_ + height_ * j / 32);
            if (Channel(texture->GetPixel(x, y), 24) < 255) {
                textureFlags_ = (textureFlags_ | TextureTranslucent) & ~TextureOpaque;
            }
        }
    }
    texture->Lock(TextureUnlocked, 0);
    std::fill(std::begin(opacityMask_), std::end(opacityMask_), ~0u);
}

bool Texture::IsOpaqueAt(float u, float v) const {
    if (!(u >= 0.0f && u <= 1.0f && v >= 0.0f && v <= 1.0f)) {
        return false;
    }
    const auto row = static_cast<uint32_t>(v * 31.99f);
    const auto bit = static_cast<uint32_t>(u * 31.99f);
    return (opacityMask_[row] >> bit) & 1;
}

void Texture::ScriptFill(uint32_t color) {
    DeviceTexture* texture = GetDeviceTexture();
    if (!texture) {
        return;
    }
    // The texture's own rectangle: filling an atlas member must leave the other members be.
    ChargeBytesScanned(uint64_t(std::max(width_, 0)) * uint64_t(std::max(height_, 0)) * 4);
    texture->Lock(TextureLockWrite, 0);
    for (int32_t y = 0; y < height_; ++y) {
        for (int32_t x = 0; x < width_; ++x) {
            texture->SetPixel(left_ + x, top_ + y, color);
        }
    }
    texture->Lock(TextureUnlocked, 0);
}

void Texture::ScriptLock(int32_t mode) {
    if (DeviceTexture* texture = GetDeviceTexture()) {
        texture->Lock(static_cast<uint32_t>(mode), 0);
    }
}

uint32_t Texture::ScriptGetPixel(Int2 at) const {
    DeviceTexture* texture = GetDeviceTexture();
    return texture ? texture->GetPixel(at.x, at.y) : 0;
}

void Texture::ScriptSetPixel(Int2 at, uint32_t color) {
    if (DeviceTexture* texture = GetDeviceTexture()) {
        texture->SetPixel(at.x, at.y, color);
    }
}

void Texture::ScriptDraw(Float2 source0, Float2 source1, Float2 target0, Float2 target1) {
    if (DeviceTexture* texture = GetDeviceTexture()) {
        texture->DrawToScreen(source0.x, source0.y, source1.x, source1.y, target0.x, target0.y,
                              target1.x, target1.y);
    }
}

void Texture::ScriptSetRenderTarget(Entity* target) {
    RenderDevice* device = TheRenderDevice();
    if (!device || (creationFlags_ & TextureFlagRenderTarget) == 0) {
        return;
    }
    Texture* texture = target && target->GetClass() && target->GetClass()->IsDerivedFrom(classInfo)
                           ? static_cast<Texture*>(target)
                           : nullptr;
    device->SetRenderTarget(texture ? texture->GetDeviceTexture() : nullptr, false);
}

ClassInfo* Texture::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo("Texture", &Texture::Create, &classInfo);
    classInfo->SetParent(Resource::RegisterClass());
    classInfo->SetCleanUp(ClearTextureClassState);

    classInfo->AddMethod(NextShortName(), "(int2,int)", BindMethod<&Texture::ScriptCreateEmpty>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int)", BindMethod<&Texture::ScriptFill>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int)", BindMethod<&Texture::ScriptLock>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():int2", BindMethod<&Texture::ScriptGetSize>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int2):int", BindMethod<&Texture::ScriptGetPixel>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int2,int)", BindMethod<&Texture::ScriptSetPixel>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float2,float2,float2,float2)",
                         BindMethod<&Texture::ScriptDraw>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(Texture)",
                         BindMethod<&Texture::ScriptSetRenderTarget>(), MethodScript);
    // Lock modes (write, read, unlock), then the render-target argument of the first method.
    for (int32_t value : {2, 1, 0, 0, 1}) {
        RegisterNamedConstant(NextShortName(), value);
    }
    InitImageCodecs();
    RegisterResourceExtension("bmp");
    RegisterResourceExtension("png");
    return classInfo;
}

Texture* GetTexture(const char* path, const char* options) {
    return AcquireResource<Texture>(path, options);
}

} // namespace quarn
