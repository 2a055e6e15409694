#include "core/filesystem/DiskFileSystem.h"

#include "core/io/Scrambler.h"
#include "tests/support/TempFolder.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <minizip/zip.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quarn {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(File& file) {
    std::string text(file.GetSize(), '\0');
    text.resize(file.Read(text.data(), static_cast<uint32_t>(text.size())));
    return text;
}

bool PathExists(const std::string& path) {
    return fs::exists(fs::symlink_status(path));
}

// A zip archive at `path` holding the given (name, content) entries, deflated; scrambled as a
// whole when it is to be a ".zoo".
void WriteZip(const std::string& path,
              const std::vector<std::pair<std::string, std::string>>& entries,
              bool scrambled = false) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    for (const auto& [name, content] : entries) {
        ASSERT_EQ(zipOpenNewFileInZip64(zip, name.c_str(), nullptr, nullptr, 0, nullptr, 0, nullptr,
                                        Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0),
                  ZIP_OK);
        ASSERT_EQ(zipWriteInFileInZip(zip, content.data(), static_cast<unsigned>(content.size())),
                  ZIP_OK);
        ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
    if (scrambled) {
        std::ifstream input(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(input)),
                          std::istreambuf_iterator<char>());
        input.close();
        Scrambler scrambler;
        for (char& byte : bytes) {
            byte = static_cast<char>(scrambler.Scramble(static_cast<uint8_t>(byte)));
        }
        std::ofstream(path, std::ios::binary) << bytes;
    }
}

class DiskFileSystemTest : public ::testing::Test {
protected:
    void SetUp() override { files_.SetBaseFolder(temp_.Path().c_str()); }

    std::string Read(const char* path, uint32_t flags = 0) {
        std::unique_ptr<File> file = files_.Open(path, flags);
        return file ? ReadAll(*file) : std::string("<null>");
    }

    bool Write(const char* path, uint32_t flags, const std::string& content) {
        std::unique_ptr<OutputStream> stream = files_.OpenForWrite(path, flags);
        return stream &&
               stream->Write(content.data(), static_cast<uint32_t>(content.size())) ==
                   content.size() &&
               stream->Close();
    }

    std::string Locked(const char* name) {
        const std::string path = temp_.WriteFile(name, "old");
        chmod(path.c_str(), 0444);
        return path;
    }

    test::TempFolder temp_;
    DiskFileSystem files_;
};

// Paths --------------------------------------------------------------------------------------

TEST_F(DiskFileSystemTest, NativePathFollowsSchemesBaseFolderAndLeadingSlash) {
    files_.SetBaseFolder("D:\\game");
    EXPECT_STREQ(files_.GetBaseFolder(), "D:/game/");
    files_.SetUserFolder("D:/Users/u/AppData/Roaming/");
    const std::pair<const char*, const char*> cases[] = {
        {"user://Quarn/init.txt", "D:/Users/u/AppData/Roaming/Quarn/init.txt"},
        {"res://arial_8.png", "res://arial_8.png"},
        {"D:/x.txt", "D:/x.txt"},
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
    const std::string base = temp_.Join(std::string(150, 'd')) + "/";
    const std::string name(300 - base.size(), 'f');
    ASSERT_LT(base.size(), 259u);
    // The file a cut path would name.
    temp_.WriteFile(std::string(150, 'd') + "/" + std::string(259 - base.size(), 'f'), "other");
    files_.SetBaseFolder(base.c_str());
    PathString native;
    EXPECT_FALSE(files_.GetNativePath(native, name.c_str()));
    EXPECT_STREQ(native.Text(), "");
    EXPECT_EQ(files_.Open(name.c_str(), 0), nullptr);
    EXPECT_FALSE(files_.Exists(name.c_str()));
    EXPECT_EQ(files_.OpenForWrite(name.c_str(), WriteCreateFolders), nullptr);
    EXPECT_EQ(temp_.ReadFile(std::string(150, 'd') + "/" + std::string(259 - base.size(), 'f')),
              "other");
}

TEST_F(DiskFileSystemTest, BaseFolderPrefixIgnoresCase) {
    EXPECT_TRUE(DiskFileSystem().IsInBaseFolder("anything"));
    files_.SetBaseFolder("/Game/Data/");
    const char* path = "/game/DATA\\models/tree.mesh";
    EXPECT_TRUE(files_.IsInBaseFolder(path));
    EXPECT_STREQ(files_.GetRelativePath(path), "models/tree.mesh");
    EXPECT_FALSE(files_.IsInBaseFolder("/game/"));
    EXPECT_STREQ(files_.GetRelativePath("/other/x"), "/other/x");
}

TEST_F(DiskFileSystemTest, FolderPartIgnoresATrailingSlash) {
    EXPECT_STREQ(files_.GetFolderPart("a/b/c.txt").Text(), "a/b/");
    EXPECT_STREQ(files_.GetFolderPart("a/b/").Text(), "a/");
    EXPECT_STREQ(files_.GetFolderPart("c.txt").Text(), "");
}

TEST_F(DiskFileSystemTest, DefaultUserFolderFollowsXdgDataHomeThenHome) {
    const char* data = getenv("XDG_DATA_HOME");
    const char* home = getenv("HOME");
    const std::string savedData = data ? data : "", savedHome = home ? home : "";
    setenv("XDG_DATA_HOME", "/xdg/data", 1);
    EXPECT_EQ(DefaultUserFolder(), "/xdg/data/");
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(DefaultUserFolder(), "/home/u/.local/share/");
    if (data) {
        setenv("XDG_DATA_HOME", savedData.c_str(), 1);
    }
    if (home) {
        setenv("HOME", savedHome.c_str(), 1);
    } else {
        unsetenv("HOME");
    }
}

// Attributes and times -------------------------------------------------------------------------

TEST_F(DiskFileSystemTest, AttributesTellFoldersReadOnlyAndMissing) {
    temp_.WriteFile("plain.txt", "x");
    Locked("locked.txt");
    fs::create_directory(temp_.Join("folder"));
    EXPECT_EQ(files_.GetAttributes("plain.txt"), 0u);
    EXPECT_EQ(files_.GetAttributes("locked.txt"), FileReadOnly);
    EXPECT_EQ(files_.GetAttributes("folder"), FileDirectory);
    EXPECT_EQ(files_.GetAttributes("missing.txt"), FileMissing);
    EXPECT_FALSE(files_.Exists(""));
    EXPECT_FALSE(files_.Exists(nullptr));
    // Anything that exists counts as a folder.
    EXPECT_TRUE(files_.DirectoryExists("plain.txt"));
    EXPECT_TRUE(files_.DirectoryExists("folder/"));
    EXPECT_FALSE(files_.DirectoryExists("missing/"));
}

TEST_F(DiskFileSystemTest, EmbeddedNamesExistWithoutCaseAndReadOnly) {
    EXPECT_TRUE(files_.Exists("res://hello.TXT"));
    EXPECT_FALSE(files_.Exists("res://nothing.png"));
    EXPECT_EQ(files_.GetAttributes("res://Hello.txt"), FileReadOnly);
    EXPECT_EQ(Read("RES://HELLO.txt"), "embedded hello\n");
    EXPECT_EQ(files_.GetFileTime("res://Hello.txt"), 0u);
}

TEST_F(DiskFileSystemTest, HttpPathsAreReadOnlyAndNeverOpen) {
    EXPECT_EQ(files_.GetAttributes("http://h/x"), FileReadOnly);
    EXPECT_EQ(files_.Open("http://h/x", 0), nullptr);
    EXPECT_EQ(files_.OpenForWrite("http://h/x", WriteCreateFolders), nullptr);
}

TEST_F(DiskFileSystemTest, FileTimeIsNanosecondsOfTheLastWrite) {
    const std::string path = temp_.WriteFile("timed.txt", "x");
    timespec times[2] = {{1000000000, 5}, {1000000000, 5}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_EQ(files_.GetFileTime("timed.txt"), 1000000000000000005u);
    EXPECT_EQ(files_.GetFileTime("missing.txt"), 0u);
}

TEST_F(DiskFileSystemTest, OpeningAFolderForReadingFails) {
    fs::create_directory(temp_.Join("folder"));
    EXPECT_EQ(files_.Open("folder", 0), nullptr);
    EXPECT_TRUE(files_.OpenNativeFile(temp_.Join("folder").c_str())->IsDirectory());
}

// Names made on Windows -------------------------------------------------------------------------

TEST_F(DiskFileSystemTest, MixedCaseNamesOnDiskAreFoundWithoutCase) {
    const std::string path = temp_.WriteFile("Textures/Wall.PNG", "wall");
    timespec times[2] = {{2000, 0}, {2000, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
    EXPECT_EQ(Read("textures/wall.png"), "wall");
    EXPECT_EQ(Read("TEXTURES\\wall.png"), "wall");
    EXPECT_TRUE(files_.Exists("textures/WALL.png"));
    EXPECT_EQ(files_.GetFileTime("textures/wall.png"), 2000000000000u);
    EXPECT_EQ(Read((temp_.Path() + "/textures/wall.png").c_str(), OpenNative), "wall");
}

TEST_F(DiskFileSystemTest, CaseFallbackPicksTheFirstNameInByteOrder) {
    temp_.WriteFile("b.txt", "lower");
    temp_.WriteFile("B.txt", "upper");
    EXPECT_EQ(Read("b.TXT"), "upper");
    EXPECT_EQ(Read("b.txt"), "lower");
}

TEST_F(DiskFileSystemTest, WritesGoIntoAnExistingFolderWhoseCaseDiffers) {
    fs::create_directory(temp_.Join("Saves"));
    EXPECT_TRUE(Write("saves/slot.txt", WriteCreateFolders, "data"));
    EXPECT_EQ(temp_.ReadFile("Saves/slot.txt"), "data");
    EXPECT_FALSE(PathExists(temp_.Join("saves")));
}

// Writing -----------------------------------------------------------------------------------

TEST_F(DiskFileSystemTest, ReadOnlyFileIsWrittenOnlyWithTheClearFlag) {
    Locked("locked.txt");
    EXPECT_EQ(files_.OpenForWrite("locked.txt", WriteCreateFolders), nullptr);
    EXPECT_EQ(temp_.ReadFile("locked.txt"), "old");
    EXPECT_TRUE(Write("locked.txt", WriteClearReadOnly, "new"));
    EXPECT_EQ(temp_.ReadFile("locked.txt"), "new");
    EXPECT_EQ(files_.GetAttributes("locked.txt"), 0u);
}

TEST_F(DiskFileSystemTest, MissingFolderIsMadeOnlyWithTheCreateFlag) {
    EXPECT_EQ(files_.OpenForWrite("new/deep/file.txt", WriteClearReadOnly), nullptr);
    EXPECT_FALSE(PathExists(temp_.Join("new")));
    EXPECT_TRUE(Write("new/deep/file.txt", WriteCreateFolders, "made"));
    EXPECT_EQ(temp_.ReadFile("new/deep/file.txt"), "made");
}

TEST_F(DiskFileSystemTest, ArchivesAndEmbeddedFilesAreNeverWritten) {
    EXPECT_EQ(files_.OpenForWrite("res://Hello.txt", WriteCreateFolders), nullptr);
    EXPECT_EQ(files_.OpenForWrite("pack.zip/a.txt", WriteCreateFolders), nullptr);
    EXPECT_FALSE(PathExists(temp_.Join("pack.zip")));
}

// Folder helpers --------------------------------------------------------------------------------

TEST_F(DiskFileSystemTest, MakeDirectoriesDoesNotCreateTheLeaf) {
    files_.SetUserFolder((temp_.Path() + "/").c_str());
    EXPECT_TRUE(files_.MakeDirectories("user://Quarn/saves/slot1.txt"));
    EXPECT_TRUE(fs::is_directory(temp_.Join("Quarn/saves")));
    EXPECT_FALSE(PathExists(temp_.Join("Quarn/saves/slot1.txt")));
    EXPECT_TRUE(files_.MakeDirectory("user://Quarn"));
}

TEST_F(DiskFileSystemTest, CreateEmptyFileFailsWhenTheFileExists) {
    EXPECT_TRUE(files_.CreateEmptyFile("empty.txt"));
    EXPECT_FALSE(files_.CreateEmptyFile("empty.txt"));
    EXPECT_TRUE(files_.RemoveFile("EMPTY.txt"));
    EXPECT_FALSE(PathExists(temp_.Join("empty.txt")));
}

TEST_F(DiskFileSystemTest, CopyPutsAFileIntoAFolderUnderItsOwnName) {
    temp_.WriteFile("a.txt", "content");
    fs::create_directory(temp_.Join("dst"));
    EXPECT_TRUE(files_.Copy("a.txt", "dst/"));
    EXPECT_EQ(temp_.ReadFile("dst/a.txt"), "content");
    EXPECT_FALSE(files_.Copy("missing.txt", "dst/"));
}

TEST_F(DiskFileSystemTest, CopyOfAFolderCopiesLinksAsLinks) {
    temp_.WriteFile("outside/kept.txt", "kept");
    temp_.WriteFile("src/sub/g.txt", "g");
    fs::create_directory_symlink(temp_.Join("outside"), temp_.Join("src/link"));
    EXPECT_TRUE(files_.Copy("src", "dst"));
    EXPECT_EQ(temp_.ReadFile("dst/sub/g.txt"), "g");
    EXPECT_TRUE(fs::is_symlink(temp_.Join("dst/link")));
}

TEST_F(DiskFileSystemTest, CopyRefusesAFolderIntoItselfOrItsSubfolder) {
    temp_.WriteFile("src/sub/g.txt", "g");
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

// Archives ------------------------------------------------------------------------------------

TEST_F(DiskFileSystemTest, BaseFolderInsideAnArchiveReadsItsEntriesUnlessNative) {
    WriteZip(temp_.Join("data.zoo"), {{"config.txt", "from archive"}}, true);
    temp_.WriteFile("config.txt", "from disk");
    files_.SetBaseFolder(temp_.Join("data.zoo").c_str());
    EXPECT_EQ(Read("Config.TXT"), "from archive");
    EXPECT_TRUE(files_.Exists("config.txt"));
    EXPECT_FALSE(files_.Exists("other.txt"));
    EXPECT_EQ(files_.GetFileTime("config.txt"), 0u);
    EXPECT_EQ(files_.OpenForWrite("config.txt", WriteCreateFolders), nullptr);
    const fs::path saved = fs::current_path();
    fs::current_path(temp_.Path());
    const std::string native = Read("config.txt", OpenNative);
    fs::current_path(saved);
    EXPECT_EQ(native, "from disk");
}

TEST_F(DiskFileSystemTest, ArchiveSegmentIsFoundWithoutCase) {
    fs::create_directory(temp_.Join("textures"));
    WriteZip(temp_.Join("textures/a.zip"), {{"X.png", "pixels"}});
    EXPECT_EQ(Read("textures/A.ZIP/X.png"), "pixels");
    EXPECT_EQ(files_.GetAttributes("textures/A.ZIP/x.PNG"), 0u);
    EXPECT_EQ(files_.GetAttributes("textures/A.ZIP/y.png"), FileMissing);
}

} // namespace
} // namespace quarn
