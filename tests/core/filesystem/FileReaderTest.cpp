#include "core/filesystem/FileReader.h"

#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"

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

TEST_F(FileReaderTest, ReadsWithoutAnOpenFileFindNothing) {
    FileReader reader;
    EXPECT_FALSE(reader.Open("missing.txt", false, false));
    EXPECT_EQ(reader.ReadByte(), -1);
    char buffer[4] = "xyz";
    EXPECT_EQ(reader.ReadLine(buffer, sizeof buffer), 0u);
    SetFileSystem(nullptr);
    EXPECT_FALSE(FileReader().Open("a.txt", false, false));
    EXPECT_FALSE(ForwardingOutputStream().Open("a.txt", 0));
}

// ForwardingOutputStream -------------------------------------------------------------------

TEST_F(FileReaderTest, ForwardedWritesArriveWhenTheStreamCloses) {
    ForwardingOutputStream stream;
    ASSERT_TRUE(stream.Open("out.txt", WriteScrambled));
    EXPECT_EQ(fileSystem.LastWriteFlags(), 32u);
    EXPECT_EQ(stream.Printf("%s = %d\n", "width", 640), 12);
    EXPECT_EQ(stream.Write("#abcd", 5), 5u);
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
    EXPECT_EQ(stream.Write("abc", 3), 0u);
    EXPECT_FALSE(stream.Close()) << "nothing was opened, so nothing arrived";
}

} // namespace
} // namespace quarn
