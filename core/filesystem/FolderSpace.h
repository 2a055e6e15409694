#pragma once

#include <cstdint>
#include <string>

namespace quarn {

// The most a game's own folder ("user://") may hold, in bytes of its files: a game that copies
// or saves on and on would otherwise fill the disk the user's other programs need.
inline constexpr uint64_t UserFolderCapBytes = uint64_t(1) << 30;

// What a file or folder takes of the cap: its bytes, and at least a block of the disk, as even
// an empty one takes a block and an entry of the disk's table of files; a game that makes empty
// files or folders on and on would otherwise fill that table unchecked.
inline constexpr uint64_t MinimumFileBytes = 4096;
inline uint64_t HeldFileBytes(uint64_t bytes) {
    return bytes < MinimumFileBytes ? MinimumFileBytes : bytes;
}

// The cap in force; tests lower it with SetUserFolderCap, and 0 gives back UserFolderCapBytes.
uint64_t GetUserFolderCap();
void SetUserFolderCap(uint64_t bytes);

// What the files below one folder take, held within the cap: the folder is measured once, when
// the first write into it asks, and from then on followed by what the engine writes and
// removes there (a removed folder has it measured again). Files other programs change
// meanwhile are seen only at the next measure.
class FolderSpace {
public:
    // Forgets the measure of the folder before.
    void SetFolder(const std::string& nativeFolder);
    // Whether a native path lies below the folder (its text, as the file system resolved it).
    bool Holds(const std::string& nativePath) const;

    // Whether a file that holds `bytes` (HeldFileBytes) may take the place of one that held
    // `replaced` (0: none).
    bool Allows(uint64_t bytes, uint64_t replaced);
    // A file that holds `bytes` took the place of one that held `replaced` (0: none).
    void Written(uint64_t bytes, uint64_t replaced);
    void Removed(uint64_t bytes);
    // Whether one more empty file or folder fits, and when it does counts it as made.
    bool Make();
    // The folder changed in ways not followed: it is measured again before the next write.
    void Forget() { measured_ = false; }

    // Why a write that Allows refused fails: "user:// may hold at most 1024 MiB".
    static std::string CapText();
    // Tells the running script's machine of such a refusal (RefuseEngineWork), once a stream.
    static void Refuse();

private:
    void Measure();

    std::string folder_; // with a trailing '/'; empty: no folder, nothing held
    bool measured_ = false;
    uint64_t used_ = 0;
};

} // namespace quarn
