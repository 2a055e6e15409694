#include "core/filesystem/GameSettings.h"

#include "core/debug/Log.h"
#include "core/filesystem/DiskPlace.h"
#include "core/filesystem/FileSystem.h"
#include "core/os/FrameWaits.h"
#include "core/string/Text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>

namespace quarn {

namespace {

// Every process of a game takes the same lock, on its user folder, around the read and write of
// a save. None is taken where the folder cannot be opened (the save then fails and says why).
class SaveLock {
public:
    explicit SaveLock(const std::string& folder)
        : folder_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        using Clock = std::chrono::steady_clock;
        // The wait is one of the frame's waits on the outside, within their shared bound.
        const auto own = std::chrono::milliseconds(GameSettings::LockWaitMilliseconds);
        const bool cut = FrameWaitLeft() < own;
        const Clock::time_point start = Clock::now();
        const Clock::time_point deadline = start + std::min<Clock::duration>(own, FrameWaitLeft());
        while (folder_.IsOpen() && flock(folder_.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK || Clock::now() >= deadline) {
                const std::string reason = errno != EWOULDBLOCK ? std::strerror(errno)
                                           : cut                ? FrameWaitsSpentText()
                                                 : "another process has held it too long";
                LogMessage("The game's settings in %s are saved without their lock: %s",
                           folder.c_str(), reason.c_str());
                folder_ = Descriptor();
                break;
            }
            std::this_thread::sleep_for(
                std::min<Clock::duration>(std::chrono::milliseconds(5), deadline - Clock::now()));
        }
        CountFrameWait(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start));
    }

private:
    Descriptor folder_; // closing it lets the lock go
};

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

} // namespace

bool GameSettings::Has(const char* key) {
    Follow();
    return key && std::strlen(key) <= MaxKeyBytes && file_.HasKey(key);
}

const char* GameSettings::Get(const char* key) {
    Follow();
    return key && std::strlen(key) <= MaxKeyBytes ? file_.GetString(key) : "";
}

std::string GameSettings::Set(const char* key, const char* value, bool save) {
    Follow();
    lastSaveSize_ = 0;
    const std::string name(key ? key : "");
    const std::string text(value ? value : "");
    // The store would cut a longer key, and two keys that differ past the cut would be one.
    if (name.size() > MaxKeyBytes) {
        return StringFormat("a key of %zu bytes is longer than the %zu bytes a setting's key may "
                            "have",
                            name.size(), MaxKeyBytes);
    }
    if (text.size() > MaxValueBytes) {
        return StringFormat("a value of %zu bytes is longer than the %zu bytes a setting may hold",
                            text.size(), MaxValueBytes);
    }
    const size_t entrySize = SettingsFile::GetSavedSize(name.c_str(), text);
    if (entrySize == 0) {
        return SettingsFile::GetSavedSize(name.c_str(), "") == 0
                   ? StringFormat("the key \"%s\" cannot be kept: a key starts with a letter or "
                                  "'_' and holds no blank or '='",
                                  name.c_str())
                   : StringFormat("the value of \"%s\" cannot be kept: a value holds no quote "
                                  "or line break",
                                  name.c_str());
    }
    const bool present = file_.HasKey(name.c_str());
    const bool changed = !present || text != file_.GetString(name.c_str());
    if (save && (changed || unsaved_) && *file_.GetPath()) {
        return SaveMerged(changed ? name.c_str() : nullptr, text);
    }
    if (changed) {
        const size_t replaced =
            present ? SettingsFile::GetSavedSize(name.c_str(), file_.GetString(name.c_str())) : 0;
        const size_t size = savedSize_ - replaced + entrySize;
        if (size > MaxFileBytes) {
            return StringFormat("the game's settings would take %zu bytes, more than the %zu "
                                "bytes their file may hold",
                                size, MaxFileBytes);
        }
        file_.SetString(name.c_str(), text.c_str());
        changes_.SetString(name.c_str(), text.c_str());
        savedSize_ = size;
        unsaved_ = true;
    }
    return {};
}

std::string GameSettings::SaveMerged(const char* key, const std::string& value) {
    ClearFileFailure();
    const SaveLock lock(FolderOf(source_));
    // What the file holds now, another process's saves since this one read it included.
    SettingsFile merged;
    merged.Load(Path, false);
    for (int index = 0; index < changes_.GetCount(); ++index) {
        const char* changedKey = changes_.GetKeyAt(index);
        merged.SetString(changedKey, changes_.GetString(changedKey));
    }
    if (key) {
        merged.SetString(key, value.c_str());
    }
    const size_t size = merged.GetSavedSize();
    if (size > MaxFileBytes) {
        return StringFormat("the game's settings would take %zu bytes, more than the %zu bytes "
                            "their file may hold",
                            size, MaxFileBytes);
    }
    lastSaveSize_ = size;
    if (merged.Save(false)) {
        file_ = std::move(merged);
        changes_.Clear();
        savedSize_ = size;
        unsaved_ = false;
        return {};
    }
    if (TellWriteFailure()) {
        LogMessage("Setting \"%s\" is not saved to %s%s", key ? key : changes_.GetKeyAt(0),
                   source_.c_str(), FileFailureSuffix().c_str());
    }
    if (key) {
        file_.SetString(key, value.c_str());
        changes_.SetString(key, value.c_str());
        savedSize_ = file_.GetSavedSize();
    }
    unsaved_ = true;
    return {};
}

void GameSettings::Follow() {
    FileSystem* files = GetFileSystem();
    std::string source;
    PathString native;
    // An empty user folder would put the file in the current folder.
    if (files && *files->GetUserFolder() && files->GetNativePath(native, Path)) {
        source = native.Text();
    }
    if (followed_ && source == source_) {
        return;
    }
    followed_ = true;
    source_ = source;
    unsaved_ = false;
    file_.Clear();
    file_.SetPath("");
    changes_.Clear();
    if (!source_.empty()) {
        file_.Load(Path, false);
    }
    savedSize_ = file_.GetSavedSize();
}

GameSettings& GetGameSettings() {
    static GameSettings settings;
    return settings;
}

} // namespace quarn
