#pragma once

#include <string>
#include <vector>

namespace quarn {

struct NodeMenuItem;

// Fills `menu` with the files of a folder (a native path) that match one of `patterns`
// ("*.bmp", case ignored), each labelled "<path>" with its path below the folder, and its
// sub-folders (".", ".." and ".svn" left out) as submenus. A sub-folder is listed only when its
// submenu opens, afresh each time, and each folder is offered once however links lead to it, so
// a link to an ancestor adds nothing. No folder ("") or an unreadable one gives an empty menu.
void BuildFolderMenu(NodeMenuItem& menu, const std::string& folder,
                     const std::vector<std::string>& patterns);

} // namespace quarn
