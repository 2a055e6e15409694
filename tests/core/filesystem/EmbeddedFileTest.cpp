#include "core/filesystem/EmbeddedFile.h"

#include "core/filesystem/EmbeddedFiles.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

TEST(EmbeddedFileTest, FindAnswersIndexPlusOneWithoutCase) {
    const uint32_t id = EmbeddedFile::Find("HELLO.txt");
    ASSERT_NE(id, 0u);
    EXPECT_STREQ(EmbeddedFileTable()[id - 1].name, "Hello.txt");
    EXPECT_EQ(EmbeddedFile::Find("nothing.png"), 0u);
    EXPECT_EQ(EmbeddedFile::Find(""), 0u);
    EXPECT_EQ(EmbeddedFile::Find(nullptr), 0u);
}

TEST(EmbeddedFileTest, OpenReadsTheEmbeddedBytesOnlyUnderTheScheme) {
    EmbeddedFile file;
    EXPECT_FALSE(file.Open("res://nothing.png"));
    EXPECT_FALSE(file.Open("Hello.txt"));
    EXPECT_FALSE(file.Open("res:/"));
    EXPECT_EQ(file.ReadByte(), -1);
    ASSERT_TRUE(file.Open("Res://hello.txt"));
    char text[32] = {};
    EXPECT_EQ(file.Read(text, sizeof(text)), 15u);
    EXPECT_STREQ(text, "embedded hello\n");
    EXPECT_EQ(file.ReadByte(), -1);
    EXPECT_TRUE(file.IsEof());
}

} // namespace
} // namespace quarn
