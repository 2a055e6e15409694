#include "core/filesystem/ScriptFileAccess.h"

#include "core/debug/Log.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/filesystem/FileSystem.h"
#include "core/string/Text.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace quarn {

namespace {

// Link hops followed before a chain counts as a loop, as the kernel counts them.
constexpr int MaxLinkHops = 40;

bool scriptRunning = false;

std::string WithForwardSlashes(const char* path) {
    std::string text = path ? path : "";
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

// Queues the names of `path` so that its first name is walked first.
void QueueNames(const std::string& path, std::vector<std::string>& pending) {
    size_t end = path.size();
    for (;;) {
        const size_t slash = end == 0 ? std::string::npos : path.rfind('/', end - 1);
        const size_t begin = slash == std::string::npos ? 0 : slash + 1;
        pending.push_back(path.substr(begin, end - begin));
        if (slash == std::string::npos) {
            return;
        }
        end = slash;
    }
}

// The place the kernel reaches for a native path: each link followed where it stands (also one
// whose target does not exist yet), "." and ".." applied in order. Absolute, without a trailing
// '/'; empty when the links loop or cannot be read.
std::string ReachedPlace(const std::string& native) {
    std::string place; // "" is the root
    if (native.empty() || native[0] != '/') {
        std::error_code error;
        place = std::filesystem::current_path(error).string();
        if (error) {
            return {};
        }
        if (place == "/") {
            place.clear();
        }
    }
    std::vector<std::string> pending;
    QueueNames(native, pending);
    int hops = 0;
    while (!pending.empty()) {
        const std::string name = std::move(pending.back());
        pending.pop_back();
        if (name.empty() || name == ".") {
            continue;
        }
        if (name == "..") {
            const size_t slash = place.rfind('/');
            place.resize(slash == std::string::npos ? 0 : slash);
            continue;
        }
        std::string next = place + '/' + name;
        struct stat info;
        if (lstat(next.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
            std::error_code error;
            const std::string target = std::filesystem::read_symlink(next, error).string();
            if (error || ++hops > MaxLinkHops) {
                return {};
            }
            if (!target.empty() && target[0] == '/') {
                place.clear();
            }
            QueueNames(target, pending);
            continue;
        }
        place = std::move(next);
    }
    return place.empty() ? "/" : place;
}

bool IsSameOrBelow(const std::string& place, const std::string& root) {
    return root == "/" || place == root ||
           (place.size() > root.size() && place.starts_with(root) && place[root.size()] == '/');
}

// Asks `inside` about the path on the program's file system; a refusal is logged.
bool MayReach(const char* function, const char* path,
              bool (*inside)(const FileSystem&, const char*)) {
    const FileSystem* files = GetFileSystem();
    if (files && inside(*files, path)) {
        return true;
    }
    LogChannelMessage("script", "%s refused \"%s\": it leads outside the game's folder and user://",
                      function, path ? path : "");
    return false;
}

} // namespace

bool IsNativeInsideGame(const FileSystem& files, const char* nativePath) {
    // The disk is asked for the names the file system will open, found without case.
    const std::string place =
        ReachedPlace(DiskFileSystem::ResolveCase(WithForwardSlashes(nativePath)));
    if (place.empty()) {
        return false;
    }
    const std::string base = files.GetBaseFolder();
    const std::string user = files.GetUserFolder();
    // An empty base folder is the working folder; an empty user folder is no folder at all.
    const bool inBase = base.find("://") == std::string::npos &&
                        IsSameOrBelow(place, ReachedPlace(base.empty() ? "." : base));
    return inBase || (!user.empty() && IsSameOrBelow(place, ReachedPlace(user)));
}

bool IsInsideGame(const FileSystem& files, const char* path) {
    const std::string text = WithForwardSlashes(path);
    // Built-in files are looked up by name and never reach the disk.
    if (StartsWithNoCase(text.c_str(), "res://")) {
        return true;
    }
    // A drive letter or another scheme names nothing inside the game.
    if (text.find(':') != std::string::npos && !StartsWithNoCase(text.c_str(), "user://")) {
        return false;
    }
    PathString native;
    if (!files.GetNativePath(native, text.c_str())) {
        return false;
    }
    // A base folder at "res://" serves relative paths from the built-in files.
    if (StartsWithNoCase(native.Text(), "res://")) {
        return true;
    }
    return !FindNoCase(native.Text(), "://") && IsNativeInsideGame(files, native.Text());
}

bool ScriptMayReach(const char* function, const char* path) {
    return MayReach(function, path, &IsInsideGame);
}

bool ScriptMayReachNative(const char* function, const char* nativePath) {
    return MayReach(function, nativePath, &IsNativeInsideGame);
}

bool IsScriptRunning() {
    return scriptRunning;
}

void SetScriptRunning(bool running) {
    scriptRunning = running;
}

} // namespace quarn
