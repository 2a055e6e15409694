#include "resources/Resource.h"

#include "core/debug/Log.h"
#include "core/filesystem/DiskFile.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/object/ClassInfo.h"
#include "core/object/EntityRef.h"
#include "core/object/MethodInfo.h"
#include "core/object/ValueBinding.h"
#include "core/os/EngineWork.h"
#include "core/string/Text.h"
#include "resources/ResourceRegistry.h"

#include <algorithm>

namespace quarn {

ClassInfo* Resource::classInfo = nullptr;

Resource::Resource(const char* path, const char* options) {
    SetNames(path, options);
    // Without a path the key is only the option text: registering that would displace the
    // resource of a file named like the options.
    if (fullPath_.Length() > 0) {
        detail::RegisterResource(key_.Text(), this);
    }
    fileTime_ = GetFileTime();
}

Resource::~Resource() {
    // Deleted other than by Release (a class reset): the registry must not keep the address.
    detail::UnregisterResource(key_.Text(), this);
}

ClassInfo* Resource::GetClass() const {
    return classInfo;
}

void Resource::SetNames(const char* path, const char* options) {
    fullPath_ = NormalizeResourcePath(path ? path : "");
    const char* name = FindFileName(fullPath_.Text());
    const char* dot = FindExtension(name);
    extension_.Set(*dot ? dot + 1 : dot);
    baseName_.Set(name);
    baseName_.Truncate(static_cast<int32_t>(dot - name));
    options_.Set(options ? options : "");
    key_ = fullPath_ + options_.Text();
}

uint64_t Resource::GetFileTime() const {
    FileSystem* files = GetFileSystem();
    return files && fullPath_.Length() > 0 ? files->GetFileTime(fullPath_.Text()) : 0;
}

const char* Resource::GetRelativePath() const {
    FileSystem* files = GetFileSystem();
    return files ? files->GetRelativePath(fullPath_.Text()) : fullPath_.Text();
}

void Resource::Release() {
    if (referenceCount_ > 1) {
        --referenceCount_;
        return;
    }
    referenceCount_ = 0;
    detail::UnregisterResource(key_.Text(), this);
    Delete();
}

void Resource::SetFileName(const char* path, const char* options, bool save) {
    detail::UnregisterResource(key_.Text(), this);
    SetNames(path, options);
    if (!path || !*path) {
        return;
    }
    // The count stays: resetting it would let the other holders' Releases reach a deleted
    // object.
    detail::RegisterResource(key_.Text(), this);
    if (save && (state_ & ResourcePlaceholder) == 0) {
        SaveToFile(path);
    }
}

bool Resource::ReloadIfChanged() {
    const uint64_t time = GetFileTime();
    if (time == fileTime_) {
        return false;
    }
    LoadCharged();
    fileTime_ = time;
    LogMessage("Resource '%s' reloaded", fullPath_.Text());
    return true;
}

bool Resource::LoadCharged() {
    const uint64_t before = DiskBytesRead();
    const bool loaded = Load();
    ChargeBytesDecoded(DiskBytesRead() - before);
    return loaded;
}

void Resource::RemoveUser(uint32_t entityId) {
    auto found = std::find(users_.begin(), users_.end(), entityId);
    if (found != users_.end()) {
        users_.erase(found);
    }
}

void Resource::NotifyUsers(const char* argument) {
    // A user may add or remove users, or release this resource's other references, while it is
    // told: walk a copy.
    const std::vector<uint32_t> users = users_;
    for (uint32_t id : users) {
        if (Entity* user = LookupEntity(id)) {
            user->OnResourceChanged(this, argument);
        }
    }
}

// A script renames and saves only within its game: the name decides where later saves and
// reloads go.
void Resource::ScriptRename(const char* path) {
    if (ScriptMayReach("ResourceRef.Rename", path)) {
        SetFileName(path, "", false);
    }
}

void Resource::ScriptSaveAs(const char* path) {
    if (ScriptMayReach("ResourceRef.SaveAs", path)) {
        SaveToFile(path);
    }
}

ClassInfo* Resource::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo("ResourceRef", nullptr, &classInfo);
    classInfo->SetParent(Entity::RegisterClass());
    classInfo->SetCategory("Resource");

    // Reload, Rename, SaveAs and GetFileName, under generated names in this order.
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&Resource::ScriptReload>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(string)", BindMethod<&Resource::ScriptRename>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(string)", BindMethod<&Resource::ScriptSaveAs>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():string", BindMethod<&Resource::ScriptGetFileName>(),
                         MethodScript);
    return classInfo;
}

} // namespace quarn
