#pragma once

#include "core/io/OutputStream.h"
#include "core/math/Vector.h"
#include "core/string/FixedString.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace quarn {

// The engine's key-value store: "config.txt", the engine's and each game's own settings,
// "game_cfg.txt" files and the data files of VarData nodes. A file holds lines 'key = "value"';
// keys compare and sort without ASCII case and keep at most 63 characters (lookups cut theirs
// the same way, so a longer key finds its stored prefix). Keys are taken literally: a '%' means
// nothing.
//
// What the parser accepts (blanks are space, TAB, CR and LF):
// - a line whose first non-blank byte is not an ASCII letter or '_' is a comment up to its LF;
// - the key runs from there to the first blank or '='; blanks after it, line breaks included,
//   are skipped, and when no '=' follows the key is dropped and parsing restarts at that byte
//   (so 'a b = c' defines only "b");
// - after '=' spaces, TABs and CRs are skipped (not LF), then one optional opening quote;
// - the value runs to the next '"', CR, LF or the end of the text, and is cut to 255
//   characters; after a closing quote the rest of the line is ignored, while an unquoted value
//   keeps its trailing blanks. There are no escapes;
// - a repeated key keeps its last value; the text ends at its length or at a NUL byte.
//
// Saving writes `key = "value"` + LF per entry in key order, nothing else. Setters store values
// of any length; a long value is saved whole and cut only when the file is read again. An entry
// that could not be read back as it is (a value holding '"', CR or LF, or a key that is empty,
// does not start with a letter or '_', or holds a blank or '=') is not written: the save
// reports it through ValidityReport, naming the key, and writes the others.
class SettingsFile {
public:
    // Settings are a few kilobytes; a file this large is no settings file and is not read.
    static constexpr uint32_t MaxFileBytes = 64u << 20;

    SettingsFile() = default;
    // Loads the file unscrambled; see Load.
    explicit SettingsFile(const char* path);

    // Empties the store, makes `path` its own path and reads the file through the file system.
    // False when the file does not open or is larger than `maxBytes` (logged): the store then
    // stays empty, the path is still set.
    bool Load(const char* path, bool scrambled, uint32_t maxBytes = MaxFileBytes);
    // Adds the entries of a text to those present; always true.
    bool Parse(const char* text, size_t length);

    void SetPath(const char* path) { path_.Set(path); }
    const char* GetPath() const { return path_.Text(); }
    bool Save(bool scrambled) { return SaveAs(path_.Text(), scrambled); }
    // True only when the file could be opened and arrived whole: it is written to the side and
    // put in place at the end, so a failed save leaves the old file as it was. A read-only file
    // is not overwritten and folders are not created.
    bool SaveAs(const char* path, bool scrambled);
    // Whether the store holds a change that no save to its own path has written yet.
    bool HasUnsavedChanges() const { return unsaved_; }
    // Writes what a save writes, reporting and skipping the same entries; false when a write
    // came up short.
    bool Write(OutputStream& stream) const;
    // The bytes a save writes: of the whole store, and of one entry (0 for one it skips).
    size_t GetSavedSize() const;
    static size_t GetSavedSize(const char* key, const std::string& value);

    bool HasKey(const char* key) const;
    // The value, or "" when missing. The text belongs to the store and stays valid until that
    // entry changes or goes.
    const char* GetString(const char* key) const;
    // True exactly for the values "true" and "1" (case matters).
    bool GetBool(const char* key) const;
    // A value starting with "0x" is read as a 32-bit hexadecimal bit pattern (colours such as
    // 0x80808080 come out negative); any other as a clamped decimal with optional blanks and
    // sign, 0 when it has no digits. 0 when missing.
    int32_t GetInt(const char* key) const;
    // "x,y", each part read as GetInt's decimal; a missing part reads 0.
    Int2 GetInt2(const char* key) const;

    // Inserts the entry or replaces its value.
    void SetString(const char* key, const char* value);
    void Add(const char* key, const char* value) { SetString(key, value); }
    void SetBool(const char* key, bool value); // "true" or "false"
    void SetInt(const char* key, int32_t value);
    void SetInt2(const char* key, int32_t x, int32_t y); // "x,y"

    void Remove(const char* key);
    void Clear() {
        entries_.clear();
        unsaved_ = true;
    }

    int GetCount() const { return static_cast<int>(entries_.size()); }
    // The key of the index-th entry in key order; "" outside 0 .. GetCount() - 1.
    const char* GetKeyAt(int index) const;

private:
    struct KeyLess {
        bool operator()(const String64& a, const String64& b) const;
    };
    using EntryMap = std::map<String64, std::string, KeyLess>;

    // The entry a key names after the cut to 63 characters.
    EntryMap::const_iterator Find(const char* key) const;

    PathString path_;
    bool unsaved_ = false;
    // A map keeps every value where it is while other entries come and go, which is what
    // GetString's promise needs.
    EntryMap entries_;
};

// The main settings, "config.txt": read at start-up, consulted across the engine for the run.
SettingsFile& GetMainSettings();
// The engine's own settings, "Quarn/init.txt" in the user's data home (the editor's recent
// files, folders, colours and window place): read at start-up, never read or written by a
// game, whose scripts keep settings of their own (GameSettings).
SettingsFile& GetUserSettings();
// What the engine writes there takes a few kilobytes: a file past this cap is no file of its
// own making, and reading it would cost every start in proportion.
inline constexpr uint32_t MaxUserSettingsBytes = 64u << 10;
// Reads the engine's settings from `path` at start-up. A file past MaxUserSettingsBytes, or one
// that is there and cannot be read, is left unread (logged) and is never written over: the
// engine then keeps its settings in memory only.
void LoadUserSettings(const char* path);
// Writes what the engine changed in its own settings since they were read or last saved (a
// failure is logged). The engine's settings keep their one moment of saving: a game's script
// saving a setting of its own, and no other, so a session without one leaves the file as it was.
// True when it wrote the file or tried to.
bool SaveChangedUserSettings();

// The folder a kind of file dialog ("scene", "branch") starts in, kept in the user settings as
// "folder_" + kind: made absolute against the base folder as it is now; "" when none is
// remembered, or when the absolute form would be longer than a path may be.
std::string GetFolderSetting(const char* kind);
void SetFolderSetting(const char* kind, const char* folder);
// Where a kind of file dialog starts: the main settings' kind + "_base_folder" made absolute
// when present, else the remembered folder ("" when neither).
std::string GetDialogStartFolder(const char* kind);

} // namespace quarn
