#pragma once

#include "core/filesystem/FileSystem.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

// A file system in memory, for tests and fuzz targets of what reads and writes through one: it
// serves the files it was given (unscrambling them for OpenScrambled, as the disk does), counts
// the opens, and keeps what is written once the stream closes. Everything else answers "nothing
// there".
class MemoryFileSystem final : public FileSystem {
public:
    void Add(const std::string& path, std::string_view bytes);
    void Add(const std::string& path, const std::vector<uint8_t>& bytes);
    // Writes to this path fail at once.
    void MarkReadOnly(const std::string& path) { readOnly_.insert(path); }
    // Makes every later Close() report that the file did not arrive whole.
    void FailCloses() { closeSucceeds_ = false; }

    int OpenCount(const std::string& path) const;
    uint32_t LastOpenFlags() const { return lastOpenFlags_; }
    uint32_t LastWriteFlags() const { return lastWriteFlags_; }
    // Files handed out and not yet destroyed.
    int LiveFiles() const { return liveFiles_; }
    // The text that arrived at a path through a closed stream; null when nothing did.
    const std::string* Written(const std::string& path) const;

    const char* GetName() const override { return "Memory"; }
    std::unique_ptr<File> OpenNativeFile(const char* path) override;
    std::unique_ptr<File> Open(const char* path, uint32_t flags) override;
    std::unique_ptr<OutputStream> OpenForWrite(const char* path, uint32_t flags) override;
    uint32_t GetAttributes(const char* path) override;
    bool SetReadOnly(const char*, uint32_t, uint32_t) override { return false; }
    void SetBaseFolder(const char*) override {}
    const char* GetBaseFolder() const override { return ""; }
    void SetGameRoot(const char*) override {}
    const char* GetGameRoot() const override { return ""; }
    void SetGameReadOnly(bool) override {}
    bool IsGameReadOnly() const override { return false; }
    // Nothing lies outside memory but what names another place: an absolute path, a scheme
    // other than "user://" and "res://", or ".." climbing above the start.
    bool IsInsideGame(const char* path, uint32_t flags) const override;
    bool IsInBaseFolder(const char*) const override { return true; }
    bool GetNativePath(PathString& out, const char* path) const override;
    const char* GetRelativePath(const char* path) const override { return path; }
    void SetUserFolder(const char*) override {}
    const char* GetUserFolder() const override { return ""; }
    uint32_t FindEmbeddedFile(const char*) const override { return 0; }
    bool Exists(const char* path) override { return files_.count(path) != 0; }
    bool DirectoryExists(const char*) override { return false; }
    uint64_t GetFileTime(const char*) override { return 0; }
    bool MakeDirectory(const char*) override { return false; }
    bool RemoveFolder(const char*, bool) override { return false; }
    bool MakeDirectories(const char*) override { return false; }
    bool Copy(const char*, const char*) override { return false; }
    bool CopyCreatingFolders(const char*, const char*) override { return false; }
    bool CreateEmptyFile(const char*) override { return false; }
    bool RemoveFile(const char*) override { return false; }
    PathString GetFolderPart(const char*) const override { return PathString(); }

private:
    class ServedFile;
    class CollectingStream;

    std::map<std::string, std::string> files_;
    std::map<std::string, std::string> written_;
    std::map<std::string, int> opens_;
    std::set<std::string> readOnly_;
    uint32_t lastOpenFlags_ = 0;
    uint32_t lastWriteFlags_ = 0;
    int liveFiles_ = 0;
    bool closeSucceeds_ = true;
};

} // namespace quarn
