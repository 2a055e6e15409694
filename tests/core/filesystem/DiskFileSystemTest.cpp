#include "core/filesystem/DiskFileSystem.h"

#include "core/filesystem/ScriptFileAccess.h"
#include "tests/support/OpenWays.h"
#include "tests/support/StoredBytes.h"
#include "tests/support/TempFolder.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <utility>

namespace quarn {
namespace {

namespace fs = std::filesystem;

bool PathExists(const std::string& path) {
    return fs::exists(fs::symlink_status(path));
}

class DiskFileSystemTest : public ::testing::Test {
protected:
    void SetUp() override { files_.SetBaseFolder(temp_.Path().c_str()); }

    std::string Read(const char* path, uint32_t flags = 0) {
        std::unique_ptr<File> file = files_.Open(path, flags);
        if (!file) {
            return "<null>";
        }
        std::string text(file->GetSize(), '\0');
        text.resize(file->Read(text.data(), static_cast<uint32_t>(text.size())));
        return text;
    }

    bool Write(const char* path, uint32_t flags, const std::string& content) {
        std::unique_ptr<OutputStream> stream = files_.OpenForWrite(path, flags);
        return stream &&
               stream->Write(content.data(), static_cast<uint32_t>(content.size())) ==
                   content.size() &&
               stream->Close();
    }

    void SetTime(const std::string& path, time_t seconds, long nanoseconds = 0) {
        timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }

    test::TempFolder temp_;
    DiskFileSystem files_;
};

TEST_F(DiskFileSystemTest, NativePathFollowsSchemesBaseFolderAndLeadingSlash) {
    files_.SetBaseFolder("D:\\game");
    EXPECT_STREQ(files_.GetBaseFolder(), "D:/game/");
    files_.SetUserFolder("D:/Users/u/AppData/Roaming/");
    const std::pair<const char*, const char*> cases[] = {
        {"user://Quarn/init.txt", "D:/Users/u/AppData/Roaming/Quarn/init.txt"},
        {"res://arial_8.png", "res://arial_8.png"},
        {"/home/u/x.txt", "/home/u/x.txt"},
        {"a\\b.png", "D:/game/a/b.png"},
    };
    for (const auto& [path, expected] : cases) {
        PathString native;
        EXPECT_TRUE(files_.GetNativePath(native, path));
        EXPECT_STREQ(native.Text(), expected);
    }
    files_.SetBaseFolder("");
    EXPECT_STREQ(files_.GetBaseFolder(), "");
}

TEST_F(DiskFileSystemTest, NativePathTooLongForAPathStringFailsInsteadOfBeingCut) {
    const std::string folder(150, 'd');
    const std::string base = temp_.Join(folder) + "/";
    const std::string name(300 - base.size(), 'f');
    ASSERT_LT(base.size(), 259u);
    // The file a cut path would name.
    const std::string cut = folder + "/" + std::string(259 - base.size(), 'f');
    temp_.WriteFile(cut, "other");
    files_.SetBaseFolder(base.c_str());
    PathString native;
    EXPECT_FALSE(files_.GetNativePath(native, name.c_str()));
    EXPECT_EQ(files_.Open(name.c_str(), 0), nullptr);
    EXPECT_EQ(files_.OpenForWrite(name.c_str(), WriteCreateFolders), nullptr);
    EXPECT_EQ(temp_.ReadFile(cut), "other");
}

TEST_F(DiskFileSystemTest, AttributesAndTimesTellFoldersReadOnlyEmbeddedAndMissing) {
    temp_.WriteFile("plain.txt", "x");
    chmod(temp_.WriteFile("locked.txt", "old").c_str(), 0444);
    fs::create_directory(temp_.Join("folder"));
    const std::pair<const char*, uint32_t> cases[] = {
        {"plain.txt", 0},
        {"locked.txt", FileReadOnly},
        {"folder", FileDirectory},
        {"missing.txt", FileMissing},
        {"res://Hello.txt", FileReadOnly},
        {"http://h/x", FileReadOnly},
    };
    for (const auto& [path, attributes] : cases) {
        EXPECT_EQ(files_.GetAttributes(path), attributes) << path;
    }
    // A folder does not open for reading; embedded names are found without case.
    EXPECT_EQ(files_.Open("folder", 0), nullptr);
    EXPECT_EQ(Read("RES://HELLO.txt"), "embedded hello\n");
    // The file time is the nanoseconds of the last write.
    SetTime(temp_.Join("plain.txt"), 1000000000, 5);
    EXPECT_EQ(files_.GetFileTime("plain.txt"), 1000000000000000005u);
    EXPECT_EQ(files_.GetFileTime("missing.txt"), 0u);
    // The start-up's last resource root: relative paths are embedded names.
    files_.SetBaseFolder("res://");
    EXPECT_EQ(Read("Hello.txt"), "embedded hello\n");
}

TEST_F(DiskFileSystemTest, MixedCaseNamesOnDiskAreFoundWithoutCaseTheFirstInByteOrderWinning) {
    SetTime(temp_.WriteFile("Textures/Wall.PNG", "wall"), 2000);
    EXPECT_EQ(Read("textures/wall.png"), "wall");
    EXPECT_EQ(Read("TEXTURES\\wall.png"), "wall");
    EXPECT_EQ(files_.GetFileTime("textures/wall.png"), 2000000000000u);
    temp_.WriteFile("b.txt", "lower");
    temp_.WriteFile("B.txt", "upper");
    EXPECT_EQ(Read("b.TXT"), "upper");
    EXPECT_EQ(Read("b.txt"), "lower");
    // Writes go into an existing folder whose case differs.
    fs::create_directory(temp_.Join("Saves"));
    EXPECT_TRUE(Write("saves/slot.txt", WriteCreateFolders, "data"));
    EXPECT_EQ(temp_.ReadFile("Saves/slot.txt"), "data");
    EXPECT_FALSE(PathExists(temp_.Join("saves")));
}

TEST_F(DiskFileSystemTest, WritesNeedTheirFlagsAndNeverReachArchivesOrEmbeddedFiles) {
    // A read-only file is written only with the clear flag.
    chmod(temp_.WriteFile("locked.txt", "old").c_str(), 0444);
    EXPECT_EQ(files_.OpenForWrite("locked.txt", WriteCreateFolders), nullptr);
    EXPECT_EQ(temp_.ReadFile("locked.txt"), "old");
    EXPECT_TRUE(Write("locked.txt", WriteClearReadOnly, "new"));
    EXPECT_EQ(temp_.ReadFile("locked.txt"), "new");
    // A missing folder is made only with the create flag.
    EXPECT_EQ(files_.OpenForWrite("new/deep/file.txt", WriteClearReadOnly), nullptr);
    EXPECT_FALSE(PathExists(temp_.Join("new")));
    EXPECT_TRUE(Write("new/deep/file.txt", WriteCreateFolders, "made"));
    EXPECT_EQ(temp_.ReadFile("new/deep/file.txt"), "made");
    EXPECT_EQ(files_.OpenForWrite("res://Hello.txt", WriteCreateFolders), nullptr);
    EXPECT_EQ(files_.OpenForWrite("pack.zip/a.txt", WriteCreateFolders), nullptr);
    EXPECT_FALSE(PathExists(temp_.Join("pack.zip")));
}

TEST_F(DiskFileSystemTest, CopyTakesFilesIntoFoldersAndLinksAsLinksButNeverAFolderIntoItself) {
    temp_.WriteFile("a.txt", "content");
    fs::create_directory(temp_.Join("dst"));
    EXPECT_TRUE(files_.Copy("a.txt", "dst/"));
    EXPECT_EQ(temp_.ReadFile("dst/a.txt"), "content");
    EXPECT_FALSE(files_.Copy("missing.txt", "dst/"));
    temp_.WriteFile("outside/kept.txt", "kept");
    temp_.WriteFile("src/sub/g.txt", "g");
    fs::create_directory_symlink(temp_.Join("outside"), temp_.Join("src/link"));
    EXPECT_TRUE(files_.Copy("src", "copy"));
    EXPECT_EQ(temp_.ReadFile("copy/sub/g.txt"), "g");
    EXPECT_TRUE(fs::is_symlink(temp_.Join("copy/link")));
    EXPECT_FALSE(files_.Copy("src", "src/sub/copy"));
    EXPECT_FALSE(files_.Copy("src", "SRC/"));
    EXPECT_FALSE(PathExists(temp_.Join("src/sub/copy")));
}

TEST_F(DiskFileSystemTest, RemovingATreeLeavesWhatLinksPointAtAndRefusesALinkAsTheTree) {
    temp_.WriteFile("outside/kept.txt", "kept");
    const std::string outsideFile = temp_.WriteFile("lone.txt", "lone");
    temp_.WriteFile("tree/sub/f.txt", "f");
    fs::create_directory_symlink(temp_.Join("outside"), temp_.Join("tree/sub/folderLink"));
    fs::create_symlink(outsideFile, temp_.Join("tree/fileLink"));
    fs::create_directory_symlink(temp_.Join("outside"), temp_.Join("link"));
    EXPECT_FALSE(DiskFileSystem::DeleteTree(temp_.Join("link").c_str()));
    EXPECT_TRUE(files_.RemoveFolder("tree", true));
    EXPECT_FALSE(PathExists(temp_.Join("tree")));
    EXPECT_EQ(temp_.ReadFile("outside/kept.txt"), "kept");
    EXPECT_EQ(temp_.ReadFile("lone.txt"), "lone");
}

TEST_F(DiskFileSystemTest, ArchivesAreFoundWithoutCaseAndABaseFolderInsideOneReadsItsEntries) {
    temp_.WriteFile("textures/a.zip", test::MakeZip({{"X.png", "pixels"}}));
    EXPECT_EQ(Read("textures/A.ZIP/X.png"), "pixels");
    EXPECT_EQ(files_.GetAttributes("textures/A.ZIP/y.png"), FileMissing);
    temp_.WriteFile("data.zoo", test::Scrambled(test::MakeZip({{"config.txt", "from archive"}})));
    temp_.WriteFile("config.txt", "from disk");
    files_.SetBaseFolder(temp_.Join("data.zoo").c_str());
    EXPECT_EQ(Read("Config.TXT"), "from archive");
    EXPECT_FALSE(files_.Exists("other.txt"));
    EXPECT_EQ(files_.OpenForWrite("config.txt", WriteCreateFolders), nullptr);
    // Unless the path is native.
    const fs::path saved = fs::current_path();
    fs::current_path(temp_.Path());
    const std::string native = Read("config.txt", OpenNative);
    fs::current_path(saved);
    EXPECT_EQ(native, "from disk");
}

} // namespace
} // namespace quarn

namespace quarn {
namespace {

// A game folder and its user folder, with a folder outside both, and the game's reach held as
// the player holds it.
class HeldDiskFileSystemTestBase : public ::testing::Test {
protected:
    void SetUp() override {
        temp_.WriteFile("game/a.txt", "a");
        temp_.WriteFile("user/save.txt", "save");
        temp_.WriteFile("outside/victim.txt", "victim");
        files_.SetBaseFolder(temp_.Join("game").c_str());
        files_.SetUserFolder(temp_.Join("user/").c_str());
    }
    void Link(const std::string& target, const std::string& link) {
        fs::create_symlink(target, temp_.Join(link));
    }
    std::string Read(const char* path) {
        std::unique_ptr<File> file = files_.Open(path, 0);
        if (!file) {
            return std::string("<null: ") + LastFileFailure() + ">";
        }
        std::string text(file->GetSize(), '\0');
        text.resize(file->Read(text.data(), static_cast<uint32_t>(text.size())));
        return text;
    }

    test::TempFolder temp_;
    DiskFileSystem files_;
    GameReachHold hold_{true};
};

class HeldDiskFileSystemTest : public test::WithOpenWays<HeldDiskFileSystemTestBase> {};
QUARN_BOTH_OPEN_WAYS(HeldDiskFileSystemTest);

TEST_P(HeldDiskFileSystemTest, EveryOperationStaysInsideTheGameAndItsUserFolder) {
    Link("../outside", "game/out");
    Link(temp_.Join("outside/victim.txt"), "user/away.txt");
    const std::string refused = std::string("<null: ") + OutsideGameReason + ">";
    EXPECT_EQ(Read("a.txt"), "a");
    EXPECT_EQ(Read("user://save.txt"), "save");
    EXPECT_EQ(Read("../outside/victim.txt"), refused);
    EXPECT_EQ(Read("out/victim.txt"), refused);
    EXPECT_EQ(Read("user://away.txt"), refused);
    EXPECT_EQ(Read(temp_.Join("outside/victim.txt").c_str()), refused);
    EXPECT_FALSE(files_.Exists("out/victim.txt"));
    EXPECT_EQ(files_.GetFileTime("out/victim.txt"), 0u);
    EXPECT_EQ(files_.OpenForWrite("out/victim.txt", WriteCreateFolders), nullptr);
    EXPECT_EQ(files_.OpenForWrite("user://away.txt", 0), nullptr);
    EXPECT_FALSE(files_.CreateEmptyFile("out/new.txt"));
    EXPECT_FALSE(files_.MakeDirectory("out/new"));
    EXPECT_FALSE(files_.MakeDirectories("out/deeper/new.txt"));
    EXPECT_FALSE(files_.RemoveFile("out/victim.txt"));
    EXPECT_FALSE(files_.SetReadOnly("out/victim.txt", FileReadOnly, FileReadOnly));
    EXPECT_FALSE(files_.Copy("out/victim.txt", "copied.txt"));
    EXPECT_EQ(files_.OpenNativeFile(temp_.Join("outside").c_str())->ListFolder(), 0);
    EXPECT_EQ(files_.OpenNativeFile(temp_.Join("game").c_str())->ListFolder(), 2);
    EXPECT_EQ(temp_.ReadFile("outside/victim.txt"), "victim");
    for (const char* made : {"new.txt", "new", "deeper"}) {
        EXPECT_FALSE(fs::exists(temp_.Join("outside/") + made)) << made;
    }
}

TEST_P(HeldDiskFileSystemTest, AListedLinkIsAFolderOnlyWhenItLeadsToOneInside) {
    temp_.WriteFile("game/sub/f.txt", "f");
    Link("sub", "game/in");
    Link("../outside", "game/out");
    std::unique_ptr<File> game = files_.OpenNativeFile(temp_.Join("game").c_str());
    ASSERT_EQ(game->ListFolder(), 4);
    const struct {
        const char* name;
        bool isFolder;
    } expected[] = {{"a.txt", false}, {"in", true}, {"out", false}, {"sub", true}};
    for (int index = 0; index < 4; ++index) {
        std::unique_ptr<File> child = game->GetChild(index);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(child->GetName(), temp_.Join("game/") + expected[index].name);
        EXPECT_EQ(child->IsDirectory(), expected[index].isFolder) << expected[index].name;
    }
}

TEST_P(HeldDiskFileSystemTest, ACopyNeverWritesThroughALinkNorMakesOneLeadingOut) {
    temp_.WriteFile("game/src/victim.txt", "new");
    temp_.WriteFile("game/src2/sub/f.txt", "f");
    temp_.WriteFile("game/a/b/file.txt", "file");
    temp_.WriteFile("game/inside.txt", "inside");
    temp_.WriteFile("outside/folder/kept.txt", "kept");
    fs::create_directory(temp_.Join("game/dst"));
    fs::create_directory(temp_.Join("game/dst2"));
    Link(temp_.Join("outside/victim.txt"), "game/dst/victim.txt");
    Link(temp_.Join("outside/folder"), "game/dst2/sub");
    Link("../../inside.txt", "game/a/b/near"); // inside, one level further out than a copy
    Link("file.txt", "game/a/b/sibling");      // inside the copy too
    Link("../../outside/victim.txt", "game/a/b/far");
    EXPECT_TRUE(files_.Copy("src", "dst"));
    EXPECT_FALSE(fs::is_symlink(temp_.Join("game/dst/victim.txt")));
    EXPECT_EQ(temp_.ReadFile("game/dst/victim.txt"), "new");
    Link(temp_.Join("outside/victim.txt"), "game/dst/again.txt");
    EXPECT_TRUE(files_.Copy("src/victim.txt", "dst/again.txt"));
    EXPECT_EQ(temp_.ReadFile("game/dst/again.txt"), "new");
    EXPECT_TRUE(files_.Copy("src2", "dst2"));
    EXPECT_EQ(temp_.ReadFile("game/dst2/sub/f.txt"), "f");
    EXPECT_FALSE(fs::exists(temp_.Join("outside/folder/f.txt")));
    // One level up, "near" would point out of the game: it is left out, and the copy says so.
    EXPECT_FALSE(files_.Copy("a/b", "c"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(temp_.Join("game/c/near"))));
    EXPECT_FALSE(fs::exists(fs::symlink_status(temp_.Join("game/c/far"))));
    EXPECT_EQ(fs::read_symlink(temp_.Join("game/c/sibling")), "file.txt");
    EXPECT_EQ(temp_.ReadFile("game/c/file.txt"), "file");
    EXPECT_EQ(temp_.ReadFile("outside/victim.txt"), "victim");
    // The same copy a level deeper keeps every link that stays inside.
    EXPECT_FALSE(files_.Copy("a/b", "a/c"));
    EXPECT_EQ(fs::read_symlink(temp_.Join("game/a/c/near")), "../../inside.txt");
}

TEST_P(HeldDiskFileSystemTest, PipesAndDevicesAreRefusedAtOnce) {
    ASSERT_EQ(mkfifo(temp_.Join("game/pipe").c_str(), 0644), 0);
    EXPECT_EQ(files_.Open("pipe", 0), nullptr);
    EXPECT_FALSE(files_.Copy("pipe", "copy"));
    const EngineFilesScope unheld;
    DiskFileSystem anywhere;
    EXPECT_EQ(anywhere.Open(temp_.Join("game/pipe").c_str(), 0), nullptr);
    EXPECT_EQ(anywhere.Open("/dev/zero", 0), nullptr);
}

} // namespace
} // namespace quarn
