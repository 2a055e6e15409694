#include "tools/GamePacker.h"

#include "core/filesystem/DiskFileSystem.h"
#include "core/filesystem/FileSystem.h"
#include "tests/support/TempFolder.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <minizip/unzip.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quarn {
namespace {

namespace fs = std::filesystem;

// Every entry of a zip on disk, by name, with its bytes.
std::map<std::string, std::string> ArchiveEntries(const std::string& path) {
    std::map<std::string, std::string> entries;
    unzFile zip = unzOpen64(path.c_str());
    EXPECT_NE(zip, nullptr) << path;
    if (!zip) {
        return entries;
    }
    std::vector<char> name(65536);
    for (int at = unzGoToFirstFile(zip); at == UNZ_OK; at = unzGoToNextFile(zip)) {
        unz_file_info64 info;
        unzGetCurrentFileInfo64(zip, &info, name.data(), name.size(), nullptr, 0, nullptr, 0);
        std::string bytes(info.uncompressed_size, '\0');
        if (!bytes.empty() && unzOpenCurrentFile(zip) == UNZ_OK) {
            unzReadCurrentFile(zip, bytes.data(), static_cast<unsigned>(bytes.size()));
            unzCloseCurrentFile(zip);
        }
        entries[std::string(name.data(), info.size_filename)] = bytes;
    }
    unzClose(zip);
    return entries;
}

class GamePackerTest : public ::testing::Test {
protected:
    void SetUp() override {
        files_.SetBaseFolder(temp_.Path().c_str());
        previous_ = GetFileSystem();
        SetFileSystem(&files_);
    }
    void TearDown() override { SetFileSystem(previous_); }

    void Link(const std::string& target, const std::string& at) {
        fs::create_symlink(target, temp_.Join(at));
    }

    test::TempFolder temp_;
    DiskFileSystem files_;
    FileSystem* previous_ = nullptr;
};

// What the player cannot reach from the game is not packed: links out of the folder, relative
// or absolute, to a file or a folder (the secret, the machine's name, the packer's own
// environment), links that lead nowhere or back up, and a pipe that would never end.
TEST_F(GamePackerTest, OnlyWhatThePlayerReachesBelowTheFolderIsPacked) {
    temp_.WriteFile("outside/secret.txt", "secret");
    temp_.WriteFile("outside/folder/inner.txt", "inner");
    temp_.WriteFile("game/a.txt", "a");
    temp_.WriteFile("game/art/dot.txt", "dot");
    Link("../outside/secret.txt", "game/secret");
    Link("../../outside/folder", "game/art/folder");
    Link("/etc/hostname", "game/host");
    Link("/", "game/disk");
    Link("/proc/self/environ", "game/environ");
    Link("../../../../../../../../../../../../proc/self/environ", "game/climbing");
    Link(temp_.Join("game/a.txt"), "game/absolute-inside");
    Link("missing.txt", "game/dangling");
    Link("..", "game/art/up");
    Link("a.txt", "game/copy.txt");
    Link("art", "game/pictures");
    ASSERT_EQ(mkfifo(temp_.Join("game/pipe").c_str(), 0644), 0);

    std::string error;
    std::vector<std::string> skipped;
    ASSERT_TRUE(PackFolder(temp_.Join("game"), temp_.Join("out.zip"), error, skipped)) << error;
    for (std::string& line : skipped) {
        line = test::Tilde(line, temp_);
    }
    const std::map<std::string, std::string> expected = {
        {"a.txt", "a"},    {"art/", ""},      {"art/dot.txt", "dot"},
        {"copy.txt", "a"}, {"pictures/", ""}, {"pictures/dot.txt", "dot"},
    };
    EXPECT_EQ(ArchiveEntries(temp_.Join("out.zip")), expected);
    const std::vector<std::string> lines = {
        "~/game/absolute-inside: it leads outside ~/game",
        "~/game/art/folder: it leads outside ~/game",
        "~/game/art/up: it leads back into a folder that holds it",
        "~/game/climbing: it leads outside ~/game",
        "~/game/dangling: it leads nowhere",
        "~/game/disk: it leads outside ~/game",
        "~/game/environ: it leads outside ~/game",
        "~/game/host: it leads outside ~/game",
        "~/game/pictures/folder: it leads outside ~/game",
        "~/game/pictures/up: it leads back into a folder that holds it",
        "~/game/pipe: it is no regular file",
        "~/game/secret: it leads outside ~/game",
    };
    EXPECT_EQ(skipped, lines);
}

// Files of the kernel's kind claim no size and still hold bytes: what is read decides.
TEST_F(GamePackerTest, AFileThatClaimsNoSizeKeepsTheBytesItHolds) {
    const std::string kernel = "/proc/sys/kernel/random";
    struct stat info;
    if (stat((kernel + "/poolsize").c_str(), &info) != 0 || info.st_size != 0) {
        GTEST_SKIP() << kernel << " is not there as the kernel keeps it";
    }
    std::string error;
    std::vector<std::string> skipped;
    ASSERT_TRUE(PackFolder(kernel, temp_.Join("random.zip"), error, skipped)) << error;
    const std::map<std::string, std::string> entries = ArchiveEntries(temp_.Join("random.zip"));
    ASSERT_EQ(entries.count("poolsize"), 1u);
    for (const auto& [name, bytes] : entries) {
        EXPECT_TRUE(bytes.ends_with('\n')) << name;
    }
}

// Four thousand folders one in another pack whole: every level is an entry, and the small file
// at the bottom keeps its size and bytes, where a path past the system's limit once read as a
// size of -1.
TEST_F(GamePackerTest, ADeepTreePacksEveryLevelAndTheFileAtTheBottom) {
    constexpr int Depth = 4096;
    fs::create_directory(temp_.Join("game"));
    int folder = open(temp_.Join("game").c_str(), O_PATH | O_DIRECTORY);
    std::string name;
    for (int level = 0; level < Depth; ++level) {
        ASSERT_EQ(mkdirat(folder, "d", 0755), 0);
        const int below = openat(folder, "d", O_PATH | O_DIRECTORY);
        close(folder);
        folder = below;
        name += "d/";
    }
    const int file = openat(folder, "bottom.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(write(file, "bottom!", 7), 7);
    close(file);
    close(folder);

    std::string error;
    std::vector<std::string> skipped;
    const bool packed = PackFolder(temp_.Join("game"), temp_.Join("deep.zip"), error, skipped);
    ASSERT_TRUE(DiskFileSystem::DeleteTree(temp_.Join("game").c_str()));
    ASSERT_TRUE(packed) << error;
    EXPECT_TRUE(skipped.empty());
    const std::map<std::string, std::string> entries = ArchiveEntries(temp_.Join("deep.zip"));
    ASSERT_EQ(entries.size(), size_t{Depth} + 1);
    EXPECT_EQ(entries.at(name + "bottom.txt"), "bottom!");
    EXPECT_EQ(entries.count(name), 1u);
    // The names are the archive's content: each stored twice (its entry and the directory)
    // with fixed records of under a hundred bytes, nothing that grows with the depth besides.
    const uint64_t names = uint64_t{Depth} * (Depth + 1) + name.size() + 10;
    EXPECT_LT(fs::file_size(temp_.Join("deep.zip")), 2 * names + 200 * (Depth + 1));
}

} // namespace
} // namespace quarn
