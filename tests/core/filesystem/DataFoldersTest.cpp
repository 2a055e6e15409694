#include "core/filesystem/DataFolders.h"

#include "tests/support/ScopedEnvironment.h"

#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

TEST(DataFoldersTest, AGameNamesItsFolderByItsConfigElseByItsRoot) {
    const struct {
        const char* configName;
        const char* root;
        const char* folder;
    } cases[] = {
        {"Space Trip", "/games/trip/", "Space Trip"},
        {"", "/games/trip/", "trip"},
        {"", "/games/trip/data.zoo/", "trip"},
        {"", "/games/Pack.ZIP/", "Pack"},
        {"", "res://", "res"},
        {"../../x", "/games/trip/", "_.._.._x"},
        {".hidden", "/games/trip/", "_.hidden"},
        {"", "", "_"},
        {"caf\xe9/2", "/g/", "caf__2"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GameFolderName(c.configName, c.root), c.folder) << c.configName << c.root;
    }
    EXPECT_EQ(GameFolderName(std::string(300, 'n'), "").size(), 200u);
}

TEST(DataFoldersTest, EachGameLivesBelowTheEnginesFolderInTheDataHome) {
    test::ScopedEnvironment dataHome("XDG_DATA_HOME", "/tmp/data");
    EXPECT_EQ(DataHomeFolder(), "/tmp/data/");
    EXPECT_EQ(EngineDataFolder(DataHomeFolder()), "/tmp/data/Quarn/");
    EXPECT_EQ(GameDataFolder(DataHomeFolder(), "../trip"), "/tmp/data/Quarn/games/_.._trip/");
    test::ScopedEnvironment relative("XDG_DATA_HOME", "data");
    test::ScopedEnvironment home("HOME", "/home/u");
    EXPECT_EQ(DataHomeFolder(), "/home/u/.local/share/");
    EXPECT_EQ(GameDataFolder("", "trip"), "");
}

} // namespace
} // namespace quarn
