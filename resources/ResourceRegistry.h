#pragma once

#include "core/string/FixedString.h"

#include <functional>
#include <string>

namespace quarn {

class Resource;

// The program-wide table of live resources by key (normalised path + option text), compared
// without ASCII case. It does not own the resources: their reference counts decide their life.
// File times and existence go through GetFileSystem().

// '\\' becomes '/', "." steps and doubled '/' go (not a scheme's "://"; ".." stays), the base
// folder is stripped when the path starts with it, and A-Z are lower-cased; other bytes stay.
PathString NormalizeResourcePath(const char* path);

// The registered resource under name + options with its count raised, or null.
Resource* FindLoadedResource(const char* name, const char* options);
// The registered resource under a whole key, count unchanged; null when there is none.
Resource* FindResourceByKey(const char* key);

// The file to load for a normalised name: the name when it exists, else what its link files
// point to (a text file "name.lnk" holding a path on its first line), else the name itself when
// its extension is a registered resource extension; empty when nothing resolves.
PathString ResolveResourceFile(const char* name);

// Reports a non-empty name missing: noted against the scene property being loaded when there is
// one (PropertyLoadNotes), else logged. `shown` takes the name's place in the text when given
// (the files looked for in its stead, quoted).
void ReportMissingResource(const char* name, const std::string& shown = {});

// Names with these extensions (no dot) always resolve to themselves, even without a file.
void RegisterResourceExtension(const char* extension);

// Makes a resource of one class for a resolved path, or a placeholder for an empty one.
using ResourceMaker = Resource* (*)(const char* path, const char* options);
// Whether a loaded resource is of the class a maker makes.
using ResourceFits = bool (*)(const Resource& resource);

// Acquisition: the loaded resource with its count raised, else a new one made from the resolved
// file, else a registered placeholder (state ResourcePlaceholder) that is reported once. Null
// only for an empty path. A resource loaded under the name as another class is not handed out:
// a new one is made and takes the name. Every caller gives its reference back with
// Resource::Release.
Resource* AcquireResource(const char* path, const char* options, ResourceMaker maker,
                          ResourceFits fits);

template <class T>
T* AcquireResource(const char* path, const char* options) {
    return static_cast<T*>(AcquireResource(
        path, options,
        [](const char* file, const char* opts) -> Resource* { return new T(file, opts); },
        [](const Resource& resource) { return dynamic_cast<const T*>(&resource) != nullptr; }));
}

// Reloads every registered resource whose file time changed, in key order, then sends the
// signal "reload_resources"; false when a receiver stopped it.
bool ReloadAllChangedResources();
// ReloadIfChanged on the resource registered under `key`; false when there is none or it did
// not change.
bool ReloadResourceByName(const char* key);

// Calls `visit` on every registered resource in key order, each held for the call; one that
// an earlier visit deleted or unregistered is skipped.
void ForEachResource(const std::function<void(Resource&)>& visit);

// Around a lost render device: every registered resource in key order.
void ReleaseAllVideoMemory();
void RestoreAllVideoMemory();

int GetRegisteredResourceCount();

namespace detail {
// Used by Resource only.
void RegisterResource(const char* key, Resource* resource);
void UnregisterResource(const char* key, const Resource* resource);
} // namespace detail

} // namespace quarn
