#include "script/machine/ScriptSearchPath.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"

#include <algorithm>
#include <dirent.h>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace quarn {

namespace {

// Folder paths are kept to what the path buffers held: 259 characters.
constexpr size_t MaxFolderChars = 259;

std::vector<std::string>& SearchPath() {
    static std::vector<std::string> folders;
    return folders;
}

using FolderIdentity = std::pair<dev_t, ino_t>;

// Adds `folder` (virtual, ending in '/') and the folders below it, depth first in name order,
// each real folder once.
void AddFolderTree(const std::string& folder, const std::string& native,
                   std::set<FolderIdentity>& entered) {
    struct stat info {};
    const bool isFolder = stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (isFolder && !entered.insert({info.st_dev, info.st_ino}).second) {
        return;
    }
    SearchPath().push_back(folder.substr(0, MaxFolderChars));
    DIR* directory = isFolder ? opendir(native.c_str()) : nullptr;
    if (!directory) {
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] != '.') {
            names.emplace_back(entry->d_name);
        }
    }
    closedir(directory);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string child = native + "/" + name;
        struct stat childInfo {};
        if (stat(child.c_str(), &childInfo) == 0 && S_ISDIR(childInfo.st_mode)) {
            AddFolderTree(folder + name + "/", child, entered);
        }
    }
}

} // namespace

void SetScriptSearchPath(const char* folder, bool withSubfolders) {
    const std::string given = folder ? folder : "";
    PathString native;
    FileSystem* files = GetFileSystem();
    if (!files || !files->GetNativePath(native, given.c_str())) {
        native.Set(given.c_str());
    }
    LogMessage("Script search-path set to '%s'", native.Text());
    SearchPath().clear();
    if (!withSubfolders || given.empty()) {
        SearchPath().push_back(given.substr(0, MaxFolderChars));
        return;
    }
    std::string start = given;
    if (start.back() != '/' && start.back() != '\\') {
        start += '/';
    }
    std::string nativeStart = native.Text();
    while (nativeStart.size() > 1 && (nativeStart.back() == '/' || nativeStart.back() == '\\')) {
        nativeStart.pop_back();
    }
    std::set<FolderIdentity> entered;
    AddFolderTree(start, nativeStart, entered);
}

const std::vector<std::string>& GetScriptSearchPath() {
    return SearchPath();
}

} // namespace quarn
