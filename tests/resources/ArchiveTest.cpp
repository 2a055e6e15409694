#include "resources/ArchiveSet.h"
#include "resources/FileSystem.h"
#include "resources/MemoryFile.h"
#include "resources/Scrambler.h"
#include "resources/ZipArchive.h"
#include "tests/support/MemoryFileSystem.h"
#include "tests/support/TempFolder.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <minizip/zip.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes ReadFixture(const char* name) {
    std::ifstream file(std::string(QUARN_TEST_DATA) + "/archives/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string ReadAll(File& file) {
    std::string text(file.GetSize(), '\0');
    text.resize(file.Read(text.data(), static_cast<uint32_t>(text.size())));
    return text;
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
    std::string path = folder.Join("made.zip");
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    EXPECT_NE(zip, nullptr);
    for (const TestEntry& entry : entries) {
        zip_fileinfo info = {};
        int level = entry.method == 0 ? 0 : Z_DEFAULT_COMPRESSION;
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

void PutU16(Bytes& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(Bytes& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t GetU32(const Bytes& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | bytes[at + i];
    }
    return value;
}

// Rewrites a field of the first entry of an archive in both its local and its central header,
// so that the two still agree and only the field's plausibility is tested. The archive has no
// comment, so its end record is its last 22 bytes.
enum class HeaderField { Flags, Method, UncompressedSize };

void PatchEntry(Bytes& zip, HeaderField field, uint32_t value) {
    size_t localAt = 0;
    size_t centralAt = GetU32(zip, zip.size() - 22 + 16);
    ASSERT_EQ(GetU32(zip, localAt), 0x04034b50u);
    ASSERT_EQ(GetU32(zip, centralAt), 0x02014b50u);
    switch (field) {
    case HeaderField::Flags:
        PutU16(zip, localAt + 6, static_cast<uint16_t>(value));
        PutU16(zip, centralAt + 8, static_cast<uint16_t>(value));
        break;
    case HeaderField::Method:
        PutU16(zip, localAt + 8, static_cast<uint16_t>(value));
        PutU16(zip, centralAt + 10, static_cast<uint16_t>(value));
        break;
    case HeaderField::UncompressedSize:
        PutU32(zip, localAt + 22, value);
        PutU32(zip, centralAt + 24, value);
        break;
    }
}

// An ArchiveSet over a fake file system that serves the committed fixture as "/game/x.zip".
class ArchiveSetTest : public testing::Test {
protected:
    ArchiveSetTest() { fileSystem_.Add("/game/x.zip", ReadFixture("sample.zip")); }

    std::string ReadEntry(const char* path, uint32_t flags = 0) {
        std::unique_ptr<File> file = archives_.OpenEntry(path, flags);
        return file ? ReadAll(*file) : "<null>";
    }

    test::MemoryFileSystem fileSystem_;
    ArchiveSet archives_{fileSystem_};
};

// ArchiveSet ----------------------------------------------------------------------------------

TEST_F(ArchiveSetTest, ReadsStoredAndDeflatedEntriesOfAFixtureMadeElsewhere) {
    EXPECT_EQ(ReadEntry("/game/x.zip/config.txt"), FixtureConfigText());
    std::string wall = ReadEntry("/game/x.zip/Textures/Wall.PNG");
    ASSERT_EQ(wall.size(), 64u);
    for (size_t i = 0; i < wall.size(); ++i) {
        EXPECT_EQ(static_cast<uint8_t>(wall[i]), i);
    }
}

TEST_F(ArchiveSetTest, EntryLookupIgnoresCase) {
    fileSystem_.Add("/game/data.zoo", ReadFixture("sample.zoo"));
    EXPECT_EQ(ReadEntry("/game/data.zoo/Config.TXT"), FixtureConfigText());
    EXPECT_EQ(ReadEntry("/game/x.zip/textures/wall.png").size(), 64u);
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
    EXPECT_TRUE(file->IsEof());
}

TEST_F(ArchiveSetTest, ZooArchiveIsReadThroughTheScramblingPassAsAWhole) {
    fileSystem_.Add("/game/Data.ZOO", ReadFixture("sample.zoo"));
    EXPECT_EQ(ReadEntry("/game/Data.ZOO/config.txt"), FixtureConfigText());
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

TEST_F(ArchiveSetTest, MissingEntryGivesNull) {
    EXPECT_EQ(archives_.OpenEntry("/game/x.zip/nothing.txt", 0), nullptr);
    EXPECT_EQ(archives_.OpenEntry("/game/x.zip/", 0), nullptr);
    EXPECT_EQ(archives_.GetEntryAttributes("/game/x.zip/nothing.txt"), FileMissing);
}

TEST_F(ArchiveSetTest, EntryAttributesComeFromTheArchive) {
    EXPECT_EQ(archives_.GetEntryAttributes("/game/x.zip/config.txt"), 0u);
    EXPECT_EQ(archives_.GetEntryAttributes("/game/x.zip/textures/"), FileDirectory);
    EXPECT_EQ(archives_.GetEntryAttributes("/game/x.zip/readonly.txt"), FileReadOnly);
}

TEST_F(ArchiveSetTest, BrokenArchiveGivesNullAndIsReadOnlyOnce) {
    Bytes truncated = ReadFixture("sample.zip");
    truncated.resize(truncated.size() / 2);
    fileSystem_.Add("/game/truncated.zip", truncated);
    fileSystem_.Add("/game/garbage.zip", ToBytes(std::string(300, 'G')));
    fileSystem_.Add("/game/nothing.zip", Bytes());

    for (const char* archive : {"/game/truncated.zip", "/game/garbage.zip", "/game/nothing.zip"}) {
        std::string entry = std::string(archive) + "/config.txt";
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
    std::string large(100000, 'z');
    fileSystem_.Add("/game/made.zip", WriteZip({{"Stored.bin", "plain bytes", 0},
                                                {"deflated.txt", large, Z_DEFLATED},
                                                {"wide.txt", "zip64 record", Z_DEFLATED, true}}));
    EXPECT_EQ(ReadEntry("/game/made.zip/stored.BIN"), "plain bytes");
    EXPECT_EQ(ReadEntry("/game/made.zip/DEFLATED.txt"), large);
    EXPECT_EQ(ReadEntry("/game/made.zip/wide.txt"), "zip64 record");
}

// ZipArchive ----------------------------------------------------------------------------------

std::string ReadEntryText(Bytes zip) {
    std::unique_ptr<ZipArchive> archive = ZipArchive::OpenFromMemory(std::move(zip));
    if (!archive) {
        return "<no archive>";
    }
    const ZipEntry* entry = archive->FindEntry("entry.txt");
    if (!entry) {
        return "<no entry>";
    }
    Bytes data;
    if (!archive->ReadEntry(*entry, data)) {
        return "<refused>";
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
    std::string text(1000, 'a');
    Bytes zip = WriteZip({{"entry.txt", text, Z_DEFLATED}});
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
    Bytes zip = WriteZip({{"entry.txt", noise, Z_DEFLATED}});
    uint64_t declared = 0;
    EXPECT_TRUE(CanReadEntry(zip, declared));

    PatchEntry(zip, HeaderField::UncompressedSize, (1u << 30) + 1);
    EXPECT_FALSE(CanReadEntry(zip, declared));
    EXPECT_EQ(declared, (1u << 30) + 1);
    PatchEntry(zip, HeaderField::UncompressedSize, 0xFFFFFFF0u);
    EXPECT_FALSE(CanReadEntry(zip, declared));
}

TEST(ZipArchive, DeclaredSizeThatDisagreesWithTheDataIsRefused) {
    std::string text(1000, 'a');
    for (int method : {0, Z_DEFLATED}) {
        Bytes zip = WriteZip({{"entry.txt", text, method}});
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
    Bytes zip = WriteZip({{"entry.txt", text, Z_DEFLATED}});
    // The compressed data starts after the 30-byte local header and the name.
    size_t data = 30 + std::strlen("entry.txt");
    for (size_t i = data + 20; i < data + 40; ++i) {
        zip[i] ^= 0x5A;
    }
    EXPECT_EQ(ReadEntryText(zip), "<refused>");
}

TEST(ZipArchive, EntriesNeedingAnUnknownMethodOrAPasswordAreRefused) {
    Bytes zip = WriteZip({{"entry.txt", "stored text", 0}});
    ASSERT_EQ(ReadEntryText(zip), "stored text");

    Bytes bzip2 = zip;
    PatchEntry(bzip2, HeaderField::Method, 12);
    EXPECT_EQ(ReadEntryText(bzip2), "<refused>");

    Bytes encrypted = zip;
    PatchEntry(encrypted, HeaderField::Flags, 1);
    EXPECT_EQ(ReadEntryText(encrypted), "<refused>");
}

// SplitArchivePath ----------------------------------------------------------------------------

struct Split {
    bool found;
    std::string archive;
    std::string entry;
};

Split SplitPath(const char* path) {
    Split split{false, "", ""};
    split.found = ArchiveSet::SplitArchivePath(path, split.archive, split.entry);
    return split;
}

TEST(SplitArchivePath, SplitsAtTheArchiveSegmentWhateverItsCase) {
    Split split = SplitPath("textures/A.ZIP/X.png");
    EXPECT_TRUE(split.found);
    EXPECT_EQ(split.archive, "textures/A.ZIP");
    EXPECT_EQ(split.entry, "X.png");

    split = SplitPath("/game/Data.Zoo/sub/config.txt");
    EXPECT_TRUE(split.found);
    EXPECT_EQ(split.archive, "/game/Data.Zoo");
    EXPECT_EQ(split.entry, "sub/config.txt");
}

TEST(SplitArchivePath, ZipSegmentIsTakenBeforeAnEarlierZooSegment) {
    Split split = SplitPath("a/b.zoo/c.zip/d.txt");
    EXPECT_TRUE(split.found);
    EXPECT_EQ(split.archive, "a/b.zoo/c.zip");
    EXPECT_EQ(split.entry, "d.txt");
}

TEST(SplitArchivePath, PathWithoutASegmentIsNotSplit) {
    for (const char* path : {"a/b.txt", "a/data.zip", "a/data.zipx/b.txt", "", "zip/x"}) {
        EXPECT_FALSE(SplitPath(path).found) << path;
    }
}

// MemoryFile ----------------------------------------------------------------------------------

TEST(MemoryFile, UnreadByteAtTheStartStaysThere) {
    MemoryFile file(ToBytes("ab"));
    file.UnreadByte();
    EXPECT_EQ(file.Tell(), 0u);
    EXPECT_EQ(file.ReadByte(), 'a');
    file.UnreadByte();
    EXPECT_EQ(file.ReadByte(), 'a');
}

TEST(MemoryFile, ReadsStopAtTheEnd) {
    MemoryFile file(ToBytes("abc"));
    char buffer[8] = {};
    EXPECT_EQ(file.Read(buffer, 2), 2u);
    EXPECT_EQ(file.Read(buffer, 8), 1u);
    EXPECT_EQ(buffer[0], 'c');
    EXPECT_EQ(file.ReadByte(), -1);
    EXPECT_TRUE(file.IsEof());

    file.Seek(10);
    EXPECT_EQ(file.Read(buffer, 8), 0u);
    EXPECT_EQ(file.ReadByte(), -1);
    file.Seek(1);
    EXPECT_EQ(file.ReadByte(), 'b');
}

} // namespace
} // namespace quarn
