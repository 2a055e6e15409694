#include "core/filesystem/DiskFile.h"

#include "core/filesystem/EmbeddedFile.h"
#include "core/filesystem/EmbeddedFiles.h"
#include "core/filesystem/FileSystem.h"
#include "tests/support/StoredBytes.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

TEST(DiskFileTest, ReadsBytesThenMinusOneAndUnreadsOneByteAtMostNotBeforeTheStart) {
    test::TempFolder temp;
    DiskFile file;
    ASSERT_TRUE(file.Open(temp.WriteFile("a.bin", "A\xff").c_str(), 0));
    file.UnreadByte();
    EXPECT_EQ(file.Tell(), 0u);
    EXPECT_EQ(file.ReadByte(), 'A');
    EXPECT_EQ(file.ReadByte(), 0xff);
    file.UnreadByte();
    file.UnreadByte();
    EXPECT_EQ(file.ReadByte(), 0xff);
    EXPECT_EQ(file.ReadByte(), -1);
    EXPECT_TRUE(file.IsEof());
}

TEST(DiskFileTest, ScrambledFilesUnreadAndSeekThroughTheScrambleState) {
    test::TempFolder temp;
    DiskFile file;
    ASSERT_TRUE(
        file.Open(temp.WriteFile("s.bin", test::Scrambled("hello")).c_str(), OpenScrambled));
    EXPECT_EQ(file.ReadByte(), 'h');
    EXPECT_EQ(file.ReadByte(), 'e');
    file.UnreadByte();
    EXPECT_EQ(file.ReadByte(), 'e');
    EXPECT_EQ(file.ReadByte(), 'l');
    // Seeking rewinds and reads forward.
    EXPECT_TRUE(file.Seek(4));
    EXPECT_EQ(file.ReadByte(), 'o');
    EXPECT_FALSE(file.Seek(9));
}

TEST(EmbeddedFileTest, FoundWithoutCaseAsIndexPlusOneAndReadOnlyUnderTheScheme) {
    const uint32_t id = EmbeddedFile::Find("HELLO.txt");
    ASSERT_NE(id, 0u);
    EXPECT_STREQ(EmbeddedFileTable()[id - 1].name, "Hello.txt");
    EmbeddedFile file;
    EXPECT_FALSE(file.Open("Hello.txt"));
    ASSERT_TRUE(file.Open("Res://hello.txt"));
    char text[32] = {};
    EXPECT_EQ(file.Read(text, sizeof(text)), 15u);
    EXPECT_TRUE(file.IsEof());
}

} // namespace
} // namespace quarn
