#pragma once

// Shader programs as a resource: the file's bytes go to a shader object of the render device.
// Source names (".fx", ".vsh", ".psh") load their pre-compiled "_raw" twin, as the engine has no
// shader compiler.

#include "resources/Resource.h"

#include <memory>
#include <string>
#include <vector>

namespace quarn {

class ClassInfo;
class File;
class Shader;

class EffectShader : public Resource {
public:
    // A failed load shows the "Effect shader error" dialog and leaves state 3.
    EffectShader(const char* path, const char* options);
    ~EffectShader() override;

    // Loads by the path's extension; false when no file opens or the device refuses it.
    bool LoadShader(const char* path, const char* options);
    // Reloads the file the resource's own path loads (a source name's "_raw" twin).
    bool Load() override;
    // The time of that file, so that writing the twin, not the source, triggers a reload.
    uint64_t GetFileTime() const override;
    // The embedded placeholder.
    void Unload() override;
    uint32_t GetDataSize() const override { return 0; }
    ClassInfo* GetClass() const override { return classInfo; }

    // Null without a render device.
    Shader* GetShader() const { return shader_.get(); }

    // Source names and their compiled twins, as LoadShader tells them apart.
    static std::vector<std::string> GetLoadableExtensions();

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    // Null without a shader object or a file system, or when the file does not open.
    std::unique_ptr<File> OpenFile(const char* path) const;
    bool CreateFrom(File& file, const char* requestedPath, const char* options);
    void ShowError(const char* path);

    std::unique_ptr<Shader> shader_;
};

// Points `held` (one counted reference, or null) at the shader of file `name`, found or created
// as resources are, "" meaning none; `heldName` keeps the name relative to the base folder.
// False when it already held that shader.
bool ReplaceEffectShader(EffectShader*& held, std::string& heldName, const char* name);

} // namespace quarn
