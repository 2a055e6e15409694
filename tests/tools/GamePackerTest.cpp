#include "tools/GamePacker.h"

#include "TestPaths.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/filesystem/FileSystem.h"
#include "core/string/Sha256.h"
#include "tests/support/OpenWays.h"
#include "tests/support/TempFolder.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <minizip/unzip.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// The most memory `quarn-tool pack FOLDER OUT` held at once, run in `where`, in kilobytes;
// -1 when it did not end well.
long PackPeakKilobytes(const std::string& where, const std::string& folder,
                       const std::string& out) {
    const pid_t child = fork();
    if (child == 0) {
        const int quiet = open("/dev/null", O_WRONLY);
        if (chdir(where.c_str()) != 0 || quiet < 0 || dup2(quiet, STDERR_FILENO) < 0) {
            _exit(127);
        }
        execl(QUARN_TOOL, QUARN_TOOL, "pack", folder.c_str(), out.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return usage.ru_maxrss;
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

class GamePackerFilesTest : public test::WithOpenWays<GamePackerTest> {};
QUARN_BOTH_OPEN_WAYS(GamePackerFilesTest);

// What the player cannot reach from the game is not packed: links out of the folder, relative
// or absolute, to a file or a folder (the secret, the machine's name, the packer's own
// environment), links that lead nowhere or back up, and a pipe that would never end.
TEST_P(GamePackerFilesTest, OnlyWhatThePlayerReachesBelowTheFolderIsPacked) {
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

// A folder without links packs to the very bytes the packer gave before it built archives in a
// scratch file (as deflated by the zlib of its day), plain and scrambled.
TEST_F(GamePackerTest, AnOrdinaryFolderPacksToTheBytesItAlwaysHad) {
    temp_.WriteFile("game/a.txt", "alpha\n");
    temp_.WriteFile("game/art/dot.txt", "dot");
    std::string pattern;
    for (int i = 0; i < 3000; ++i) {
        pattern += static_cast<char>(i * 7 % 256);
    }
    temp_.WriteFile("game/art/deep/z.bin", pattern);
    fs::create_directories(temp_.Join("game/empty"));
    const struct {
        const char* out;
        const char* sha256;
    } archives[] = {
        {"out.zip", "c86421fa6dbe143a78672a582a3e64fcc8cf7ad56ccebf242c27cd280553de05"},
        {"out.zoo", "6003cff374c50c2b1d5f1432101b36ec3bb3e97ff4e3a8fac184291f69984ab5"},
    };
    for (const auto& archive : archives) {
        std::string error;
        std::vector<std::string> skipped;
        ASSERT_TRUE(PackFolder(temp_.Join("game"), temp_.Join(archive.out), error, skipped))
            << error;
        std::string digest;
        for (const uint8_t byte : Sha256(temp_.ReadFile(archive.out))) {
            digest += "0123456789abcdef"[byte >> 4];
            digest += "0123456789abcdef"[byte & 15];
        }
        EXPECT_EQ(digest, archive.sha256) << archive.out;
    }
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

// Four thousand folders one in another: every level whose path the engine can open is an
// entry, the first beyond is left out with one line, and the walk ends there.
TEST_F(GamePackerTest, ADeepTreePacksEveryLevelTheEngineCanOpen) {
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
    // "d/" 125 times is 249 bytes without its last '/'.
    constexpr int Opened = 125;
    const std::string deepest = name.substr(0, 2 * Opened);
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(test::Tilde(skipped[0], temp_),
              "~/game/" + deepest +
                  "d: its path of 251 bytes is longer than the 249 the engine "
                  "opens in an archive");
    const std::map<std::string, std::string> entries = ArchiveEntries(temp_.Join("deep.zip"));
    ASSERT_EQ(entries.size(), size_t{Opened});
    EXPECT_EQ(entries.count(deepest), 1u);
}

// What the player could never open from the archive is left out with a line: a path past 249
// bytes (the engine's 259 less "/data.zoo/"), and a folder it would take for an archive. A
// file named so is an archive inside the archive, and packed.
TEST_P(GamePackerFilesTest, PathsTheEngineCannotOpenAreLeftOutWithALine) {
    const std::string folder200(200, 'f');
    const struct {
        std::string path;
        bool packed;
    } cases[] = {
        {folder200 + "/" + std::string(48, 'n'), true},  // 249 bytes
        {folder200 + "/" + std::string(49, 'l'), false}, // 250 bytes
        {"music.zip/theme.ogg", false},
        {"Sounds.ZOO/hit.wav", false},
        {"inner.zip", true},
    };
    for (const auto& c : cases) {
        temp_.WriteFile("game/" + c.path, "bytes");
    }
    std::string error;
    std::vector<std::string> skipped;
    ASSERT_TRUE(PackFolder(temp_.Join("game"), temp_.Join("out.zip"), error, skipped)) << error;
    const std::map<std::string, std::string> entries = ArchiveEntries(temp_.Join("out.zip"));
    for (const auto& c : cases) {
        EXPECT_EQ(entries.count(c.path), c.packed ? 1u : 0u) << c.path;
    }
    for (std::string& line : skipped) {
        line = test::Tilde(line, temp_);
    }
    const std::vector<std::string> lines = {
        "~/game/Sounds.ZOO: the engine reads a folder named so as an archive",
        "~/game/" + folder200 + "/" + std::string(49, 'l') +
            ": its path of 250 bytes is longer than the 249 the engine opens in an archive",
        "~/game/music.zip: the engine reads a folder named so as an archive",
    };
    EXPECT_EQ(skipped, lines);
}

// Each folder of a chain holds two links to the next: the paths through them double at every
// level (four million at 22 levels), but each folder is packed through links once, and the
// links that meet it again say where it went.
TEST_P(GamePackerFilesTest, LinksThatMeetPackTheirFolderOnceAndSayWhereItWent) {
    constexpr int Levels = 22;
    for (int level = 0; level < Levels; ++level) {
        fs::create_directories(temp_.Join(std::string("game/l") + std::to_string(level)));
    }
    for (int level = 0; level + 1 < Levels; ++level) {
        const std::string next = std::string("../l") + std::to_string(level + 1);
        Link(next, std::string("game/l") + std::to_string(level) + "/a");
        Link(next, std::string("game/l") + std::to_string(level) + "/b");
    }
    temp_.WriteFile("game/l21/end.txt", "end");

    std::string error;
    std::vector<std::string> skipped;
    ASSERT_TRUE(PackFolder(temp_.Join("game"), temp_.Join("farm.zip"), error, skipped)) << error;
    std::map<std::string, std::string> expected;
    std::string through = "l0/";
    for (int level = 0; level < Levels; ++level) {
        expected[std::string("l") + std::to_string(level) + "/"] = "";
        if (level > 0) {
            through += "a/";
            expected[through] = "";
        }
    }
    expected["l21/end.txt"] = "end";
    expected[through + "end.txt"] = "end";
    EXPECT_EQ(ArchiveEntries(temp_.Join("farm.zip")), expected);
    // Left out: the second link of each folder copied through l0/a, l0/b, and both links of
    // l1 to l20, whose targets were copied by then.
    ASSERT_EQ(skipped.size(), size_t{(Levels - 2) + 1 + 2 * (Levels - 2)});
    EXPECT_EQ(test::Tilde(skipped.back(), temp_),
              "~/game/l9/b: it leads to the folder packed as ~/game/l0/a/a/a/a/a/a/a/a/a/a");
}

// The archive goes to its file as it is made: 32 MiB that deflate cannot shrink pack within a
// few MiB of what one small file takes, where the whole archive once grew in memory.
TEST_F(GamePackerTest, ALargeFolderPacksInLittleMemory) {
    temp_.WriteFile("small/a.txt", "a");
    std::string noise(size_t{32} << 20, '\0');
    uint64_t state = 0x9E3779B97F4A7C15u;
    for (char& byte : noise) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>(state >> 56);
    }
    temp_.WriteFile("large/noise.bin", noise);
    const long small = PackPeakKilobytes(temp_.Path(), "small", "small.zoo");
    const long large = PackPeakKilobytes(temp_.Path(), "large", "large.zoo");
    ASSERT_GT(small, 0);
    ASSERT_GT(large, 0);
    EXPECT_LT(large - small, 8 << 10);
    EXPECT_GT(fs::file_size(temp_.Join("large.zoo")), noise.size());
    std::string error;
    std::vector<std::string> skipped;
    ASSERT_TRUE(PackFolder(temp_.Join("large"), temp_.Join("large.zip"), error, skipped)) << error;
    EXPECT_EQ(ArchiveEntries(temp_.Join("large.zip")).at("noise.bin"), noise);
}

} // namespace
} // namespace quarn
