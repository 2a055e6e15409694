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
// heavy: a value holds at most MaxValueBytes (what reading the file keeps of a value, so a
// value comes back whole from the disk too) and a save at most MaxFileBytes. A change past
// either cap, or one the file could not hold as it is (a value with a quote or a line break,
// a key that does not start with a letter or '_' or holds a blank or '='), is refused and
// changes nothing, on the disk or in memory.
class GameSettings {
public:
    static constexpr size_t MaxValueBytes = 255;
    static constexpr size_t MaxFileBytes = size_t{64} << 10;
    // Where a game's settings live.
    static constexpr const char* Path = "user://init.txt";

    bool Has(const char* key);
    // The value, "" when missing; valid until that entry changes.
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

    SettingsFile file_;
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
