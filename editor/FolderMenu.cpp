#include "editor/FolderMenu.h"

#include "core/scene/NodeMenu.h"

#include <algorithm>
#include <dirent.h>
#include <fnmatch.h>
#include <map>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <vector>

namespace quarn {

namespace {

// A folder by what it is on disk rather than by the path that led to it.
struct FolderKey {
    dev_t device = 0;
    ino_t inode = 0;
    auto operator<=>(const FolderKey&) const = default;
};

struct FolderWalk {
    std::vector<std::string> patterns;
    // Each folder offered as a submenu, with the folder that offers it. A folder offers a
    // sub-folder only when nobody else does, so it may list itself again on a later opening.
    std::map<FolderKey, FolderKey> offeredBy;
};

void ListFolder(NodeMenuItem& menu, const std::string& folder, const std::string& below,
                FolderKey self, const std::shared_ptr<FolderWalk>& walk) {
    menu.items.clear();
    struct Candidate {
        bool link;
        std::string name;
        FolderKey key;
        bool operator<(const Candidate& other) const {
            return link != other.link ? !link : name < other.name;
        }
    };
    std::vector<std::string> files;
    std::vector<Candidate> candidates;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || name == ".svn") {
                continue;
            }
            const std::string path = folder + name;
            struct stat info = {};
            if (stat(path.c_str(), &info) != 0) {
                continue; // a dangling link
            }
            if (S_ISDIR(info.st_mode)) {
                struct stat own = {};
                const bool link = lstat(path.c_str(), &own) == 0 && S_ISLNK(own.st_mode);
                candidates.push_back({link, name, {info.st_dev, info.st_ino}});
            } else if (std::any_of(walk->patterns.begin(), walk->patterns.end(),
                                   [&name](const std::string& pattern) {
                                       return fnmatch(pattern.c_str(), name.c_str(),
                                                      FNM_CASEFOLD) == 0;
                                   })) {
                files.push_back(name);
            }
        }
        closedir(dir);
    }
    // A folder reached both directly and through a link is offered under its own name.
    std::sort(candidates.begin(), candidates.end());
    std::vector<std::pair<std::string, FolderKey>> folders;
    std::set<FolderKey> listedHere;
    for (const Candidate& candidate : candidates) {
        auto [offered, fresh] = walk->offeredBy.emplace(candidate.key, self);
        if (candidate.key != self && (fresh || offered->second == self) &&
            listedHere.insert(candidate.key).second) {
            folders.emplace_back(candidate.name, candidate.key);
        }
    }
    // The listing order of a folder differs from disk to disk; names do not.
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    for (const std::string& name : files) {
        NodeMenuItem file;
        file.label = "<" + below + name + ">";
        menu.items.push_back(std::move(file));
    }
    for (const auto& sub : folders) {
        NodeMenuItem submenu;
        submenu.label = sub.first;
        submenu.open = [path = folder + sub.first + "/", inner = below + sub.first + "/",
                        key = sub.second,
                        walk](NodeMenuItem& opened) { ListFolder(opened, path, inner, key, walk); };
        menu.items.push_back(std::move(submenu));
    }
}

} // namespace

void BuildFolderMenu(NodeMenuItem& menu, const std::string& folder,
                     const std::vector<std::string>& patterns) {
    menu.items.clear();
    struct stat info = {};
    if (folder.empty() || stat(folder.c_str(), &info) != 0) {
        return; // no folder on disk (the built-in files): nothing to offer
    }
    auto walk = std::make_shared<FolderWalk>();
    walk->patterns = patterns;
    const FolderKey self{info.st_dev, info.st_ino};
    walk->offeredBy.emplace(self, self);
    ListFolder(menu, folder.back() == '/' ? folder : folder + "/", "", self, walk);
}

} // namespace quarn
