#include "core/filesystem/ArchiveSet.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/filesystem/ZipArchive.h"
#include "core/io/Scrambler.h"
#include "tests/support/TempFolder.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <minizip/zip.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

using Bytes = std::vector<uint8_t>;

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

struct TestEntry {
    std::string name;
    std::string data;
    int method = Z_DEFLATED;
    bool zip64 = false;
};

// An archive written by minizip's own writer.
Bytes WriteZip(const std::vector<TestEntry>& entries) {
    test::TempFolder folder;
    const std::string path = folder.Join("made.zip");
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    EXPECT_NE(zip, nullptr);
    for (const TestEntry& entry : entries) {
        zip_fileinfo info = {};
        const int level = entry.method == 0 ? 0 : Z_DEFAULT_COMPRESSION;
        EXPECT_EQ(zipOpenNewFileInZip64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0,
                                        nullptr, entry.method, level, entry.zip64 ? 1 : 0),
                  ZIP_OK);
        EXPECT_EQ(
            zipWriteInFileInZip(zip, entry.data.data(), static_cast<unsigned>(entry.data.size())),
            ZIP_OK);
        EXPECT_EQ(zipCloseFileInZip(zip), ZIP_OK);
    }
    EXPECT_EQ(zipClose(zip, nullptr), ZIP_OK);
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void PutLittleEndian(Bytes& bytes, size_t at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// Rewrites a field of the first entry in both its local and its central header, so that the two
// still agree and only the field's plausibility is tested. The archive has no comment, so its
// end record is its last 22 bytes.
enum class HeaderField { Flags, Method, UncompressedSize };

void PatchEntry(Bytes& zip, HeaderField field, uint32_t value) {
    const size_t endRecord = zip.size() - 22;
    const size_t central = zip[endRecord + 16] | zip[endRecord + 17] << 8 |
                           zip[endRecord + 18] << 16 |
                           static_cast<size_t>(zip[endRecord + 19]) << 24;
    ASSERT_EQ(zip[0], 0x50);
    ASSERT_EQ(zip[central + 2], 0x01);
    switch (field) {
    case HeaderField::Flags:
        PutLittleEndian(zip, 6, value, 2);
        PutLittleEndian(zip, central + 8, value, 2);
        break;
    case HeaderField::Method:
        PutLittleEndian(zip, 8, value, 2);
        PutLittleEndian(zip, central + 10, value, 2);
        break;
    case HeaderField::UncompressedSize:
        PutLittleEndian(zip, 22, value, 4);
        PutLittleEndian(zip, central + 24, value, 4);
        break;
    }
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

TEST_F(ArchiveSetTest, ReadsStoredAndDeflatedEntriesOfAFixtureMadeElsewhereWithoutCase) {
    EXPECT_EQ(ReadEntry("/game/x.zip/Config.TXT"), FixtureConfigText());
    const std::string wall = ReadEntry("/game/x.zip/textures/wall.png");
    ASSERT_EQ(wall.size(), 64u);
    for (size_t i = 0; i < wall.size(); ++i) {
        EXPECT_EQ(static_cast<uint8_t>(wall[i]), i);
    }
}

TEST_F(ArchiveSetTest, FirstEntryInDirectoryOrderWinsWhenNamesDifferOnlyInCase) {
    EXPECT_EQ(ReadEntry("/game/x.zip/CLASH.TXT"), "first");
    EXPECT_EQ(ReadEntry("/game/x.zip/clash.txt"), "first");
}

TEST_F(ArchiveSetTest, EmptyEntryOpensWithNothingToRead) {
    std::unique_ptr<File> file = archives_.OpenEntry("/game/x.zip/empty.txt", 0);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->GetSize(), 0u);
    EXPECT_EQ(file->ReadByte(), -1);
}

TEST_F(ArchiveSetTest, ZooArchiveIsReadThroughTheScramblingPassAsAWhole) {
    EXPECT_EQ(ReadEntry("/game/Data.ZOO/Config.TXT"), FixtureConfigText());
    EXPECT_EQ(fileSystem_.LastOpenFlags(), OpenText | OpenNative | OpenScrambled);
    ReadEntry("/game/x.zip/config.txt");
    EXPECT_EQ(fileSystem_.LastOpenFlags(), OpenText | OpenNative);
}

TEST_F(ArchiveSetTest, ScrambledFlagUnscramblesTheEntry) {
    EXPECT_EQ(ReadEntry("/game/x.zip/scrambled.txt", OpenScrambled), "scrambled settings\n");
    EXPECT_NE(ReadEntry("/game/x.zip/scrambled.txt"), "scrambled settings\n");
}

TEST_F(ArchiveSetTest, ArchiveIsReadOnceAndItsPathComparedWithoutCase) {
    ReadEntry("/game/x.zip/config.txt");
    ReadEntry("/game/X.ZIP/empty.txt");
    archives_.GetEntryAttributes("/game/x.zip/config.txt");
    EXPECT_EQ(fileSystem_.OpenCount("/game/x.zip"), 1);
    EXPECT_EQ(fileSystem_.OpenCount("/game/X.ZIP"), 0);
}

TEST_F(ArchiveSetTest, EntryAttributesComeFromTheArchive) {
    EXPECT_EQ(archives_.GetEntryAttributes("/game/x.zip/config.txt"), 0u);
    EXPECT_EQ(archives_.GetEntryAttributes("/game/x.zip/textures/"), FileDirectory);
    EXPECT_EQ(archives_.GetEntryAttributes("/game/x.zip/readonly.txt"), FileReadOnly);
    EXPECT_EQ(archives_.GetEntryAttributes("/game/x.zip/nothing.txt"), FileMissing);
    EXPECT_EQ(archives_.OpenEntry("/game/x.zip/nothing.txt", 0), nullptr);
    EXPECT_EQ(archives_.OpenEntry("/game/x.zip/", 0), nullptr);
}

TEST_F(ArchiveSetTest, BrokenArchiveGivesNullAndIsReadOnlyOnce) {
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
}

TEST_F(ArchiveSetTest, MissingArchiveIsLookedForAgainOnTheNextUse) {
    EXPECT_EQ(archives_.OpenEntry("/game/late.zip/config.txt", 0), nullptr);
    fileSystem_.Add("/game/late.zip", ReadFixture("sample.zip"));
    EXPECT_EQ(ReadEntry("/game/late.zip/config.txt"), FixtureConfigText());
}

TEST_F(ArchiveSetTest, ArchivesWrittenByMinizipReadBack) {
    const std::string large(100000, 'z');
    fileSystem_.Add("/game/made.zip", WriteZip({{"Stored.bin", "plain bytes", 0},
                                                {"deflated.txt", large, Z_DEFLATED},
                                                {"wide.txt", "zip64 record", Z_DEFLATED, true}}));
    EXPECT_EQ(ReadEntry("/game/made.zip/stored.BIN"), "plain bytes");
    EXPECT_EQ(ReadEntry("/game/made.zip/DEFLATED.txt"), large);
    EXPECT_EQ(ReadEntry("/game/made.zip/wide.txt"), "zip64 record");
}

std::string ReadEntryText(Bytes zip) {
    std::unique_ptr<ZipArchive> archive = ZipArchive::OpenFromMemory(std::move(zip));
    const ZipEntry* entry = archive ? archive->FindEntry("entry.txt") : nullptr;
    Bytes data;
    if (!entry || !archive->ReadEntry(*entry, data)) {
        return entry ? "<refused>" : "<no entry>";
    }
    return std::string(data.begin(), data.end());
}

// Whether the first entry of an archive would be read, and its declared size.
bool CanReadEntry(Bytes zip, uint64_t& declared) {
    std::unique_ptr<ZipArchive> archive = ZipArchive::OpenFromMemory(std::move(zip));
    const ZipEntry* entry = archive ? archive->FindEntry("entry.txt") : nullptr;
    EXPECT_NE(entry, nullptr);
    declared = entry ? entry->uncompressedSize : 0;
    return entry && archive->CanRead(*entry);
}

TEST(ZipArchive, SizeBeyondWhatTheCompressedBytesCanGiveIsRefusedBeforeAllocating) {
    Bytes zip = WriteZip({{"entry.txt", std::string(1000, 'a')}});
    uint64_t declared = 0;
    EXPECT_TRUE(CanReadEntry(zip, declared));
    PatchEntry(zip, HeaderField::UncompressedSize, 64u << 20);
    EXPECT_FALSE(CanReadEntry(zip, declared));
    EXPECT_EQ(declared, 64u << 20);
    EXPECT_EQ(ReadEntryText(zip), "<refused>");
}

TEST(ZipArchive, SizeAboveTheCapIsRefusedEvenWhenTheRatioAllowsIt) {
    // Bytes that do not compress, so the deflate ratio alone would allow over a gigabyte.
    std::string noise(1200000, '\0');
    uint32_t state = 12345;
    for (char& c : noise) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    Bytes zip = WriteZip({{"entry.txt", noise}});
    uint64_t declared = 0;
    EXPECT_TRUE(CanReadEntry(zip, declared));
    PatchEntry(zip, HeaderField::UncompressedSize, (1u << 30) + 1);
    EXPECT_FALSE(CanReadEntry(zip, declared));
    EXPECT_EQ(declared, (1u << 30) + 1);
    PatchEntry(zip, HeaderField::UncompressedSize, 0xFFFFFFF0u);
    EXPECT_FALSE(CanReadEntry(zip, declared));
}

TEST(ZipArchive, DeclaredSizeThatDisagreesWithTheDataIsRefused) {
    for (int method : {0, Z_DEFLATED}) {
        const Bytes zip = WriteZip({{"entry.txt", std::string(1000, 'a'), method}});
        for (uint32_t declared : {999u, 1001u}) {
            Bytes lying = zip;
            PatchEntry(lying, HeaderField::UncompressedSize, declared);
            EXPECT_EQ(ReadEntryText(lying), "<refused>") << method << " " << declared;
        }
    }
}

TEST(ZipArchive, DamagedDeflateDataIsRefused) {
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        text += std::to_string(i * 7919 % 1000);
    }
    Bytes zip = WriteZip({{"entry.txt", text}});
    // The compressed data starts after the 30-byte local header and the name.
    const size_t data = 30 + std::strlen("entry.txt");
    for (size_t i = data + 20; i < data + 40; ++i) {
        zip[i] ^= 0x5A;
    }
    EXPECT_EQ(ReadEntryText(zip), "<refused>");
}

TEST(ZipArchive, EntriesNeedingAnUnknownMethodOrAPasswordAreRefused) {
    const Bytes zip = WriteZip({{"entry.txt", "stored text", 0}});
    ASSERT_EQ(ReadEntryText(zip), "stored text");
    Bytes bzip2 = zip;
    PatchEntry(bzip2, HeaderField::Method, 12);
    EXPECT_EQ(ReadEntryText(bzip2), "<refused>");
    Bytes encrypted = zip;
    PatchEntry(encrypted, HeaderField::Flags, 1);
    EXPECT_EQ(ReadEntryText(encrypted), "<refused>");
}

TEST(SplitArchivePath, SplitsAtTheFirstZipSegmentElseTheFirstZooWhateverTheirCase) {
    const struct {
        const char* path;
        const char* archive; // null: not split
        const char* entry;
    } cases[] = {
        {"textures/A.ZIP/X.png", "textures/A.ZIP", "X.png"},
        {"/game/Data.Zoo/sub/config.txt", "/game/Data.Zoo", "sub/config.txt"},
        {"a/b.zoo/c.zip/d.txt", "a/b.zoo/c.zip", "d.txt"},
        {"a/b.txt", nullptr, nullptr},
        {"a/data.zip", nullptr, nullptr},
        {"a/data.zipx/b.txt", nullptr, nullptr},
        {"", nullptr, nullptr},
        {"zip/x", nullptr, nullptr},
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
