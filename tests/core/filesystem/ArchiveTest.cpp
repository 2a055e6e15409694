#include "TestPaths.h"
#include "core/filesystem/ArchiveSet.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/filesystem/ZipArchive.h"
#include "tests/support/StoredBytes.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace quarn {
namespace {

using Bytes = std::vector<uint8_t>;
using test::MakeZip;

Bytes ReadFixture(const char* name) {
    std::ifstream file(std::string(QUARN_TEST_DATA) + "/archives/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The text of "config.txt" in the committed fixture (tests/data/make_archives.py).
std::string FixtureConfigText() {
    std::string text;
    for (int i = 0; i < 40; ++i) {
        text += "key" + std::to_string(i) + " = value " + std::to_string(i) + "\n";
    }
    return text;
}

// An ArchiveSet over a fake file system that serves the committed fixtures as "/game/x.zip" and
// "/game/Data.ZOO".
class ArchiveSetTest : public testing::Test {
protected:
    ArchiveSetTest() {
        fileSystem_.Add("/game/x.zip", ReadFixture("sample.zip"));
        fileSystem_.Add("/game/Data.ZOO", ReadFixture("sample.zoo"));
    }

    std::string ReadEntry(const char* path, uint32_t flags = 0) {
        std::unique_ptr<File> file = archives_.OpenEntry(path, flags);
        if (!file) {
            return "<null>";
        }
        std::string text(file->GetSize(), '\0');
        text.resize(file->Read(text.data(), static_cast<uint32_t>(text.size())));
        return text;
    }

    MemoryFileSystem fileSystem_;
    ArchiveSet archives_{fileSystem_};
};

TEST_F(ArchiveSetTest, ReadsEntriesOfAFixtureMadeElsewhereWithoutCaseTheFirstInOrderWinning) {
    EXPECT_EQ(ReadEntry("/game/x.zip/Config.TXT"), FixtureConfigText());
    std::string wall(64, '\0');
    for (size_t i = 0; i < wall.size(); ++i) {
        wall[i] = static_cast<char>(i);
    }
    EXPECT_EQ(ReadEntry("/game/x.zip/textures/wall.png"), wall); // stored
    EXPECT_EQ(ReadEntry("/game/x.zip/clash.txt"), "first");
    std::unique_ptr<File> empty = archives_.OpenEntry("/game/x.zip/empty.txt", 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->GetSize(), 0u);
    EXPECT_EQ(empty->ReadByte(), -1);
    // The scrambled flag unscrambles the entry.
    EXPECT_EQ(ReadEntry("/game/x.zip/scrambled.txt", OpenScrambled), "scrambled settings\n");
    EXPECT_NE(ReadEntry("/game/x.zip/scrambled.txt"), "scrambled settings\n");
}

TEST_F(ArchiveSetTest, ZooArchiveIsUnscrambledAsAWholeAndEachArchiveReadOnce) {
    EXPECT_EQ(ReadEntry("/game/Data.ZOO/Config.TXT"), FixtureConfigText());
    EXPECT_EQ(fileSystem_.LastOpenFlags(), OpenText | OpenNative | OpenScrambled);
    ReadEntry("/game/x.zip/config.txt");
    EXPECT_EQ(fileSystem_.LastOpenFlags(), OpenText | OpenNative);
    // The archive path is compared without case.
    ReadEntry("/game/X.ZIP/empty.txt");
    archives_.GetEntryAttributes("/game/x.zip/config.txt");
    EXPECT_EQ(fileSystem_.OpenCount("/game/x.zip"), 1);
    EXPECT_EQ(fileSystem_.OpenCount("/game/X.ZIP"), 0);
}

TEST_F(ArchiveSetTest, BrokenArchiveIsReadOnlyOnceAndAMissingOneLookedForAgain) {
    Bytes truncated = ReadFixture("sample.zip");
    truncated.resize(truncated.size() / 2);
    fileSystem_.Add("/game/truncated.zip", truncated);
    fileSystem_.Add("/game/garbage.zip", std::string(300, 'G'));
    fileSystem_.Add("/game/nothing.zip", Bytes());
    for (const char* archive : {"/game/truncated.zip", "/game/garbage.zip", "/game/nothing.zip"}) {
        const std::string entry = std::string(archive) + "/config.txt";
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(archives_.OpenEntry(entry.c_str(), 0), nullptr) << archive;
            EXPECT_EQ(archives_.GetEntryAttributes(entry.c_str()), FileMissing) << archive;
        }
        EXPECT_EQ(fileSystem_.OpenCount(archive), 1) << archive;
    }
    EXPECT_EQ(archives_.OpenEntry("/game/late.zip/config.txt", 0), nullptr);
    fileSystem_.Add("/game/late.zip", ReadFixture("sample.zip"));
    EXPECT_EQ(ReadEntry("/game/late.zip/config.txt"), FixtureConfigText());
}

TEST_F(ArchiveSetTest, ArchivesWrittenByMinizipReadBack) {
    const std::string large(100000, 'z');
    fileSystem_.Add("/game/made.zip", MakeZip({{"Stored.bin", "plain bytes", 0},
                                               {"deflated.txt", large},
                                               {"wide.txt", "zip64 record", Z_DEFLATED, true}}));
    EXPECT_EQ(ReadEntry("/game/made.zip/stored.BIN"), "plain bytes");
    EXPECT_EQ(ReadEntry("/game/made.zip/DEFLATED.txt"), large);
    EXPECT_EQ(ReadEntry("/game/made.zip/wide.txt"), "zip64 record");
}

// A one-entry archive ("entry.txt") whose headers can be rewritten.
struct OneEntryZip {
    explicit OneEntryZip(const std::string& data, int method = Z_DEFLATED) {
        const std::string zip = MakeZip({{"entry.txt", data, method}});
        bytes.assign(zip.begin(), zip.end());
    }

    // Rewrites a field in both the local and the central header, so that the two still agree
    // and only the field's plausibility is tested. The archive has no comment, so its end
    // record is its last 22 bytes.
    void Patch(size_t localOffset, size_t centralOffset, uint32_t value, int size) {
        const size_t end = bytes.size() - 22;
        const size_t central = bytes[end + 16] | bytes[end + 17] << 8 | bytes[end + 18] << 16 |
                               static_cast<size_t>(bytes[end + 19]) << 24;
        for (int i = 0; i < size; ++i) {
            bytes[localOffset + i] = bytes[central + centralOffset + i] =
                static_cast<uint8_t>(value >> (8 * i));
        }
    }
    void SetFlags(uint32_t flags) { Patch(6, 8, flags, 2); }
    void SetMethod(uint32_t method) { Patch(8, 10, method, 2); }
    void SetSize(uint32_t size) { Patch(22, 24, size, 4); }

    // Whether the entry would be read, and its declared size.
    bool CanRead(uint64_t& declared) const {
        std::unique_ptr<ZipArchive> archive = ZipArchive::OpenFromMemory(bytes);
        const ZipEntry* entry = archive ? archive->FindEntry("entry.txt") : nullptr;
        EXPECT_NE(entry, nullptr);
        declared = entry ? entry->uncompressedSize : 0;
        return entry && archive->CanRead(*entry);
    }
    std::string Read() const {
        std::unique_ptr<ZipArchive> archive = ZipArchive::OpenFromMemory(bytes);
        const ZipEntry* entry = archive ? archive->FindEntry("entry.txt") : nullptr;
        Bytes data;
        if (!entry || !archive->ReadEntry(*entry, data)) {
            return entry ? "<refused>" : "<no entry>";
        }
        return std::string(data.begin(), data.end());
    }

    Bytes bytes;
};

TEST(ZipArchive, SizesTheDataCannotGiveAreRefusedBeforeAllocating) {
    OneEntryZip zip(std::string(1000, 'a'));
    uint64_t declared = 0;
    EXPECT_TRUE(zip.CanRead(declared));
    zip.SetSize(64u << 20); // beyond what the compressed bytes can inflate to
    EXPECT_FALSE(zip.CanRead(declared));
    EXPECT_EQ(declared, 64u << 20);
    EXPECT_EQ(zip.Read(), "<refused>");
    // Bytes that do not compress, so the deflate ratio alone would allow over a gigabyte.
    std::string noise(1200000, '\0');
    uint32_t state = 12345;
    for (char& c : noise) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    OneEntryZip incompressible(noise);
    EXPECT_TRUE(incompressible.CanRead(declared));
    for (uint32_t size : {(1u << 30) + 1, 0xFFFFFFF0u}) {
        incompressible.SetSize(size);
        EXPECT_FALSE(incompressible.CanRead(declared)) << size;
        EXPECT_EQ(declared, size);
    }
}

TEST(ZipArchive, LyingSizesDamagedDataUnknownMethodsAndPasswordsAreRefused) {
    for (int method : {0, Z_DEFLATED}) {
        for (uint32_t size : {999u, 1001u}) {
            OneEntryZip lying(std::string(1000, 'a'), method);
            lying.SetSize(size);
            EXPECT_EQ(lying.Read(), "<refused>") << method << " " << size;
        }
    }
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        text += std::to_string(i * 7919 % 1000);
    }
    OneEntryZip damaged(text);
    // The compressed data starts after the 30-byte local header and the name.
    const size_t data = 30 + std::strlen("entry.txt");
    for (size_t i = data + 20; i < data + 40; ++i) {
        damaged.bytes[i] ^= 0x5A;
    }
    EXPECT_EQ(damaged.Read(), "<refused>");
    OneEntryZip bzip2("stored text", 0);
    ASSERT_EQ(bzip2.Read(), "stored text");
    bzip2.SetMethod(12);
    EXPECT_EQ(bzip2.Read(), "<refused>");
    OneEntryZip encrypted("stored text", 0);
    encrypted.SetFlags(1);
    EXPECT_EQ(encrypted.Read(), "<refused>");
}

TEST(SplitArchivePath, SplitsAtTheFirstZipSegmentElseTheFirstZooWhateverTheirCase) {
    const struct {
        const char* path;
        const char* archive; // null: not split
        const char* entry;
    } cases[] = {
        {"textures/A.ZIP/X.png", "textures/A.ZIP", "X.png"},
        {"a/b.zoo/c.zip/d.txt", "a/b.zoo/c.zip", "d.txt"},
        {"a/data.zipx/b.txt", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        std::string archive, entry;
        ASSERT_EQ(ArchiveSet::SplitArchivePath(c.path, archive, entry), c.archive != nullptr)
            << c.path;
        if (c.archive) {
            EXPECT_EQ(archive, c.archive);
            EXPECT_EQ(entry, c.entry);
        }
    }
}

} // namespace
} // namespace quarn
