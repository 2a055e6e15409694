#include "resources/ResourceRegistry.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/object/Signals.h"
#include "core/scenefile/PropertyLoadNotes.h"
#include "core/string/Text.h"
#include "resources/Resource.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

namespace {

// Never destroyed: resources that outlive static destruction may still release themselves.
std::map<std::string, Resource*, NoCaseLess>& Registry() {
    static auto* registry = new std::map<std::string, Resource*, NoCaseLess>();
    return *registry;
}

std::vector<std::string>& ExtensionList() {
    static auto* extensions = new std::vector<std::string>();
    return *extensions;
}

// Link files of a path: its extension replaced by "lnk", or ".lnk" appended.
PathString LinkFileName(const char* path) {
    PathString link(path);
    link.Truncate(static_cast<int32_t>(FindExtension(link.Text()) - link.Text()));
    link.Append(".lnk");
    return link;
}

// The path a link file points to: its first line without surrounding blanks. Binary shell links
// (they start with the header size 0x4C) hold Windows paths that mean nothing here and read as
// empty. Returns false when the file does not open.
bool ReadLinkTarget(FileSystem& files, const char* link, PathString& target) {
    target = PathString();
    std::unique_ptr<File> file = files.Open(link, 0);
    if (!file) {
        return false;
    }
    char text[251] = {};
    const uint32_t count = file->Read(text, 250);
    text[count] = '\0';
    if (count >= 4 && text[0] == 0x4C && text[1] == 0 && text[2] == 0 && text[3] == 0) {
        return true;
    }
    size_t end = std::strcspn(text, "\r\n");
    size_t begin = 0;
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) {
        ++begin;
    }
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) {
        --end;
    }
    text[end] = '\0';
    target = NormalizeResourcePath(text + begin);
    return true;
}

bool HasListedExtension(const char* name) {
    const char* dot = FindExtension(name);
    if (!*dot) {
        return false;
    }
    for (const std::string& extension : ExtensionList()) {
        if (CompareNoCase(dot + 1, extension.c_str()) == 0) {
            return true;
        }
    }
    return false;
}

// Calls `visit` on every resource registered when the walk starts, in key order. A visit may
// load, acquire and release resources: the walk follows serials, so a resource deleted on the
// way is skipped, and each one visited is held for the call.
template <class Visit>
void ForEachRegisteredResource(Visit visit) {
    std::vector<uint64_t> serials;
    serials.reserve(Registry().size());
    for (const auto& entry : Registry()) {
        serials.push_back(entry.second->GetSerial());
    }
    for (uint64_t serial : serials) {
        auto* resource = static_cast<Resource*>(Entity::FindBySerial(serial));
        if (!resource || FindResourceByKey(resource->GetKey()) != resource) {
            continue;
        }
        resource->AddReference();
        visit(*resource);
        resource->Release();
    }
}

// A file the game may not reach reads as missing; the note says why (" (it leads outside
// ...)"), "" for one that is simply not there.
std::string OutsideGameNote(const char* name) {
    const FileSystem* files = GetFileSystem();
    if (!files || !IsGameReachHeld() || files->IsInsideGame(name, 0)) {
        return {};
    }
    return std::string(" (") + OutsideGameReason + ")";
}

// The loaded resource when it fits; otherwise its raised count is given back.
Resource* TakeIfFitting(Resource* loaded, ResourceFits fits) {
    if (loaded && !fits(*loaded)) {
        loaded->Release();
        return nullptr;
    }
    return loaded;
}

// Without its "." components and doubled '/' (a scheme's "://" kept): "./b.branch" and
// "rooms//b.branch" are the files "b.branch" and "rooms/b.branch" are, and one file under two
// keys would be two resources, each saving over the other's edits. ".." is kept: through a link
// or a missing folder it leads elsewhere than the text says.
std::string WithoutEmptySteps(const std::string& path) {
    const size_t scheme = path.find("://");
    const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    std::string result = path.substr(0, start);
    if (start < path.size() && path[start] == '/') {
        result += '/';
    }
    size_t kept = 0;
    for (size_t begin = start; begin <= path.size();) {
        const size_t end = std::min(path.find('/', begin), path.size());
        const std::string_view step(path.data() + begin, end - begin);
        if (!step.empty() && step != ".") {
            result += kept++ ? "/" : "";
            result += step;
        }
        begin = end + 1;
    }
    if (kept > 0 && path.back() == '/') {
        result += '/';
    }
    // A path of nothing but such steps names what it named.
    return kept > 0 ? result : path;
}

} // namespace

PathString NormalizeResourcePath(const char* path) {
    std::string text(path ? path : "");
    std::replace(text.begin(), text.end(), '\\', '/');
    PathString result(WithoutEmptySteps(text).c_str());
    if (FileSystem* files = GetFileSystem()) {
        const char* relative = files->GetRelativePath(result.Text());
        if (relative != result.Text()) {
            PathString stripped(relative);
            result = stripped;
        }
    }
    ToLowerAscii(result.text);
    return result;
}

Resource* FindResourceByKey(const char* key) {
    auto found = Registry().find(key ? key : "");
    return found == Registry().end() ? nullptr : found->second;
}

Resource* FindLoadedResource(const char* name, const char* options) {
    PathString key = PathString(name) + (options ? options : "");
    Resource* resource = FindResourceByKey(key.Text());
    if (resource) {
        resource->AddReference();
    }
    return resource;
}

PathString ResolveResourceFile(const char* name) {
    FileSystem* files = GetFileSystem();
    if (!files || !name || !*name) {
        return PathString();
    }
    const bool embedded =
        std::strlen(name) >= 6 && CompareNoCase(std::string(name, 6).c_str(), "res://") == 0;
    if (embedded) {
        if (files->FindEmbeddedFile(name + 6) != 0) {
            return PathString(name);
        }
    } else {
        // Links may point at links; a chain that comes back to a path it passed is cut.
        std::set<std::string> visited;
        PathString current(name);
        while (visited.insert(current.Text()).second) {
            if (files->Exists(current.Text())) {
                return current;
            }
            const PathString link = LinkFileName(current.Text());
            if (!files->Exists(link.Text())) {
                break;
            }
            PathString target;
            if (!ReadLinkTarget(*files, link.Text(), target)) {
                return PathString();
            }
            if (target.Length() == 0) {
                return PathString();
            }
            current = target;
        }
    }
    return HasListedExtension(name) ? PathString(name) : PathString();
}

void ReportMissingResource(const char* name, const std::string& shown) {
    if (!name || !*name) {
        return;
    }
    std::string note = "Missing resource: ";
    if (shown.empty()) {
        note.append("\"").append(name).append("\"");
    } else {
        note.append(shown);
    }
    note.append(OutsideGameNote(name));
    if (!PropertyLoadNotes::Add(note)) {
        LogMessage("%s", note.c_str());
    }
}

void RegisterResourceExtension(const char* extension) {
    ExtensionList().emplace_back(extension ? extension : "");
}

Resource* AcquireResource(const char* path, const char* options, ResourceMaker maker,
                          ResourceFits fits) {
    if (!path || !*path) {
        return nullptr;
    }
    const PathString name = NormalizeResourcePath(path);
    // Held to its game, a name leading outside finds nothing, also not what the editor itself
    // loaded from there meanwhile.
    const bool outside = !OutsideGameNote(name.Text()).empty();
    if (Resource* loaded =
            outside ? nullptr : TakeIfFitting(FindLoadedResource(name.Text(), options), fits)) {
        return loaded;
    }
    const PathString file = outside ? PathString() : ResolveResourceFile(name.Text());
    if (file.Length() > 0) {
        if (std::strcmp(file.Text(), name.Text()) != 0) {
            if (Resource* loaded = TakeIfFitting(FindLoadedResource(file.Text(), options), fits)) {
                return loaded;
            }
        }
        return maker(file.Text(), options);
    }
    Resource* placeholder = maker("", options);
    placeholder->Unload();
    placeholder->SetFileName(name.Text(), options, false);
    placeholder->SetState(placeholder->GetState() | ResourcePlaceholder);
    ReportMissingResource(name.Text());
    return placeholder;
}

bool ReloadAllChangedResources() {
    LogMessage("---------- Reloading resources...");
    ForEachRegisteredResource([](Resource& resource) { resource.ReloadIfChanged(); });
    return SendSignal("reload_resources", nullptr, true);
}

void ForEachResource(const std::function<void(Resource&)>& visit) {
    ForEachRegisteredResource(visit);
}

bool ReloadResourceByName(const char* key) {
    Resource* resource = FindResourceByKey(key);
    if (!resource) {
        return false;
    }
    resource->AddReference();
    const bool reloaded = resource->ReloadIfChanged();
    resource->Release();
    return reloaded;
}

void ReleaseAllVideoMemory() {
    ForEachRegisteredResource([](Resource& resource) { resource.ReleaseVideoMemory(); });
}

void RestoreAllVideoMemory() {
    ForEachRegisteredResource([](Resource& resource) { resource.RestoreVideoMemory(); });
}

int GetRegisteredResourceCount() {
    return static_cast<int>(Registry().size());
}

namespace detail {

void RegisterResource(const char* key, Resource* resource) {
    Registry()[key] = resource;
}

void UnregisterResource(const char* key, const Resource* resource) {
    auto found = Registry().find(key);
    if (found != Registry().end() && found->second == resource) {
        Registry().erase(found);
    }
}

} // namespace detail

} // namespace quarn
