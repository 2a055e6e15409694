#pragma once

#include <string>
#include <vector>

namespace quarn {

// Packs every file below a disk folder into one archive the engine mounts as its resource
// root: a zip whose entries are the files' paths relative to the folder (folders as entries of
// their own), stored through the scrambling pass as a whole when `out` is a ".zoo" and plain
// when it is a ".zip". Entries go in name order with no time stamps, so a folder packs to the
// same bytes every time. `out` (a path of the program's file system) is replaced only once it
// is written whole; false with the reason in `error` otherwise.
//
// The folder is read as the player reads its game: each file opened beneath it, a link followed
// only while it stays there (an absolute one never). A link that leads out, nowhere or back into
// a folder holding it, and anything that is no regular file or folder, is left out with a line
// in `skipped` ("NAME: why").
bool PackFolder(const std::string& folder, const std::string& out, std::string& error,
                std::vector<std::string>& skipped);

} // namespace quarn
