#include "core/filesystem/GameSettings.h"

#include "core/filesystem/DiskFileSystem.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace quarn {
namespace {

class GameSettingsTest : public ::testing::Test {
protected:
    GameSettingsTest() : previous_(GetFileSystem()) {
        files_.SetBaseFolder(folder_.Join("game/").c_str());
        SetFileSystem(&files_);
    }
    ~GameSettingsTest() override { SetFileSystem(previous_); }

    // Makes the game's user folder "user/NAME/" (made on the disk) the file system's.
    void PlayGame(const std::string& name) {
        std::filesystem::create_directories(folder_.Join("user/" + name));
        files_.SetUserFolder(folder_.Join("user/" + name + "/").c_str());
    }
    std::string File(const std::string& game) const {
        return folder_.ReadFile("user/" + game + "/init.txt");
    }

    test::TempFolder folder_;
    DiskFileSystem files_;
    FileSystem* previous_;
    test::CapturingLogSink log_;
    GameSettings settings_;
};

TEST_F(GameSettingsTest, AGameKeepsItsSettingsInItsOwnFolderApartFromEveryOther) {
    PlayGame("a");
    EXPECT_EQ(settings_.Set("name", "ann"), "");
    EXPECT_EQ(File("a"), "name = \"ann\"\n");
    PlayGame("b");
    EXPECT_FALSE(settings_.Has("name"));
    EXPECT_EQ(settings_.Set("Name", "bob"), "");
    EXPECT_EQ(File("b"), "Name = \"bob\"\n");
    EXPECT_EQ(File("a"), "name = \"ann\"\n");
    PlayGame("a");
    EXPECT_STREQ(settings_.Get("NAME"), "ann");
}

// A refused change leaves the memory and the last whole file as they were; a value of the most
// a setting holds comes back whole from the disk.
TEST_F(GameSettingsTest, AValueAndTheFileEachHaveACapAndARefusalChangesNothing) {
    PlayGame("a");
    const std::string longest(GameSettings::MaxValueBytes, 'v');
    ASSERT_EQ(settings_.Set("kept", longest.c_str()), "");
    const std::string saved = File("a");
    const struct {
        std::string key;
        std::string value;
        const char* reason;
    } refused[] = {
        {"kept", longest + "v", "a value of 256 bytes is longer than the 255 bytes"},
        {"new", std::string(70000, 'v'), "a value of 70000 bytes is longer than the 255 bytes"},
        {"kept", "say \"hi\"", "the value of \"kept\" cannot be kept"},
        {"kept", "two\nlines", "the value of \"kept\" cannot be kept"},
        {"kept", "a\rb", "the value of \"kept\" cannot be kept"},
        {"", "v", "the key \"\" cannot be kept"},
        {"1a", "v", "the key \"1a\" cannot be kept"},
        {"a b", "v", "the key \"a b\" cannot be kept"},
        {"a=b", "v", "the key \"a=b\" cannot be kept"},
        // Cut to the 63 bytes the file keeps, it would be another key.
        {std::string(64, 'k'), "v", "a key of 64 bytes is longer than the 63 bytes"},
    };
    for (const auto& change : refused) {
        const std::string reason = settings_.Set(change.key.c_str(), change.value.c_str());
        EXPECT_NE(reason.find(change.reason), std::string::npos) << reason;
        EXPECT_EQ(settings_.Get("kept"), longest) << change.reason;
        EXPECT_FALSE(settings_.Has("new"));
        EXPECT_EQ(File("a"), saved) << change.reason;
    }
    PlayGame("b");
    PlayGame("a");
    EXPECT_EQ(settings_.Get("kept"), longest);
    // The longest key holds; one byte more finds nothing rather than that key.
    const std::string longestKey(GameSettings::MaxKeyBytes, 'k');
    ASSERT_EQ(settings_.Set(longestKey.c_str(), "63"), "");
    PlayGame("b");
    PlayGame("a");
    EXPECT_STREQ(settings_.Get(longestKey.c_str()), "63");
    EXPECT_FALSE(settings_.Has((longestKey + "x").c_str()));
    EXPECT_STREQ(settings_.Get((longestKey + "x").c_str()), "");

    // Beside the first line's 265 bytes, 245 lines of 5 + 6 + 255 fill 64 KiB but for 101.
    std::string full = saved;
    for (int line = 0; line < 245; ++line) {
        full.append("k").append(std::to_string(1000 + line)).append(" = \"" + longest + "\"\n");
    }
    folder_.WriteFile("user/b/init.txt", full);
    PlayGame("b");
    const std::string reason = settings_.Set("k1245", longest.c_str());
    EXPECT_NE(reason.find("would take 65701 bytes, more than the 65536 bytes their file may hold"),
              std::string::npos)
        << reason;
    EXPECT_EQ(File("b"), full);
    // What is there may still change within the cap.
    EXPECT_EQ(settings_.Set("k1000", "short"), "");
    EXPECT_EQ(settings_.Set("k9999", "x"), "");
    PlayGame("a");
    PlayGame("b");
    EXPECT_STREQ(settings_.Get("k1000"), "short");
    EXPECT_STREQ(settings_.Get("k9999"), "x");
    EXPECT_EQ(settings_.Get("k1244"), longest);
    EXPECT_LE(File("b").size(), GameSettings::MaxFileBytes);
}

// Two processes of one game each save what they change over what the other saved since, and
// read the other's keys from then on.
TEST_F(GameSettingsTest, TwoStoresOfOneGameKeepEachOthersKeys) {
    PlayGame("a");
    GameSettings other;
    ASSERT_EQ(settings_.Set("mine", "1"), "");
    ASSERT_EQ(other.Set("theirs", "2"), "");
    ASSERT_EQ(settings_.Set("Theirs", "3"), "");
    ASSERT_EQ(other.Set("later", "4"), "");
    EXPECT_EQ(File("a"), "later = \"4\"\nmine = \"1\"\ntheirs = \"3\"\n");
    EXPECT_STREQ(other.Get("mine"), "1");
    // What a store set in memory goes with its next save, over the other's.
    ASSERT_EQ(other.Set("lang_code", "fr", false), "");
    ASSERT_EQ(settings_.Set("mine", "5"), "");
    ASSERT_EQ(other.Set("later", "4"), "");
    EXPECT_EQ(File("a"), "lang_code = \"fr\"\nlater = \"4\"\nmine = \"5\"\ntheirs = \"3\"\n");
}

// Processes that save at the same moments: the lock keeps each read and write of a save
// together, so every key of both arrives.
TEST_F(GameSettingsTest, ProcessesSavingAtOnceLoseNoKey) {
    PlayGame("a");
    constexpr int Saves = 40;
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
        children[child] = fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0) {
            GameSettings settings;
            for (int save = 0; save < Saves; ++save) {
                const std::string key =
                    std::string("p") + std::to_string(child) + "_" + std::to_string(save);
                if (!settings.Set(key.c_str(), "v").empty()) {
                    _exit(1);
                }
            }
            _exit(0);
        }
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    SettingsFile saved;
    ASSERT_TRUE(saved.Load(GameSettings::Path, false));
    EXPECT_EQ(saved.GetCount(), 2 * Saves);
}

TEST_F(GameSettingsTest, TheFileIsWrittenOnlyWhenTheSettingsChange) {
    PlayGame("a");
    ASSERT_EQ(settings_.Set("a", "1"), "");
    EXPECT_EQ(settings_.GetLastSaveSize(), 8u);
    folder_.WriteFile("user/a/init.txt", "marker");
    for (const char* key : {"a", "A"}) {
        EXPECT_EQ(settings_.Set(key, "1"), "");
        EXPECT_EQ(settings_.GetLastSaveSize(), 0u);
    }
    EXPECT_EQ(File("a"), "marker");
    ASSERT_EQ(settings_.Set("a", "2"), "");
    EXPECT_EQ(File("a"), "a = \"2\"\n");
    // A change made in memory only goes with the next save, even one of an unchanged value.
    ASSERT_EQ(settings_.Set("lang_code", "fr", false), "");
    EXPECT_EQ(File("a"), "a = \"2\"\n");
    ASSERT_EQ(settings_.Set("a", "2"), "");
    EXPECT_EQ(File("a"), "a = \"2\"\nlang_code = \"fr\"\n");
}

TEST_F(GameSettingsTest, AFailedSaveIsLoggedAndMadeAgainAtTheNextCall) {
    files_.SetUserFolder(folder_.Join("gone/").c_str());
    EXPECT_EQ(settings_.Set("a", "1"), "");
    EXPECT_TRUE(log_.Contains("Setting \"a\" is not saved to " + folder_.Join("gone/init.txt") +
                              ": No such file or directory"));
    EXPECT_STREQ(settings_.Get("a"), "1");
    std::filesystem::create_directory(folder_.Join("gone"));
    EXPECT_EQ(settings_.Set("a", "1"), "");
    EXPECT_EQ(folder_.ReadFile("gone/init.txt"), "a = \"1\"\n");
}

// Without a user folder, "user://" would name the current folder.
TEST_F(GameSettingsTest, WithoutAUserFolderTheSettingsLastForTheRunOnly) {
    files_.SetUserFolder("");
    EXPECT_EQ(settings_.Set("a", "1"), "");
    EXPECT_STREQ(settings_.Get("a"), "1");
    EXPECT_EQ(settings_.GetLastSaveSize(), 0u);
    EXPECT_FALSE(std::filesystem::exists("init.txt"));
    EXPECT_FALSE(std::filesystem::exists(folder_.Join("game/init.txt")));
}

} // namespace
} // namespace quarn
