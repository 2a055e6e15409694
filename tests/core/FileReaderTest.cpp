#include "core/FileReader.h"

#include "core/BufferFile.h"
#include "core/MemoryOutputStream.h"
#include "resources/FileSystem.h"

#include <gtest/gtest.h>
#include <map>
#include <string>

namespace quarn {
namespace {

// Serves files from memory and keeps what is written, so the readers are tested without a disk.
class FakeFileSystem final : public FileSystem {
public:
    std::map<std::string, std::string> files;
    std::map<std::string, std::string> written;
    uint32_t lastOpenFlags = 0;
    uint32_t lastWriteFlags = 0;
    bool closeSucceeds = true;
    int openFiles = 0;

    // A memory file that tells the fake when it goes away.
    class ServedFile final : public File {
    public:
        ServedFile(FakeFileSystem& owner, const std::string& bytes)
            : owner_(owner), bytes_(bytes), file_(bytes_.data(), uint32_t(bytes_.size())) {
            ++owner_.openFiles;
        }
        ~ServedFile() override { --owner_.openFiles; }
        int ReadByte() override { return file_.ReadByte(); }
        void UnreadByte() override { file_.UnreadByte(); }
        uint32_t Read(void* buffer, uint32_t count) override { return file_.Read(buffer, count); }
        uint32_t GetSize() override { return file_.GetSize(); }
        bool Seek(uint32_t position) override { return file_.Seek(position); }
        uint32_t Tell() override { return file_.Tell(); }
        bool IsEof() override { return file_.IsEof(); }

    private:
        FakeFileSystem& owner_;
        std::string bytes_;
        BufferFile file_;
    };

    // Collects in memory; the text reaches `written` only on a successful Close.
    class CollectingStream final : public OutputStream {
    public:
        CollectingStream(FakeFileSystem& owner, std::string path)
            : owner_(owner), path_(std::move(path)) {}
        int VPrintf(const char* format, va_list arguments) override QUARN_PRINTF(2, 0) {
            return memory_.VPrintf(format, arguments);
        }
        void PutChar(int byte) override { memory_.PutChar(byte); }
        uint32_t Write(const void* data, uint32_t count) override {
            return memory_.Write(data, count);
        }
        void Flush() override {}
        uint32_t Tell() override { return memory_.Tell(); }
        bool Close() override {
            if (owner_.closeSucceeds) {
                owner_.written[path_] = std::string(memory_.GetData(), memory_.GetPosition());
            }
            return owner_.closeSucceeds;
        }

    private:
        FakeFileSystem& owner_;
        std::string path_;
        MemoryOutputStream memory_{1024};
    };

    const char* GetName() const override { return "fake"; }
    std::unique_ptr<File> OpenNativeFile(const char*) override { return nullptr; }
    std::unique_ptr<File> Open(const char* path, uint32_t flags) override {
        lastOpenFlags = flags;
        auto found = files.find(path);
        if (found == files.end()) {
            return nullptr;
        }
        return std::make_unique<ServedFile>(*this, found->second);
    }
    std::unique_ptr<OutputStream> OpenForWrite(const char* path, uint32_t flags) override {
        lastWriteFlags = flags;
        if (std::string(path).starts_with("readonly/")) {
            return nullptr;
        }
        return std::make_unique<CollectingStream>(*this, path);
    }
    uint32_t GetAttributes(const char*) override { return FileMissing; }
    bool SetReadOnly(const char*, uint32_t, uint32_t) override { return false; }
    void SetBaseFolder(const char*) override {}
    const char* GetBaseFolder() const override { return ""; }
    bool IsInBaseFolder(const char*) const override { return false; }
    bool GetNativePath(PathString& out, const char* path) const override {
        out.Set(path);
        return true;
    }
    const char* GetRelativePath(const char* path) const override { return path; }
    void SetUserFolder(const char*) override {}
    const char* GetUserFolder() const override { return ""; }
    uint32_t FindEmbeddedFile(const char*) const override { return 0; }
    bool Exists(const char* path) override { return files.count(path) != 0; }
    bool DirectoryExists(const char*) override { return false; }
    uint64_t GetFileTime(const char*) override { return 0; }
    bool MakeDirectory(const char*) override { return false; }
    bool RemoveFolder(const char*, bool) override { return false; }
    bool MakeDirectories(const char*) override { return false; }
    bool Copy(const char*, const char*) override { return false; }
    bool CopyCreatingFolders(const char*, const char*) override { return false; }
    bool CreateEmptyFile(const char*) override { return false; }
    bool RemoveFile(const char*) override { return false; }
    PathString GetFolderPart(const char*) const override { return PathString(); }
};

class FileReaderTest : public ::testing::Test {
protected:
    void SetUp() override { SetFileSystem(&fileSystem); }
    void TearDown() override { SetFileSystem(nullptr); }

    FakeFileSystem fileSystem;
};

// FileReader -------------------------------------------------------------------------------

TEST_F(FileReaderTest, OpenPassesTheTextAndScrambledFlags) {
    fileSystem.files["a.txt"] = "x";
    FileReader reader;
    EXPECT_TRUE(reader.Open("a.txt", true, true));
    EXPECT_EQ(fileSystem.lastOpenFlags, 5u);
    EXPECT_TRUE(reader.Open("a.txt", false, true));
    EXPECT_EQ(fileSystem.lastOpenFlags, 4u);
    EXPECT_TRUE(reader.Open("a.txt", true, false));
    EXPECT_EQ(fileSystem.lastOpenFlags, 1u);
    EXPECT_TRUE(reader.GetTextFlag());
    EXPECT_EQ(reader.GetName(), "a.txt");
    EXPECT_EQ(fileSystem.openFiles, 1) << "opening again releases the file opened before";
    reader.Close();
    EXPECT_EQ(fileSystem.openFiles, 0);
}

TEST_F(FileReaderTest, ReadsComeFromTheOpenedFile) {
    fileSystem.files["data.bin"] = std::string("one\0two\r\nthree\x34\x12", 16);
    FileReader reader;
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
    EXPECT_FALSE(reader.IsOpen());
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
    FileReader reader;
    EXPECT_FALSE(reader.Open("a.txt", false, false));
    ForwardingOutputStream stream;
    EXPECT_FALSE(stream.Open("a.txt", 0));
}

// ForwardingOutputStream -------------------------------------------------------------------

TEST_F(FileReaderTest, ForwardedWritesArriveWhenTheStreamCloses) {
    ForwardingOutputStream stream;
    ASSERT_TRUE(stream.Open("out.txt", WriteScrambled));
    EXPECT_EQ(fileSystem.lastWriteFlags, 32u);
    EXPECT_EQ(stream.GetPath(), "out.txt");
    EXPECT_EQ(stream.Printf("%s = %d\n", "width", 640), 12);
    stream.PutChar('#');
    stream.PutString("ab");
    EXPECT_EQ(stream.Write("cd", 2), 2u);
    EXPECT_EQ(stream.Tell(), 17u);
    EXPECT_EQ(fileSystem.written.count("out.txt"), 0u);
    EXPECT_TRUE(stream.Close());
    EXPECT_EQ(fileSystem.written["out.txt"], "width = 640\n#abcd");
    EXPECT_FALSE(stream.IsOpen());
}

TEST_F(FileReaderTest, ForwardedCloseReportsAFileThatDidNotArriveWhole) {
    fileSystem.closeSucceeds = false;
    ForwardingOutputStream stream;
    ASSERT_TRUE(stream.Open("out.txt", 0));
    stream.PutString("text");
    EXPECT_FALSE(stream.Close());
    EXPECT_EQ(fileSystem.written.count("out.txt"), 0u);
}

TEST_F(FileReaderTest, WritesWithoutAnOpenStreamAreDropped) {
    ForwardingOutputStream stream;
    EXPECT_FALSE(stream.Open("readonly/out.txt", 0));
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
