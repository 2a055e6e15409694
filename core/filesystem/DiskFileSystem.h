#pragma once

#include "core/filesystem/ArchiveSet.h"
#include "core/filesystem/DiskPlace.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/FolderSpace.h"

#include <cstdint>
#include <memory>
#include <string>

namespace quarn {

// The file system on the disk of a Linux machine, with ".zip"/".zoo" archives and the files
// built into the program.
//
// Games made on Windows run unchanged: '\\' in any path is taken as '/', and when a native path
// does not exist exactly, each of its names is matched without case (A-Z only) in its folder,
// the first match in byte order winning. Native paths are never cut: one that does not fit a
// PathString fails.
//
// While the game's reach is held, a disk path is reached only beneath the root (game or user
// folder) whose text it starts with, in one step per open (DiskPlace); a path under neither, or
// one that leads out of its root, fails with NoteFileFailure(EXDEV). An archive is opened so
// too, unless it is the game's root itself. Reads never wait on what they open.
class DiskFileSystem : public FileSystem {
public:
    DiskFileSystem();
    ~DiskFileSystem() override;
    DiskFileSystem(const DiskFileSystem&) = delete;
    DiskFileSystem& operator=(const DiskFileSystem&) = delete;

    const char* GetName() const override { return "Linux"; }

    std::unique_ptr<File> OpenNativeFile(const char* path) override;
    std::unique_ptr<File> Open(const char* path, uint32_t flags) override;
    std::unique_ptr<OutputStream> OpenForWrite(const char* path, uint32_t flags) override;

    uint32_t GetAttributes(const char* path) override;
    bool SetReadOnly(const char* path, uint32_t mask, uint32_t value) override;

    void SetBaseFolder(const char* path) override;
    const char* GetBaseFolder() const override { return baseFolder_.c_str(); }
    void SetGameRoot(const char* path) override;
    const char* GetGameRoot() const override { return gameRoot_.c_str(); }
    void SetGameReadOnly(bool readOnly) override;
    bool IsGameReadOnly() const override { return gameReadOnly_; }
    bool IsInsideGame(const char* path, uint32_t flags) const override;
    bool IsInBaseFolder(const char* path) const override;
    bool GetNativePath(PathString& out, const char* path) const override;
    const char* GetRelativePath(const char* path) const override;
    void SetUserFolder(const char* path) override;
    const char* GetUserFolder() const override { return userFolder_.c_str(); }
    uint32_t FindEmbeddedFile(const char* name) const override;

    bool Exists(const char* path) override;
    bool DirectoryExists(const char* path) override;
    // Nanoseconds of the last write since 1970; 0 when missing (a real time of 0 reads as 1).
    uint64_t GetFileTime(const char* path) override;
    bool MakeDirectory(const char* path) override;
    bool RemoveFolder(const char* path, bool recursive) override;
    bool MakeDirectories(const char* path) override;
    // A folder is never copied into itself or a folder below it. The copy replaces what it
    // meets in the destination and never writes through a link there. Links inside a copied
    // folder are copied as links, never followed; while the game's reach is held, only a link
    // that leads, from its new place, to something that exists beneath the destination's
    // root: another is left out and the copy answers false.
    bool Copy(const char* source, const char* destination) override;
    bool CopyCreatingFolders(const char* source, const char* destination) override;
    bool CreateEmptyFile(const char* path) override;
    bool RemoveFile(const char* path) override;
    PathString GetFolderPart(const char* path) const override;

    // Removes a native folder with everything in it. Links are removed, never followed, so
    // nothing outside the folder is touched; a link given as the folder itself is refused.
    static bool DeleteTree(const char* nativeFolder);

private:
    // The native path of a virtual one with '\\' taken as '/'; false when it does not fit.
    bool ToNative(const char* path, std::string& out) const;
    // Where a virtual path lies on disk, its case resolved; false, with a note, for paths the
    // disk cannot serve (too long, inside an archive, or under a scheme such as "res://").
    bool ToPlace(const char* path, DiskPlace& place) const;
    // ToPlace for a write; false, with a note, where the game may not write (SetGameReadOnly).
    bool ToWritePlace(const char* path, DiskPlace& place);
    // Whether the running game may write at the native path: anywhere its reach allows, unless
    // it is a game for reading at work, which writes only in its user folder. A refusal is
    // noted, and told in the log once a game.
    bool MayWrite(const std::string& native);
    // The place of a native disk path: anywhere unless the game's reach is held.
    DiskPlace Locate(const std::string& native) const;
    // Beneath the longest root whose text the path starts with; nowhere under none.
    DiskPlace LocateBeneath(const std::string& native) const;
    // The game's root as a native text: the game root, else the base folder.
    std::string RootText() const;

    bool CopyPlace(const DiskPlace& source, const DiskPlace& destination, bool intoFolder,
                   FolderSpace* space);
    // The space a write to the virtual path is held to: the user folder's for a path below it.
    FolderSpace* SpaceOf(const char* path);

    std::string baseFolder_;
    std::string gameRoot_;
    std::string userFolder_;
    bool gameReadOnly_ = false;
    bool toldReadOnly_ = false;
    FolderSpace userSpace_;
    ArchiveSet archives_;
};

} // namespace quarn
