#pragma once

#include "core/object/Entity.h"
#include "core/string/FixedString.h"

#include <cstdint>
#include <vector>

namespace quarn {

class ClassInfo;

// Values of the state word: the outcome of a resource's last load.
enum ResourceState : uint32_t {
    ResourceLoaded = 0,
    ResourceShared = 1,      // loaded into a shared or device buffer
    ResourceFailed = 3,      // placeholder content after a failed load
    ResourcePlaceholder = 4, // the file was missing; placeholder content, reported once
};

// Texts of at most 16 characters: option texts and extensions.
using String16 = FixedString<17>;

// A shared, file-backed object: textures, meshes, fonts, shaders, raw data and the others. It is
// named by its normalised path plus an option text (its key in the resource registry), counted
// by reference, and deleted by the Release that takes the count to zero. Scripts see it as a
// "ResourceRef".
class Resource : public Entity {
public:
    // Registers under path + options with a count of 1 when that key is not empty; an earlier
    // resource under the same key stays alive but unregistered. Does not load: the classes do.
    Resource(const char* path, const char* options);
    ~Resource() override;

    ClassInfo* GetClass() const override;

    // Replaces the data by placeholder content.
    virtual void Unload() {}
    virtual bool LoadFromFile(const char* /*path*/) { return false; }
    // Loads from the resource's own path.
    virtual bool Load() = 0;
    virtual void DropDeviceData() {}
    // Last-write time of the file; 0 when missing, inside an archive or built in.
    virtual uint64_t GetFileTime() const;
    virtual void SaveToFile(const char* /*path*/) {}
    // Renames and re-registers under the new key; a null or empty path leaves the resource
    // unregistered. The reference count is kept: the other holders still give theirs back.
    // With `save`, real content (not a placeholder) is written to `path` as given.
    virtual void SetFileName(const char* path, const char* options, bool save);
    virtual uint32_t GetDataSize() const = 0;
    // Around a lost render device; called for every registered resource in key order.
    virtual void ReleaseVideoMemory() {}
    virtual void RestoreVideoMemory() {}
    virtual int GetInfoCount() const { return 0; }
    virtual void GetInfoValue(int /*index*/, uint32_t* /*out*/) const {}
    virtual const char* GetInfoName(int /*index*/) const { return nullptr; }

    void AddReference() { ++referenceCount_; }
    // Gives one reference back; the last one erases the registry entry (when it is still this
    // resource's) and deletes the resource.
    void Release();
    uint32_t GetReferenceCount() const { return referenceCount_; }

    void UpdateFileTime() { fileTime_ = GetFileTime(); }
    uint64_t GetStoredFileTime() const { return fileTime_; }
    // Reloads when the file's time differs from the stored one; true when it did.
    bool ReloadIfChanged();
    // Load again, the running script charged a command a byte read from disk, as a scene's load
    // is: a reload reads and decodes the whole file each call.
    bool LoadCharged();

    // Users are entity ids told through OnResourceChanged when the data changes; an id that no
    // longer names an entity is skipped.
    void AddUser(uint32_t entityId) { users_.push_back(entityId); }
    void RemoveUser(uint32_t entityId);
    void NotifyUsers(const char* argument);

    const char* GetFullPath() const { return fullPath_.Text(); }
    // The path as scene files store it: relative to the base folder when it lies below it.
    const char* GetRelativePath() const;
    const char* GetExtension() const { return extension_.Text(); }
    const char* GetOptions() const { return options_.Text(); }
    const char* GetKey() const { return key_.Text(); }
    const char* GetBaseName() const { return baseName_.Text(); }
    uint32_t GetBaseNameLength() const { return static_cast<uint32_t>(baseName_.Length()); }
    uint32_t GetState() const { return state_; }
    void SetState(uint32_t state) { state_ = state; }

    // The "ResourceRef" class (abstract, category "Resource") with its four script methods.
    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    // Path, extension, options, key and base name from a path and an option text.
    void SetNames(const char* path, const char* options);

    // Script methods.
    void ScriptReload() { LoadCharged(); }
    void ScriptRename(const char* path);
    void ScriptSaveAs(const char* path);
    const char* ScriptGetFileName() const { return fullPath_.Text(); }

    uint32_t referenceCount_ = 1;
    uint64_t fileTime_ = 0;
    PathString fullPath_;
    String16 extension_;
    String16 options_;
    PathString key_;
    PathString baseName_;
    uint32_t state_ = ResourceLoaded;
    std::vector<uint32_t> users_;
};

// The name a resource property shows and a scene file stores: the path relative to the base
// folder, empty for none.
inline const char* RelativePathOf(const Resource* resource) {
    return resource ? resource->GetRelativePath() : "";
}

// Stores `acquired` (a reference the caller took, or null) in `held`. When it is what `held`
// already names, the extra reference goes back and the answer is false; otherwise the old
// reference goes back and the answer is true.
template <class R>
bool ReplaceHeldResource(R*& held, R* acquired) {
    if (acquired == held) {
        if (acquired) {
            acquired->Release();
        }
        return false;
    }
    if (held) {
        held->Release();
    }
    held = acquired;
    return true;
}

} // namespace quarn
