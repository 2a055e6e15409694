#include "core/filesystem/DiskFile.h"

#include "core/filesystem/FileSystem.h"
#include "core/io/Scrambler.h"
#include "tests/support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

class DiskFileTest : public ::testing::Test {
protected:
    // A file holding `plain` stored through the scrambling pass.
    std::string WriteScrambled(const std::string& name, const std::string& plain) {
        Scrambler scrambler;
        std::string stored;
        for (char c : plain) {
            stored += static_cast<char>(scrambler.Scramble(static_cast<uint8_t>(c)));
        }
        return temp_.WriteFile(name, stored);
    }

    test::TempFolder temp_;
};

TEST_F(DiskFileTest, ReadsBytesThenMinusOneAtTheEnd) {
    DiskFile file;
    ASSERT_TRUE(file.Open(temp_.WriteFile("a.bin", "A\xff").c_str(), 0));
    EXPECT_EQ(file.GetSize(), 2u);
    EXPECT_EQ(file.ReadByte(), 'A');
    EXPECT_EQ(file.Tell(), 1u);
    EXPECT_EQ(file.ReadByte(), 0xff);
    EXPECT_EQ(file.ReadByte(), -1);
    EXPECT_TRUE(file.IsEof());
}

TEST_F(DiskFileTest, UnreadByteStepsBackOneByteAtMostAndNotBeforeTheStart) {
    DiskFile file;
    ASSERT_TRUE(file.Open(temp_.WriteFile("a.txt", "abc").c_str(), 0));
    file.UnreadByte();
    EXPECT_EQ(file.Tell(), 0u);
    file.ReadByte();
    file.ReadByte();
    file.UnreadByte();
    file.UnreadByte();
    EXPECT_EQ(file.ReadByte(), 'b');
    EXPECT_EQ(file.ReadByte(), 'c');
}

TEST_F(DiskFileTest, UnreadByteStepsTheScrambleStateBack) {
    DiskFile file;
    ASSERT_TRUE(file.Open(WriteScrambled("s.bin", "xyz").c_str(), OpenScrambled));
    EXPECT_EQ(file.ReadByte(), 'x');
    EXPECT_EQ(file.ReadByte(), 'y');
    file.UnreadByte();
    EXPECT_EQ(file.ReadByte(), 'y');
    EXPECT_EQ(file.ReadByte(), 'z');
}

TEST_F(DiskFileTest, SeekOnAScrambledFileRewindsAndReadsForward) {
    DiskFile file;
    ASSERT_TRUE(file.Open(WriteScrambled("s.bin", "hello").c_str(), OpenScrambled));
    for (int i = 0; i < 3; ++i) {
        file.ReadByte();
    }
    EXPECT_TRUE(file.Seek(1));
    EXPECT_EQ(file.ReadByte(), 'e');
    EXPECT_TRUE(file.Seek(4));
    EXPECT_EQ(file.ReadByte(), 'o');
    EXPECT_FALSE(file.Seek(9));
}

TEST_F(DiskFileTest, FolderListingIsSortedWithoutDotEntries) {
    temp_.WriteFile("dir/b.txt", "b");
    temp_.WriteFile("dir/A.txt", "a");
    std::filesystem::create_directory(temp_.Join("dir/c"));
    DiskFile folder(temp_.Join("dir"));
    EXPECT_TRUE(folder.IsDirectory());
    ASSERT_EQ(folder.ListFolder(), 3);
    EXPECT_EQ(folder.GetChild(0)->GetName(), temp_.Join("dir/A.txt"));
    EXPECT_EQ(folder.GetChild(1)->GetName(), temp_.Join("dir/b.txt"));
    EXPECT_FALSE(folder.GetChild(1)->IsDirectory());
    EXPECT_TRUE(folder.GetChild(2)->IsDirectory());
    EXPECT_EQ(folder.GetChild(3), nullptr);
    EXPECT_EQ(folder.GetChild(-1), nullptr);
}

TEST_F(DiskFileTest, ParentIsTheFolderPart) {
    std::unique_ptr<File> parent = DiskFile(temp_.Join("dir/")).GetParent();
    EXPECT_EQ(parent->GetName(), temp_.Path());
    EXPECT_TRUE(parent->IsDirectory());
    EXPECT_EQ(DiskFile("/tmp").GetParent()->GetName(), "/");
    EXPECT_EQ(DiskFile("name").GetParent()->GetName(), "");
}

} // namespace
} // namespace quarn
