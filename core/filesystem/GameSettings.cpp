#include "core/filesystem/GameSettings.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/string/Text.h"

namespace quarn {

bool GameSettings::Has(const char* key) {
    Follow();
    return file_.HasKey(key);
}

const char* GameSettings::Get(const char* key) {
    Follow();
    return file_.GetString(key);
}

std::string GameSettings::Set(const char* key, const char* value, bool save) {
    Follow();
    lastSaveSize_ = 0;
    const String64 stored(key); // as the store keeps it: cut to 63 characters
    const std::string text(value ? value : "");
    if (text.size() > MaxValueBytes) {
        return StringFormat("a value of %zu bytes is longer than the %zu bytes a setting may hold",
                            text.size(), MaxValueBytes);
    }
    const size_t entrySize = SettingsFile::GetSavedSize(stored.Text(), text);
    if (entrySize == 0) {
        return SettingsFile::GetSavedSize(stored.Text(), "") == 0
                   ? StringFormat("the key \"%s\" cannot be kept: a key starts with a letter or "
                                  "'_' and holds no blank or '='",
                                  stored.Text())
                   : StringFormat("the value of \"%s\" cannot be kept: a value holds no quote "
                                  "or line break",
                                  stored.Text());
    }
    const bool present = file_.HasKey(stored.Text());
    if (!present || text != file_.GetString(stored.Text())) {
        const size_t replaced =
            present ? SettingsFile::GetSavedSize(stored.Text(), file_.GetString(stored.Text())) : 0;
        const size_t size = savedSize_ - replaced + entrySize;
        if (size > MaxFileBytes) {
            return StringFormat("the game's settings would take %zu bytes, more than the %zu "
                                "bytes their file may hold",
                                size, MaxFileBytes);
        }
        file_.SetString(stored.Text(), text.c_str());
        savedSize_ = size;
        unsaved_ = true;
    }
    if (!save || !unsaved_ || !*file_.GetPath()) {
        return {};
    }
    ClearFileFailure();
    lastSaveSize_ = savedSize_;
    if (file_.Save(false)) {
        unsaved_ = false;
    } else {
        LogMessage("Setting \"%s\" is not saved to %s%s", stored.Text(), source_.c_str(),
                   FileFailureSuffix().c_str());
    }
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
