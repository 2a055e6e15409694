#pragma once

#include "core/filesystem/SettingsFile.h"

#include <cstddef>
#include <string>

namespace quarn {

// The settings a game's scripts keep (SetSetting, GetSetting): a settings file of the game's
// own, "init.txt" in its "user://" folder, apart from every other game's and from the engine's
// own settings. The store follows the file system's user folder: it is read again whenever that
// folder changes, so one game's settings never reach another game's folder. Without a user
// folder the settings last for the run only.
//
// Bounded, so that a game can neither grow its file without end nor make each save of it
// heavy: a key holds at most MaxKeyBytes and a value MaxValueBytes (what reading the file keeps
// of each, so both come back whole from the disk too), and a save at most MaxFileBytes. A
// change past a cap, or one the file could not hold as it is (a value with a quote or a line
// break, a key that does not start with a letter or '_' or holds a blank or '='), is refused
// and changes nothing, on the disk or in memory. Keys ignore ASCII case.
//
// Several processes of one game may keep settings at once: a save reads the file again under a
// lock on the user folder and writes the changes made here since the last save over what it
// holds, so no process loses another's keys; what the file held is then what this one reads.
class GameSettings {
public:
    static constexpr size_t MaxKeyBytes = 63;
    static constexpr size_t MaxValueBytes = 255;
    static constexpr size_t MaxFileBytes = size_t{64} << 10;
    // How long a save waits for another process's save to end before it goes on without the
    // lock (a process stopped in mid-save must not stop every other).
    static constexpr int LockWaitMilliseconds = 2000;
    // Where a game's settings live.
    static constexpr const char* Path = "user://init.txt";

    // A key longer than MaxKeyBytes is never held.
    bool Has(const char* key);
    // The value, "" when missing; valid until that entry changes or a save reads the file.
    const char* Get(const char* key);
    // Sets the entry and, when the settings changed (or hold a change not yet saved), saves the
    // file whole, logging a save that fails. "" when done, else why the change is refused. With
    // `save` false the change stays in memory until the next save.
    std::string Set(const char* key, const char* value, bool save = true);
    // The bytes the last call of Set wrote to the disk, or tried to where the save failed: 0
    // when it saved nothing.
    size_t GetLastSaveSize() const { return lastSaveSize_; }

private:
    // Reads the settings of the game whose user folder the file system names now, unless they
    // are the ones held.
    void Follow();
    // Saves the changes held, with `key` set to `value`, over the file as it is now. "" when
    // done or when the save failed (logged; the change is then held for the next save), else
    // why the change is refused.
    std::string SaveMerged(const char* key, const std::string& value);

    SettingsFile file_;
    // The entries set here since the last save, which a save writes over the file's.
    SettingsFile changes_;
    // The native path the held settings were read from ("" for those of no folder).
    std::string source_;
    bool followed_ = false;
    // What a save writes now: kept up to date so that a change is weighed without a pass.
    size_t savedSize_ = 0;
    // A change is in memory only: set in memory or its save failed.
    bool unsaved_ = false;
    size_t lastSaveSize_ = 0;
};

// The running game's settings.
GameSettings& GetGameSettings();

} // namespace quarn
