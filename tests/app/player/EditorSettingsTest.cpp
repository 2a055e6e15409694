#include "app/player/EditorSettings.h"

#include "core/filesystem/SettingsFile.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

using Paths = std::vector<std::string>;

class EditorSettingsTest : public ::testing::Test {
protected:
    void SetList(const Paths& paths) {
        for (size_t slot = 0; slot < paths.size(); ++slot) {
            user.SetString(("recent_file" + std::to_string(slot + 1)).c_str(), paths[slot].c_str());
        }
    }
    Paths List() {
        Paths paths;
        for (char digit = '1'; user.HasKey(GetKeyWithDigit("recent_file", digit).c_str());
             ++digit) {
            paths.push_back(user.GetString(GetKeyWithDigit("recent_file", digit).c_str()));
        }
        return paths;
    }

    SettingsFile& user = GetUserSettings();
};

TEST_F(EditorSettingsTest, RecentFileMovesToTheFrontWithinTheListSize) {
    const Paths nine = {"1", "2", "3", "4", "5", "6", "7", "8", "9"};
    struct Case {
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
    for (const Case& test : cases) {
        user.Clear();
        if (test.size) {
            user.SetString("recent_files", test.size);
        }
        SetList(test.before);
        AddRecentFile(test.added);
        EXPECT_EQ(List(), test.after) << test.added << " with " << (test.size ? test.size : "-");
    }
    EXPECT_EQ(user.GetInt("recent_files"), 9);
    // An entry passed in is copied before the list moves.
    AddRecentFile(user.GetString("recent_file3"));
    EXPECT_EQ(List()[0], "2");
}

TEST_F(EditorSettingsTest, CustomColoursCompactAndReadAsHexadecimal) {
    user.SetString("color3", "FF8000");
    user.SetString("color9", "zz");
    user.SetString("color15", "0x10");
    LoadCustomColours();
    const uint32_t expected[] = {0xFF8000u, 0u, 0x10u, 0u};
    for (int index = 0; index < 4; ++index) {
        EXPECT_EQ(GetCustomColour(index), expected[index]) << index;
    }
}

} // namespace
} // namespace quarn
