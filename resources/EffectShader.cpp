#include "resources/EffectShader.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/object/Signals.h"
#include "core/os/Dialogs.h"
#include "core/string/Text.h"
#include "device/RenderDevice.h"
#include "device/Shader.h"
#include "resources/ResourceRegistry.h"

#include <cstring>
#include <string>
#include <vector>

namespace quarn {

ClassInfo* EffectShader::classInfo = nullptr;

namespace {

const char* ExtensionOf(const char* path) {
    const char* dot = std::strrchr(path, '.');
    return dot != nullptr ? dot + 1 : "";
}

bool IsSourceExtension(const char* extension) {
    return CompareNoCase(extension, "fx") == 0 || CompareNoCase(extension, "vsh") == 0 ||
           CompareNoCase(extension, "psh") == 0;
}

// No compiler: a source name always means its pre-compiled twin, so the twin is the file a
// source-named resource loads, watches and reloads.
std::string FileToLoad(const char* path) {
    return IsSourceExtension(ExtensionOf(path)) ? std::string(path) + "_raw" : std::string(path);
}

} // namespace

EffectShader::EffectShader(const char* path, const char* options) : Resource(path, options) {
    if (RenderDevice* device = TheRenderDevice()) {
        shader_ = device->CreateShader();
    }
    if (path != nullptr && *path != '\0' && !LoadShader(path, options)) {
        ShowError(path);
        // A twin that is missing or refused now is picked up once it is written.
        UpdateFileTime();
    }
}

EffectShader::~EffectShader() = default;

void EffectShader::ShowError(const char* path) {
    std::string text = path;
    text += ": ";
    if (shader_) {
        text += shader_->GetErrorText();
    }
    ShowMessageBox(text.c_str(), "Effect shader error", MessageBoxOk);
    SetState(ResourceFailed);
}

bool EffectShader::LoadShader(const char* path, const char* options) {
    SetState(ResourceLoaded);
    const char* extension = ExtensionOf(path);
    const bool source = IsSourceExtension(extension);
    const bool compiled = CompareNoCase(extension, "fx_raw") == 0 ||
                          CompareNoCase(extension, "vsh_raw") == 0 ||
                          CompareNoCase(extension, "psh_raw") == 0;
    if (!source && !compiled) {
        LogMessage("Unknown effect-shader format: '%s'", path);
        return false;
    }
    if (!shader_) {
        RenderDevice* device = TheRenderDevice();
        shader_ = device ? device->CreateShader() : nullptr;
    }
    const std::string openPath = FileToLoad(path);
    // The device shader picks its format by the name it is given, so it gets the name of the
    // file that opened: the source name would make it refuse the pre-compiled bytes.
    std::unique_ptr<File> file = OpenFile(openPath.c_str());
    if (!file || !CreateFrom(*file, openPath.c_str(), options)) {
        return false;
    }
    UpdateFileTime();
    SendSignal("resourcechanged", this, true);
    return true;
}

std::unique_ptr<File> EffectShader::OpenFile(const char* path) const {
    FileSystem* files = GetFileSystem();
    return shader_ && files != nullptr ? files->Open(path, 0) : nullptr;
}

bool EffectShader::CreateFrom(File& file, const char* requestedPath, const char* options) {
    const std::vector<uint8_t> bytes = file.ReadRemaining();
    PathString native;
    GetFileSystem()->GetNativePath(native, requestedPath);
    return shader_->Load(bytes.data(), static_cast<uint32_t>(bytes.size()), native.Text(),
                         options != nullptr ? options : "");
}

uint64_t EffectShader::GetFileTime() const {
    FileSystem* files = GetFileSystem();
    const char* path = GetFullPath();
    return files && *path ? files->GetFileTime(FileToLoad(path).c_str()) : 0;
}

std::vector<std::string> EffectShader::GetLoadableExtensions() {
    return {"fx", "fx_raw", "vsh", "vsh_raw", "psh", "psh_raw"};
}

bool EffectShader::Load() {
    const std::string path = FileToLoad(GetFullPath());
    std::unique_ptr<File> file = OpenFile(path.c_str());
    if (!file) {
        return false;
    }
    if (CreateFrom(*file, path.c_str(), GetOptions())) {
        return true;
    }
    ShowError(GetFullPath());
    return false;
}

void EffectShader::Unload() {
    LoadShader("res://missing.psh", "");
}

ClassInfo* EffectShader::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo("EffectShader", nullptr, &classInfo);
    classInfo->SetParent(Resource::RegisterClass());
    RegisterResourceExtension("psh");
    RegisterResourceExtension("vsh");
    return classInfo;
}

bool ReplaceEffectShader(EffectShader*& held, std::string& heldName, const char* name) {
    const char* relative = name ? name : "";
    if (FileSystem* files = GetFileSystem(); files && *relative) {
        relative = files->GetRelativePath(relative);
    }
    // With no compiler, a source name stands for its "_raw" twin; without a file of its own it
    // is acquired as the twin, which is what would load anyway.
    std::string acquired = relative;
    if (*relative && ResolveResourceFile(relative).Length() == 0 &&
        IsSourceExtension(ExtensionOf(relative)) &&
        ResolveResourceFile((acquired + "_raw").c_str()).Length() != 0) {
        acquired += "_raw";
    }
    if (!ReplaceHeldResource(held, *relative ? AcquireResource<EffectShader>(acquired.c_str(), "")
                                             : nullptr)) {
        return false;
    }
    heldName = relative;
    return true;
}

} // namespace quarn
