#include "core/filesystem/FileReader.h"

#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/io/BufferFile.h"
#include "core/io/MemoryOutputStream.h"

#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

class FileReaderTest : public ::testing::Test {
protected:
    void SetUp() override { SetFileSystem(&fileSystem); }
    void TearDown() override { SetFileSystem(nullptr); }

    MemoryFileSystem fileSystem;
};

TEST_F(FileReaderTest, OpenPassesTheFlagsReleasesTheFileBeforeAndReadsComeFromIt) {
    fileSystem.Add("a.txt", "x");
    FileReader reader;
    EXPECT_TRUE(reader.Open("a.txt", true, true));
    EXPECT_EQ(fileSystem.LastOpenFlags(), 5u);
    EXPECT_TRUE(reader.Open("a.txt", false, true));
    EXPECT_EQ(fileSystem.LastOpenFlags(), 4u);
    EXPECT_TRUE(reader.Open("a.txt", true, false));
    EXPECT_EQ(fileSystem.LastOpenFlags(), 1u);
    EXPECT_EQ(fileSystem.LiveFiles(), 1);
    reader.Close();
    EXPECT_EQ(fileSystem.LiveFiles(), 0);
    fileSystem.Add("data.bin", std::string("one\0two\r\nthree\x34\x12", 16));
    ASSERT_TRUE(reader.Open("data.bin", false, false));
    EXPECT_EQ(reader.GetSize(), 16u);
    std::string text;
    reader.ReadString(text);
    EXPECT_EQ(text, "one");
    char line[8];
    EXPECT_EQ(reader.ReadLine(line, sizeof line), 3u);
    EXPECT_STREQ(line, "two");
    EXPECT_EQ(reader.ReadUntil(line, sizeof line, 'e'), 3u);
    EXPECT_EQ(reader.ReadByte(), 'e');
    EXPECT_EQ(reader.ReadUInt16(), 0x1234u);
    EXPECT_TRUE(reader.IsEof());
    EXPECT_TRUE(reader.Seek(4));
    EXPECT_EQ(reader.Tell(), 4u);
    EXPECT_EQ(reader.ReadByte(), 't');
}

TEST_F(FileReaderTest, ReadsWithoutAnOpenFileAreHarmless) {
    FileReader reader;
    EXPECT_FALSE(reader.Open("missing.txt", false, false));
    EXPECT_EQ(reader.ReadByte(), -1);
    reader.UnreadByte();
    char buffer[4] = "xyz";
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(reader.ReadLine(buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "");
    std::string text = "old";
    reader.ReadString(text);
    EXPECT_EQ(text, "");
    EXPECT_EQ(reader.GetSize(), 0u);
    EXPECT_EQ(reader.ReadUInt32(), 0xFFFFFFFFu);
    EXPECT_FALSE(reader.Seek(0));
    EXPECT_TRUE(reader.IsEof());
}

TEST(FileReaderWithoutFileSystem, OpenFailsInsteadOfCrashing) {
    ASSERT_EQ(GetFileSystem(), nullptr);
    EXPECT_FALSE(FileReader().Open("a.txt", false, false));
    EXPECT_FALSE(ForwardingOutputStream().Open("a.txt", 0));
}

// ForwardingOutputStream -------------------------------------------------------------------

TEST_F(FileReaderTest, ForwardedWritesArriveWhenTheStreamCloses) {
    ForwardingOutputStream stream;
    ASSERT_TRUE(stream.Open("out.txt", WriteScrambled));
    EXPECT_EQ(fileSystem.LastWriteFlags(), 32u);
    EXPECT_EQ(stream.Printf("%s = %d\n", "width", 640), 12);
    stream.PutChar('#');
    stream.PutString("ab");
    EXPECT_EQ(stream.Write("cd", 2), 2u);
    EXPECT_EQ(stream.Tell(), 17u);
    EXPECT_EQ(fileSystem.Written("out.txt"), nullptr);
    EXPECT_TRUE(stream.Close());
    ASSERT_NE(fileSystem.Written("out.txt"), nullptr);
    EXPECT_EQ(*fileSystem.Written("out.txt"), "width = 640\n#abcd");
}

TEST_F(FileReaderTest, ForwardedCloseReportsAFileThatDidNotArriveWholeOrWasNeverOpened) {
    fileSystem.FailCloses();
    ForwardingOutputStream cut;
    ASSERT_TRUE(cut.Open("cut.txt", 0));
    cut.PutString("text");
    EXPECT_FALSE(cut.Close());
    EXPECT_EQ(fileSystem.Written("cut.txt"), nullptr);
    // Writes without an open stream are dropped.
    ForwardingOutputStream stream;
    fileSystem.MarkReadOnly("out.txt");
    EXPECT_FALSE(stream.Open("out.txt", 0));
    EXPECT_EQ(stream.Printf("%d", 1), -1);
    stream.PutChar('a');
    stream.PutString("abc");
    EXPECT_EQ(stream.Write("abc", 3), 0u);
    stream.Flush();
    EXPECT_EQ(stream.Tell(), 0u);
    EXPECT_FALSE(stream.Close()) << "nothing was opened, so nothing arrived";
}

} // namespace
} // namespace quarn
