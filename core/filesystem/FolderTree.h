#pragma once

#include <functional>
#include <string>

namespace quarn {

class DiskFile;

// What a walk of a folder tree tells: folders by their paths, the top's as given (ending in its
// separator) and each below it with a '/' after its name, and entries by their folder's path
// followed by their name.
struct FolderTreeVisit {
    // Each real folder, once, parents before children.
    std::function<void(const std::string& path)> folder = nullptr;
    // Each entry that is no folder (a file, a pipe, a device, a dangling link), not opened.
    std::function<void(const std::string& path, DiskFile& entry)> file = nullptr;
    // A folder met again through a link (a loop, a second link to it): it is not entered.
    std::function<void(const std::string& path)> again = nullptr;
};

// Walks `top` (at `path`) and the folders below it, depth first in name order. Links are
// followed only as far as the top's place may reach, so one to "/" does not send the walk over
// the whole disk; folders whose names start with '.' are passed over.
void WalkFolderTree(const std::string& path, DiskFile& top, const FolderTreeVisit& visit);

} // namespace quarn
