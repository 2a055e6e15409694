#include "core/filesystem/SettingsFile.h"

#include "core/debug/Log.h"
#include "core/debug/Validity.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"

#include <cstring>
#include <iterator>

namespace quarn {

namespace {

constexpr size_t MaxParsedValue = 255;

// The parser's blanks: not IsBlank's, which also takes VT and FF as blanks.
bool IsSettingsBlank(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

bool IsKeyStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// Whether a key survives a save and the next parse unchanged.
bool IsWritableKey(const char* key) {
    if (!IsKeyStart(key[0])) {
        return false;
    }
    for (const char* c = key; *c; ++c) {
        if (IsSettingsBlank(*c) || *c == '=') {
            return false;
        }
    }
    return true;
}

bool IsWritableValue(const std::string& value) {
    return value.find_first_of("\"\r\n") == std::string::npos;
}

bool WriteText(OutputStream& stream, const char* text, size_t length) {
    return stream.Write(text, static_cast<uint32_t>(length)) == length;
}

} // namespace

bool SettingsFile::KeyLess::operator()(const String64& a, const String64& b) const {
    return CompareNoCase(a.Text(), b.Text()) < 0;
}

SettingsFile::SettingsFile(const char* path) {
    Load(path, false);
}

bool SettingsFile::Load(const char* path, bool scrambled, uint32_t maxBytes) {
    entries_.clear();
    unsaved_ = false;
    path_.Set(path);
    FileReader reader;
    if (!reader.Open(path, false, scrambled)) {
        return false;
    }
    if (reader.GetSize() > maxBytes) {
        LogMessage("Settings file %s is not read: it holds %u bytes, more than the %u a settings "
                   "file may hold",
                   path, reader.GetSize(), maxBytes);
        return false;
    }
    std::string text(reader.GetSize(), '\0');
    uint32_t count = reader.Read(text.data(), static_cast<uint32_t>(text.size()));
    reader.Close();
    Parse(text.data(), count);
    unsaved_ = false;
    return true;
}

bool SettingsFile::Parse(const char* text, size_t length) {
    if (!text) {
        return true;
    }
    const char* cursor = text;
    const char* end = text + strnlen(text, length);
    while (cursor < end) {
        if (IsSettingsBlank(*cursor)) {
            ++cursor;
            continue;
        }
        if (!IsKeyStart(*cursor)) {
            const char* lineEnd = static_cast<const char*>(std::memchr(cursor, '\n', end - cursor));
            cursor = lineEnd ? lineEnd + 1 : end;
            continue;
        }
        const char* keyStart = cursor;
        while (cursor < end && !IsSettingsBlank(*cursor) && *cursor != '=') {
            ++cursor;
        }
        String64 key(std::string(keyStart, cursor).c_str());
        while (cursor < end && IsSettingsBlank(*cursor)) {
            ++cursor;
        }
        if (cursor == end || *cursor != '=') {
            continue; // the key is dropped; this byte starts over as a line would
        }
        ++cursor;
        while (cursor < end && (*cursor == ' ' || *cursor == '\t' || *cursor == '\r')) {
            ++cursor;
        }
        if (cursor < end && *cursor == '"') {
            ++cursor;
        }
        const char* valueStart = cursor;
        while (cursor < end && *cursor != '"' && *cursor != '\n' && *cursor != '\r') {
            ++cursor;
        }
        size_t valueLength = static_cast<size_t>(cursor - valueStart);
        unsaved_ = true;
        entries_[key].assign(valueStart,
                             valueLength < MaxParsedValue ? valueLength : MaxParsedValue);
        if (cursor < end && *cursor == '"') {
            while (cursor < end && *cursor != '\n' && *cursor != '\r') {
                ++cursor;
            }
        }
    }
    return true;
}

bool SettingsFile::SaveAs(const char* path, bool scrambled) {
    ForwardingOutputStream stream;
    if (!stream.Open(path, scrambled ? uint32_t{WriteScrambled} : 0u)) {
        return false;
    }
    bool written = Write(stream);
    // Closed even after a short write: the stream then drops the file instead of putting a
    // truncated one in place.
    bool closed = stream.Close();
    if (written && closed && std::strcmp(path, path_.Text()) == 0) {
        unsaved_ = false;
    }
    return written && closed;
}

bool SettingsFile::Write(OutputStream& stream) const {
    bool written = true;
    for (const auto& [key, value] : entries_) {
        if (!IsWritableKey(key.Text())) {
            ValidityReport("Settings entry \"%s\" is not saved: a key must start with a letter "
                           "or '_' and hold no blank or '='",
                           key.Text());
            continue;
        }
        if (!IsWritableValue(value)) {
            ValidityReport("Settings entry \"%s\" is not saved: its value holds a quote or a "
                           "line break",
                           key.Text());
            continue;
        }
        written = written && WriteText(stream, key.Text(), static_cast<size_t>(key.Length())) &&
                  WriteText(stream, " = \"", 4) && WriteText(stream, value.data(), value.size()) &&
                  WriteText(stream, "\"\n", 2);
    }
    return written;
}

size_t SettingsFile::GetSavedSize() const {
    size_t size = 0;
    for (const auto& [key, value] : entries_) {
        size += GetSavedSize(key.Text(), value);
    }
    return size;
}

size_t SettingsFile::GetSavedSize(const char* key, const std::string& value) {
    if (!IsWritableKey(key) || !IsWritableValue(value)) {
        return 0;
    }
    return std::strlen(key) + value.size() + 6; // ' = "' and '"' LF
}

bool SettingsFile::HasKey(const char* key) const {
    return Find(key) != entries_.end();
}

const char* SettingsFile::GetString(const char* key) const {
    auto entry = Find(key);
    return entry == entries_.end() ? "" : entry->second.c_str();
}

bool SettingsFile::GetBool(const char* key) const {
    const char* value = GetString(key);
    return std::strcmp(value, "true") == 0 || std::strcmp(value, "1") == 0;
}

int32_t SettingsFile::GetInt(const char* key) const {
    const char* value = GetString(key);
    // Only a lower-case "0x" selects hexadecimal: "0X1F" reads as the decimal 0.
    if (value[0] == '0' && value[1] == 'x') {
        return static_cast<int32_t>(ParseHex32(value + 2));
    }
    return ParseInt32(value);
}

Int2 SettingsFile::GetInt2(const char* key) const {
    return ParseInt2(GetString(key), ",");
}

void SettingsFile::SetString(const char* key, const char* value) {
    entries_[String64(key)].assign(value ? value : "");
    unsaved_ = true;
}

void SettingsFile::SetBool(const char* key, bool value) {
    SetString(key, value ? "true" : "false");
}

void SettingsFile::SetInt(const char* key, int32_t value) {
    SetString(key, FormatTemp("%d", value));
}

void SettingsFile::SetInt2(const char* key, int32_t x, int32_t y) {
    SetString(key, FormatTemp("%d,%d", x, y));
}

void SettingsFile::Remove(const char* key) {
    auto entry = Find(key);
    if (entry != entries_.end()) {
        entries_.erase(entry);
        unsaved_ = true;
    }
}

const char* SettingsFile::GetKeyAt(int index) const {
    if (index < 0 || index >= GetCount()) {
        return "";
    }
    return std::next(entries_.begin(), index)->first.Text();
}

SettingsFile::EntryMap::const_iterator SettingsFile::Find(const char* key) const {
    return entries_.find(String64(key));
}

SettingsFile& GetMainSettings() {
    static SettingsFile settings;
    return settings;
}

SettingsFile& GetUserSettings() {
    static SettingsFile settings;
    return settings;
}

void LoadUserSettings(const char* path) {
    SettingsFile& user = GetUserSettings();
    FileSystem* files = GetFileSystem();
    if (!user.Load(path, false, MaxUserSettingsBytes) && files && files->Exists(path)) {
        LogMessage("The engine's settings in %s are kept in memory only: the file is not read, "
                   "and not written over",
                   path);
        user.SetPath("");
    }
}

bool SaveChangedUserSettings() {
    SettingsFile& user = GetUserSettings();
    if (!*user.GetPath() || !user.HasUnsavedChanges()) {
        return false;
    }
    const EngineFilesScope engineFiles;
    ClearFileFailure();
    if (!user.Save(false)) {
        LogMessage("The engine's settings are not saved to %s%s", user.GetPath(),
                   FileFailureSuffix().c_str());
    }
    return true;
}

std::string GetFolderSetting(const char* kind) {
    const SettingsFile& user = GetUserSettings();
    const std::string key = std::string("folder_") + (kind ? kind : "");
    FileSystem* files = GetFileSystem();
    if (!user.HasKey(key.c_str()) || !files) {
        return {};
    }
    PathString folder;
    if (!files->GetNativePath(folder, user.GetString(key.c_str()))) {
        return {};
    }
    return folder.Text();
}

std::string GetDialogStartFolder(const char* kind) {
    const std::string key = std::string(kind ? kind : "") + "_base_folder";
    const SettingsFile& main = GetMainSettings();
    FileSystem* files = GetFileSystem();
    if (!main.HasKey(key.c_str()) || !files) {
        return GetFolderSetting(kind);
    }
    PathString folder;
    return files->GetNativePath(folder, main.GetString(key.c_str())) ? folder.Text() : "";
}

void SetFolderSetting(const char* kind, const char* folder) {
    GetUserSettings().SetString((std::string("folder_") + (kind ? kind : "")).c_str(), folder);
}

} // namespace quarn
