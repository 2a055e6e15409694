#include "core/filesystem/DataFolders.h"

#include "tests/support/ScopedEnvironment.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

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
        {"../../x", "/games/trip/", "%2E.%2F..%2Fx"},
        {".hidden", "/games/trip/", "%2Ehidden"},
        {"", "", "%"},
        {"caf\xe9/2", "/g/", "caf%E9%2F2"},
        {"Caf\xc3\xa9 \xe6\x97\x85", "/g/", "Caf\xc3\xa9 \xe6\x97\x85"},
        {"bell\x07\xc2\x85", "/g/", "bell%07%C2%85"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GameFolderName(c.configName, c.root), c.folder) << c.configName << c.root;
    }
    // A name past 200 bytes keeps its start, and ends in '~' and the whole name's SHA-256.
    EXPECT_EQ(GameFolderName(std::string(300, 'n'), "/g/"),
              std::string(135, 'n') +
                  "~230B077491957FB486227D8D66CC84EB751BC5475CC5C41E99D9B1CAF847732F");
}

// Names that were already plain keep the folder they had, so a game's saves stay found.
TEST(DataFoldersTest, APlainNameIsItsOwnFolder) {
    const std::vector<std::string> names = {
        "Space Trip", "trip",  "a_b", "x-1.2", "_..",        "_.hidden",           "_",
        "engine",     "games", "res", "Quarn", "trailing. ", std::string(200, 'n')};
    for (const std::string& name : names) {
        EXPECT_EQ(GameFolderName(name, "/g/"), name);
    }
}

// Each pair was once folded into one folder: two games would have shared their saves.
TEST(DataFoldersTest, NamesThatDifferGetFoldersThatDiffer) {
    const std::string nul("a\0b", 3);
    const std::string longName(300, 'n');
    const struct {
        std::string first;
        std::string second;
    } pairs[] = {
        {"a/b", "a_b"},
        {nul, "a\nb"},
        {nul, "a"},
        {"a\nb", "a"},
        {"a\nb", "a_b"},
        {"..", "_.."},
        {".", "_."},
        {".hidden", "_.hidden"},
        {"", "_"},
        {"a%2Fb", "a/b"},
        {"caf\xe9", "caf_"},
        {longName + "x", longName + "y"},
        {longName, std::string(200, 'n')},
        // Cut names whose 64-bit FNV-1a hashes meet, found in minutes by a cycle search.
        {std::string(190, 'n') + "5978f2e4793dcba6", std::string(190, 'n') + "4a226aacc5e75da9"},
    };
    for (const auto& pair : pairs) {
        EXPECT_NE(GameFolderName(pair.first, "/g/"), GameFolderName(pair.second, "/g/"))
            << pair.first << " | " << pair.second;
    }
}

// Every name, whatever its bytes, is one folder of its own below "games/": never the folder
// above, never split in two, never longer than a file system takes.
TEST(DataFoldersTest, EveryNameIsOneFolderOfItsOwn) {
    std::set<std::string> names = {"", "..", "...", "./", "//", "../..", "%25", "%2E"};
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        names.insert(std::string{c});
        names.insert(std::string{'a', c});
    }
    for (const size_t length : {199u, 200u, 201u, 255u, 600u}) {
        names.emplace(length, 'n');
        names.emplace(length, '/');
        names.insert(std::string(length - 1, 'n') + "\xc3\xa9");
    }
    std::set<std::string> folders;
    for (const std::string& name : names) {
        const std::string folder = GameFolderName(name, "");
        EXPECT_TRUE(folders.insert(folder).second) << "shared: " << folder;
        EXPECT_FALSE(folder.empty() || folder == "." || folder == "..") << folder;
        EXPECT_EQ(folder.find_first_of(std::string("/\0", 2)), std::string::npos) << folder;
        EXPECT_LE(folder.size(), 200u) << folder;
    }
}

TEST(DataFoldersTest, EachGameLivesBelowTheEnginesFolderInTheDataHome) {
    test::ScopedEnvironment dataHome("XDG_DATA_HOME", "/tmp/data");
    EXPECT_EQ(DataHomeFolder(), "/tmp/data/");
    EXPECT_EQ(EngineDataFolder(DataHomeFolder()), "/tmp/data/Quarn/");
    EXPECT_EQ(GameDataFolder(DataHomeFolder(), "../trip", "/g/"),
              "/tmp/data/Quarn/games/%2E.%2Ftrip/");
    EXPECT_EQ(GameDataFolder(DataHomeFolder(), "", "/games/a%b/"), "/tmp/data/Quarn/games/a%25b/");
    test::ScopedEnvironment relative("XDG_DATA_HOME", "data");
    test::ScopedEnvironment home("HOME", "/home/u");
    EXPECT_EQ(DataHomeFolder(), "/home/u/.local/share/");
    EXPECT_EQ(GameDataFolder("", "trip", ""), "");
}

} // namespace
} // namespace quarn
