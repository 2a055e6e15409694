#include "core/filesystem/FolderTree.h"

#include "core/filesystem/DiskFile.h"

#include <memory>
#include <set>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace quarn {

namespace {

struct Level {
    std::string path;
    std::unique_ptr<File> held; // null for the top, which the caller holds
    DiskFile* folder;
    int count;
    int next;
};

} // namespace

void WalkFolderTree(const std::string& path, DiskFile& top, const FolderTreeVisit& visit) {
    // Real folders by device and inode: names cannot tell a loop of links.
    std::set<std::pair<dev_t, ino_t>> entered;
    // A stack of its own rather than recursion: a game's folders may nest deeply.
    std::vector<Level> levels;
    auto enter = [&](std::string at, DiskFile& folder, std::unique_ptr<File> held) {
        struct stat info {};
        const bool isFolder = folder.Stat(info) && S_ISDIR(info.st_mode);
        if (isFolder && !entered.insert({info.st_dev, info.st_ino}).second) {
            if (visit.again) {
                visit.again(at);
            }
            return;
        }
        if (visit.folder) {
            visit.folder(at);
        }
        const int count = isFolder ? folder.ListFolder() : 0;
        levels.push_back({std::move(at), std::move(held), &folder, count, 0});
    };
    enter(path, top, nullptr);
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == level.count) {
            levels.pop_back();
            continue;
        }
        std::unique_ptr<File> child = level.folder->GetChild(level.next++);
        const std::string& native = child->GetName();
        const std::string name = native.substr(native.rfind('/') + 1);
        auto& entry = static_cast<DiskFile&>(*child);
        if (!child->IsDirectory()) {
            if (visit.file) {
                visit.file(level.path + name, entry);
            }
        } else if (name[0] != '.') {
            enter(level.path + name + "/", entry, std::move(child));
        }
    }
}

} // namespace quarn
