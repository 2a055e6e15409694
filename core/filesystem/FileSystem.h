#pragma once

#include "core/io/File.h"
#include "core/io/OutputStream.h"
#include "core/string/FixedString.h"

#include <cstdint>
#include <memory>
#include <string>

namespace quarn {

// Bits of GetAttributes; 0 is an existing, writable file.
enum FileAttributes : uint32_t {
    FileMissing = 1,
    FileReadOnly = 2,
    FileDirectory = 4,
};

// Flags of FileSystem::Open.
enum OpenFlags : uint32_t {
    OpenText = 1,      // recorded by readers only; the bytes are the same
    OpenScrambled = 4, // the bytes are stored through the scrambling pass
    OpenNative = 8,    // the path is native already: no scheme, base folder or archive base
};

// Flags of FileSystem::OpenForWrite.
enum WriteFlags : uint32_t {
    WriteCreateFolders = 4, // create missing folders and retry
    WriteClearReadOnly = 8, // clear a read-only attribute and retry
    WriteScrambled = 32,    // store the bytes through the scrambling pass
};

// Every file the engine reads or writes is named by a virtual path and reached through the
// program's one FileSystem. The path decides where the bytes come from: a folder relative to
// the base folder, "user://" (the game's own data folder), "res://" (files built into the
// program) or an entry of a ".zip"/".zoo" archive anywhere along the path. Paths use '/'; a
// path is absolute when it starts with '/' or holds ':'.
//
// While the game's reach is held (IsGameReachHeld), every file is reached beneath the game's
// root or its "user://" folder, or among the built-in files; anything else fails as if it were
// missing, with NoteFileFailure(EXDEV).
class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual const char* GetName() const = 0;

    // A file object for a native path, not opened; never null.
    virtual std::unique_ptr<File> OpenNativeFile(const char* path) = 0;
    // Null when the file cannot be opened.
    virtual std::unique_ptr<File> Open(const char* path, uint32_t flags) = 0;
    // Null when the file cannot be written. What is written reaches the path whole when the
    // stream closes, or not at all.
    virtual std::unique_ptr<OutputStream> OpenForWrite(const char* path, uint32_t flags) = 0;

    virtual uint32_t GetAttributes(const char* path) = 0;
    // Only FileReadOnly is meaningful in mask and value.
    virtual bool SetReadOnly(const char* path, uint32_t mask, uint32_t value) = 0;

    virtual void SetBaseFolder(const char* path) = 0;
    virtual const char* GetBaseFolder() const = 0;
    // The folder or archive that holds the game, fixed by the player at start-up so that a
    // setting of the game that moves the base folder cannot widen its reach; while empty, the
    // base folder is the root.
    virtual void SetGameRoot(const char* path) = 0;
    virtual const char* GetGameRoot() const = 0;
    // A game whose folder holds no "config.txt" is one for reading (SceneGame): while its
    // scripts are at work (IsGameAtWork) they write, copy over and remove only in "user://", and
    // every other write fails noting ReadOnlyGameReason.
    virtual void SetGameReadOnly(bool readOnly) = 0;
    virtual bool IsGameReadOnly() const = 0;
    // Whether the path lies inside the game as the disk resolves it now: beneath its root or
    // "user://" (links followed only while they stay there, never an absolute one), or among
    // the built-in files. Judged so whether or not the reach is held. Flags: OpenNative.
    virtual bool IsInsideGame(const char* path, uint32_t flags) const = 0;
    virtual bool IsInBaseFolder(const char* path) const = 0;
    // False when the native path would not fit a PathString; `out` is then empty.
    virtual bool GetNativePath(PathString& out, const char* path) const = 0;
    // A position inside `path`: the text after the base folder, or the path itself.
    virtual const char* GetRelativePath(const char* path) const = 0;
    virtual void SetUserFolder(const char* path) = 0;
    virtual const char* GetUserFolder() const = 0;
    // Id of a file built into the program, 0 when there is none of that name.
    virtual uint32_t FindEmbeddedFile(const char* name) const = 0;

    virtual bool Exists(const char* path) = 0;
    virtual bool DirectoryExists(const char* path) = 0;
    // Last-write time; 0 when missing, and for archive entries and embedded files.
    virtual uint64_t GetFileTime(const char* path) = 0;
    virtual bool MakeDirectory(const char* path) = 0;
    virtual bool RemoveFolder(const char* path, bool recursive) = 0;
    virtual bool MakeDirectories(const char* path) = 0;
    virtual bool Copy(const char* source, const char* destination) = 0;
    virtual bool CopyCreatingFolders(const char* source, const char* destination) = 0;
    virtual bool CreateEmptyFile(const char* path) = 0;
    virtual bool RemoveFile(const char* path) = 0;
    // The text up to and including the last '/', a trailing '/' ignored.
    virtual PathString GetFolderPart(const char* path) const = 0;
};

// The program's file system: made once by the start-up and kept for the whole run; null until
// then. Not owned here.
FileSystem* GetFileSystem();
void SetFileSystem(FileSystem* fileSystem);

// Why the last file operation of this thread that failed did so, in the system's words ("Read-
// only file system", "No space left on device"); "" when nothing failed yet. Log lines of failed
// saves and loads name it.
const char* LastFileFailure();
// Records an errno value as that reason; EXDEV reads as OutsideGameReason.
void NoteFileFailure(int error);
void NoteFileFailure(const char* reason);
// Forgets the reason, so that a failure that notes none is not given an old one.
void ClearFileFailure();
// ": " and the reason, or "" when none was noted: the tail of a log line on failed file work.
std::string FileFailureSuffix();

// Whether a failed write is told in the log: a game that writes on into a full disk (or past
// its folder's cap) would fill the log as fast, so the first failure is told and the next only
// once a file was written whole again (NoteWriteSucceeded, which every written file notes).
bool TellWriteFailure();
void NoteWriteSucceeded();

// Why a path is refused while the game's reach is held.
inline constexpr const char* OutsideGameReason = "it leads outside the game's folder and user://";
// Why a script of a game for reading may not write beneath its folder.
inline constexpr const char* ReadOnlyGameReason =
    "the game's folder holds no config.txt, so its scripts write only in user://";
// Why a pipe, a device or a socket is not read: it may never end, or wait for ever.
inline constexpr const char* NotAFileReason = "it is no regular file";

} // namespace quarn
