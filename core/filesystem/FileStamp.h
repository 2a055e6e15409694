#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quarn {

// What a file on disk was when the editor last read or wrote it, so that a save over one that
// another program changed or made since asks first.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t modified = 0; // nanoseconds
    bool operator==(const FileStamp&) const = default;

    // The file as it is now, its path resolved as the file system resolves it. Only a regular
    // file holds changes to lose: a folder in its place makes the save fail anyway.
    static FileStamp Of(const std::string& path);
    // Whether another program wrote or made the file since this stamp was taken; a file removed
    // since has nothing of another program's to lose.
    bool ChangedOnDisk(const std::string& path) const;
};

// A save over files another program changed asks first ("Save over a changed file"), naming
// them: No, the default, keeps them, and the refusal is logged as "<What> <names> is not saved".
// `what` is "scene" or "branch". True when nothing changed or the user says Yes.
bool MaySaveOverChangedFiles(const std::vector<std::string>& changed, const char* what);

} // namespace quarn
