#pragma once

#include <cstdint>
#include <string>

namespace quarn {

// The editor's preferences in the user settings: the recent files ("recent_files",
// "recent_file1" ..) and the custom colours ("color0" .. "color15"); the remembered folders of
// the file dialogs are the core's (SettingsFile.h). Every change stays in memory; the file is
// written only when a script saves a user setting.

// At most this many recent files, whatever "recent_files" asks for.
inline constexpr int MaxRecentFiles = 9;
inline constexpr int CustomColourCount = 16;

// "recent_file" + the digit: the key of a recent-file slot 1..9.
std::string GetKeyWithDigit(const char* text, char digit);

// Puts the path at the head of the list: an equal entry (compared with case) leaves its slot,
// and when the list is full its last entry drops out.
void AddRecentFile(const char* path);

// Fills the custom colour table from the user settings: present keys take the next entries in
// key order (so missing ones compact the table), the rest become 0.
void LoadCustomColours();
uint32_t GetCustomColour(int index);

} // namespace quarn
