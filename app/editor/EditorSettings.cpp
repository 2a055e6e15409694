#include "app/editor/EditorSettings.h"

#include "core/filesystem/FileSystem.h"
#include "core/filesystem/SettingsFile.h"
#include "core/string/Text.h"

#include <cstdlib>
#include <cstring>

namespace quarn {

namespace {

uint32_t customColours[CustomColourCount] = {};

std::string RecentFileKey(int slot) {
    return GetKeyWithDigit("recent_file", static_cast<char>('0' + slot));
}

} // namespace

std::string GetKeyWithDigit(const char* text, char digit) {
    return std::string(text ? text : "") + digit;
}

void AddRecentFile(const char* path) {
    SettingsFile& user = GetUserSettings();
    // The path may be one of the entries about to move.
    const std::string added = path ? path : "";
    int size = user.HasKey("recent_files") ? user.GetInt("recent_files") : MaxRecentFiles;
    if (size > MaxRecentFiles) {
        size = MaxRecentFiles;
        user.SetInt("recent_files", MaxRecentFiles);
    }
    int slot = 1;
    while (slot < size) {
        std::string key = RecentFileKey(slot);
        if (!user.HasKey(key.c_str()) || added == user.GetString(key.c_str())) {
            break;
        }
        ++slot;
    }
    for (int from = slot - 1; from >= 1; --from) {
        user.SetString(RecentFileKey(from + 1).c_str(),
                       user.GetString(RecentFileKey(from).c_str()));
    }
    user.SetString(RecentFileKey(1).c_str(), added.c_str());
}

void LoadCustomColours() {
    int next = 0;
    const SettingsFile& user = GetUserSettings();
    for (int index = 0; index < CustomColourCount; ++index) {
        const char* key = FormatTemp("color%d", index);
        if (user.HasKey(key)) {
            // Read as hexadecimal: what does not convert reads 0, more than 32 bits all ones.
            unsigned long value = std::strtoul(user.GetString(key), nullptr, 16);
            customColours[next++] =
                value > 0xFFFFFFFFul ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
        }
    }
    while (next < CustomColourCount) {
        customColours[next++] = 0;
    }
}

uint32_t GetCustomColour(int index) {
    return index >= 0 && index < CustomColourCount ? customColours[index] : 0;
}

} // namespace quarn
