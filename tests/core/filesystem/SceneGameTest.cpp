#include "core/filesystem/SceneGame.h"

#include "core/filesystem/DiskFileSystem.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/filesystem/SettingsFile.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempFolder.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

namespace fs = std::filesystem;

class SceneGameTest : public ::testing::Test {
protected:
    // Settings files are read through the program's file system.
    void SetUp() override {
        previous = GetFileSystem();
        SetFileSystem(&files);
        // The walk goes up to the disk's top: a stray settings file there would be every game's.
        ASSERT_FALSE(fs::exists(fs::path(home.Path()).parent_path() / "config.txt"));
        home.WriteFile(".bashrc", "mine");
        home.WriteFile("Downloads/evil/config.txt", "name = \"Evil\"\n");
        home.WriteFile("Downloads/evil/sub/config.txt", "");
    }

    void TearDown() override { SetFileSystem(previous); }

    // The game of a scene at a path below the home folder, the home written as "~".
    std::string GameOf(const std::string& scene, bool* configured = nullptr) {
        const SceneGame game = FindSceneGame(files, home.Join(scene));
        if (configured) {
            *configured = game.configured;
        }
        return test::Tilde(game.root, home);
    }

    test::TempFolder home;
    DiskFileSystem files;
    FileSystem* previous = nullptr;
};

// The nearest folder at or above the scene holding a "config.txt", else the scene's own; never
// a folder above that, however the path reaches the scene.
TEST_F(SceneGameTest, ASceneIsTheGameOfTheNearestFolderWithSettingsAtOrAboveIt) {
    fs::create_directory_symlink(home.Join("Downloads/evil"), home.Join("evil-link"));
    fs::create_directories(home.Join("Downloads/evil/levels/deep"));
    fs::create_directories(home.Join("notes"));
    // A link to a scene is the scene: its game is the one it lies in, not the link's folder.
    home.WriteFile("Downloads/evil/levels/w.scene", "");
    fs::create_symlink("../Downloads/evil/levels/w.scene", home.Join("notes/linked.scene"));
    fs::create_symlink(home.Join("notes/linked.scene"), home.Join("Downloads/evil/sub/l.scene"));
    const struct {
        const char* scene;
        const char* game;
        bool configured;
    } cases[] = {
        {"Downloads/evil/w.scene", "~/Downloads/evil/", true},
        {"Downloads/evil/levels/deep/w.scene", "~/Downloads/evil/", true},
        {"Downloads/evil/sub/w.scene", "~/Downloads/evil/sub/", true},
        {"Downloads/w.scene", "~/Downloads/", false},
        {"w.scene", "~/", false},
        {"notes/w.scene", "~/notes/", false},
        {"evil-link/w.scene", "~/Downloads/evil/", true},
        {"Downloads/evil/../w.scene", "~/Downloads/", false},
        {"Downloads/evil/sub/../../../notes/w.scene", "~/notes/", false},
        {"notes/linked.scene", "~/Downloads/evil/", true},
        {"Downloads/evil/sub/l.scene", "~/Downloads/evil/", true},
        {"evil-link/sub/l.scene", "~/Downloads/evil/", true},
    };
    // Whatever the reach in force: the scene is the user's to name.
    HoldGameReachAlways(true);
    files.SetGameRoot(home.Join("Downloads/evil/sub/").c_str());
    for (const auto& entry : cases) {
        bool configured = !entry.configured;
        EXPECT_EQ(GameOf(entry.scene, &configured), entry.game) << entry.scene;
        EXPECT_EQ(configured, entry.configured) << entry.scene;
    }
    HoldGameReachAlways(false);
    EXPECT_EQ(FolderGame(files, home.Path()), (SceneGame{home.Path() + "/", false}));
}

// Entering a game takes its settings, its reach and its own folder; "standalone" stays the
// run's, and a relative "resource_path" is taken from the game's folder, not the working one.
TEST_F(SceneGameTest, EnteringAGameTakesItsSettingsReachAndOwnFolder) {
    home.WriteFile("Downloads/evil/config.txt",
                   "name = \"Evil\"\nresource_path = \"art/\"\nstandalone = \"true\"\n");
    SettingsFile config;
    config.SetString("standalone", "false");
    config.SetString("autorun", "other.scene");
    EnterGame(files, FindSceneGame(files, home.Join("Downloads/evil/w.scene")), config,
              home.Join("data/"));
    EXPECT_EQ(test::Tilde(files.GetGameRoot(), home), "~/Downloads/evil/");
    EXPECT_FALSE(files.IsGameReadOnly());
    EXPECT_EQ(test::Tilde(files.GetBaseFolder(), home), "~/Downloads/evil/art/");
    EXPECT_EQ(test::Tilde(files.GetUserFolder(), home), "~/data/Quarn/games/Evil/");
    EXPECT_STREQ(config.GetString("standalone"), "false");
    EXPECT_FALSE(config.HasKey("autorun"));

    EnterGame(files, FindSceneGame(files, home.Join("w.scene")), config, home.Join("data/"));
    EXPECT_EQ(test::Tilde(files.GetGameRoot(), home), "~/");
    EXPECT_TRUE(files.IsGameReadOnly());
    EXPECT_EQ(test::Tilde(files.GetBaseFolder(), home), "~/");
    EXPECT_EQ(files.GetUserFolder(),
              home.Join("data/Quarn/games/") + fs::path(home.Path()).filename().string() + "/");
    EXPECT_EQ(config.GetCount(), 1);
}

// A game without settings is one for reading: while its scripts are at work every way of
// writing, copying over or removing beneath its folder fails and leaves the file as it was,
// with one line in the log, while user:// takes them; the engine's and the user's own work
// beneath it is no script's.
TEST_F(SceneGameTest, AGameForReadingWritesOnlyInItsUserFolderWhileItsScriptsRun) {
    SettingsFile config;
    EnterGame(files, FolderGame(files, home.Path()), config, home.Join("data/"));
    ASSERT_TRUE(files.IsGameReadOnly());
    files.MakeDirectories("user://");
    home.WriteFile("source", "payload");
    const struct {
        const char* name;
        std::function<bool(const std::string& path)> write;
    } writes[] = {
        {"OpenForWrite",
         [&](const std::string& path) {
             auto stream = files.OpenForWrite(path.c_str(), WriteCreateFolders);
             return stream && stream->Write("payload", 7) == 7 && stream->Close();
         }},
        {"Copy", [&](const std::string& path) { return files.Copy("source", path.c_str()); }},
        {"CopyCreatingFolders",
         [&](const std::string& path) {
             return files.CopyCreatingFolders("source", (path + ".c/in/copy").c_str());
         }},
        {"CreateEmptyFile",
         [&](const std::string& path) { return files.CreateEmptyFile((path + ".new").c_str()); }},
        {"RemoveFile", [&](const std::string& path) { return files.RemoveFile(path.c_str()); }},
        {"MakeDirectory",
         [&](const std::string& path) { return files.MakeDirectory((path + ".d").c_str()); }},
        {"MakeDirectories",
         [&](const std::string& path) { return files.MakeDirectories((path + ".e/f/").c_str()); }},
        {"RemoveFolder",
         [&](const std::string& path) { return files.RemoveFolder((path + ".g").c_str(), true); }},
        {"SetReadOnly",
         [&](const std::string& path) {
             return files.SetReadOnly(path.c_str(), FileReadOnly, FileReadOnly);
         }},
    };
    test::CapturingLogSink log;
    for (const auto& write : writes) {
        for (const std::string folder : {"", "user://"}) {
            const std::string native = folder.empty() ? home.Path() + "/" : files.GetUserFolder();
            home.WriteFile(test::Tilde(native, home).substr(2) + ".bashrc", "mine");
            fs::create_directories(native + ".bashrc.g");
            SetScriptRunning(true);
            const bool written = write.write(folder + ".bashrc");
            SetScriptRunning(false);
            EXPECT_EQ(written, !folder.empty()) << write.name << " " << folder;
            if (folder.empty()) {
                EXPECT_EQ(home.ReadFile(".bashrc"), "mine") << write.name;
                EXPECT_EQ(fs::status(home.Join(".bashrc")).permissions(),
                          fs::status(home.Join("source")).permissions())
                    << write.name;
                for (const char* made : {".new", ".c", ".d", ".e"}) {
                    EXPECT_FALSE(fs::exists(home.Join(std::string(".bashrc") + made)))
                        << write.name;
                }
                EXPECT_TRUE(fs::exists(home.Join(".bashrc.g"))) << write.name;
                EXPECT_EQ(LastFileFailure(), std::string(ReadOnlyGameReason)) << write.name;
                // Not the game's own doing: the user's save, an engine's file.
                EXPECT_TRUE(write.write(".bashrc")) << write.name;
            }
            for (const char* made : {"", ".new", ".c", ".d", ".e", ".g"}) {
                const fs::path path = native + ".bashrc" + made;
                if (fs::exists(path)) {
                    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
                }
                fs::remove_all(path);
            }
        }
    }
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(test::Tilde(log.Lines()[0].text, home),
              std::string("The game in '~/' is one for reading: ") + ReadOnlyGameReason);
}

} // namespace
} // namespace quarn
