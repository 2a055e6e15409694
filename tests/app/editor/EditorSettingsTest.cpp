#include "app/editor/EditorSettings.h"

#include "core/filesystem/SettingsFile.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

using Paths = std::vector<std::string>;

std::string Slot(size_t slot) {
    return GetKeyWithDigit("recent_file", static_cast<char>('1' + slot));
}

Paths RecentFiles() {
    Paths paths;
    for (size_t slot = 0; GetUserSettings().HasKey(Slot(slot).c_str()); ++slot) {
        paths.push_back(GetUserSettings().GetString(Slot(slot).c_str()));
    }
    return paths;
}

TEST(RecentFiles, AFileMovesToTheFrontWithinTheListSize) {
    SettingsFile& user = GetUserSettings();
    const Paths nine = {"1", "2", "3", "4", "5", "6", "7", "8", "9"};
    const struct {
        const char* size; // "recent_files", or null for none
        Paths before;
        const char* added;
        Paths after;
    } cases[] = {
        {nullptr, {"a", "b", "c", "d"}, "c", {"c", "a", "b", "d"}},
        {nullptr, nine, "new", {"new", "1", "2", "3", "4", "5", "6", "7", "8"}},
        {nullptr, {"a", "b"}, "A", {"A", "a", "b"}}, // case tells paths apart
        {"3", {"a", "b", "c", "d"}, "new", {"new", "a", "b", "d"}},
        {"12", nine, "new", {"new", "1", "2", "3", "4", "5", "6", "7", "8"}},
    };
    for (const auto& c : cases) {
        user.Clear();
        if (c.size) {
            user.SetString("recent_files", c.size);
        }
        for (size_t slot = 0; slot < c.before.size(); ++slot) {
            user.SetString(Slot(slot).c_str(), c.before[slot].c_str());
        }
        AddRecentFile(c.added);
        EXPECT_EQ(RecentFiles(), c.after) << c.added << " with " << (c.size ? c.size : "-");
    }
    EXPECT_EQ(user.GetInt("recent_files"), 9);
    // An entry passed in is copied before the list moves.
    AddRecentFile(user.GetString("recent_file3"));
    EXPECT_EQ(RecentFiles()[0], "2");
}

TEST(CustomColours, PresentKeysCompactAndReadAsHexadecimal) {
    GetUserSettings().SetString("color3", "FF8000");
    GetUserSettings().SetString("color9", "zz");
    GetUserSettings().SetString("color15", "0x10");
    LoadCustomColours();
    const uint32_t expected[] = {0xFF8000u, 0u, 0x10u, 0u};
    for (int index = 0; index < 4; ++index) {
        EXPECT_EQ(GetCustomColour(index), expected[index]) << index;
    }
}

} // namespace
} // namespace quarn
