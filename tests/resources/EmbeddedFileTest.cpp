#include "resources/EmbeddedFile.h"

#include "resources/EmbeddedFiles.h"

#include <cstring>
#include <gtest/gtest.h>

namespace quarn {
namespace {

TEST(EmbeddedFileTest, FindAnswersIndexPlusOneWithoutCase) {
    uint32_t id = EmbeddedFile::Find("HELLO.txt");
    ASSERT_NE(id, 0u);
    EXPECT_STREQ(EmbeddedFileTable()[id - 1].name, "Hello.txt");
    EXPECT_EQ(EmbeddedFile::Find("nothing.png"), 0u);
    EXPECT_EQ(EmbeddedFile::Find(""), 0u);
    EXPECT_EQ(EmbeddedFile::Find(nullptr), 0u);
}

TEST(EmbeddedFileTest, OpenReadsTheEmbeddedBytes) {
    EmbeddedFile file;
    ASSERT_TRUE(file.Open("Res://hello.txt"));
    EXPECT_EQ(file.GetKind(), 2);
    EXPECT_EQ(file.GetSize(), 15u);
    char text[32] = {};
    EXPECT_EQ(file.Read(text, sizeof(text)), 15u);
    EXPECT_STREQ(text, "embedded hello\n");
    EXPECT_EQ(file.ReadByte(), -1);
    EXPECT_TRUE(file.IsEof());
}

TEST(EmbeddedFileTest, UnknownNameOrMissingSchemeDoesNotOpen) {
    EmbeddedFile file;
    EXPECT_FALSE(file.Open("res://nothing.png"));
    EXPECT_FALSE(file.Open("Hello.txt"));
    EXPECT_FALSE(file.Open("res:/"));
    EXPECT_EQ(file.ReadByte(), -1);
}

TEST(EmbeddedFileTest, UnreadByteAtTheStartStaysThere) {
    EmbeddedFile file;
    ASSERT_TRUE(file.Open("res://Hello.txt"));
    file.UnreadByte();
    EXPECT_EQ(file.Tell(), 0u);
    EXPECT_EQ(file.ReadByte(), 'e');
    file.UnreadByte();
    EXPECT_EQ(file.ReadByte(), 'e');
}

TEST(EmbeddedFileTest, SeekPastTheEndReadsNothing) {
    EmbeddedFile file;
    ASSERT_TRUE(file.Open("res://Hello.txt"));
    EXPECT_FALSE(file.Seek(100));
    char buffer[4];
    EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 0u);
    EXPECT_EQ(file.ReadByte(), -1);
    EXPECT_TRUE(file.Seek(9));
    EXPECT_EQ(file.ReadByte(), 'h');
}

} // namespace
} // namespace quarn
