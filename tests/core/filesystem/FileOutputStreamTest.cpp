#include "core/filesystem/FileOutputStream.h"

#include "core/filesystem/DiskFileSystem.h"
#include "tests/support/TempFolder.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <iterator>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quarn {
namespace {

class FileOutputStreamTest : public ::testing::Test {
protected:
    void SetUp() override { files_.SetBaseFolder(temp_.Path().c_str()); }

    // Only the target: no temporary file left beside it.
    size_t CountEntries() const {
        auto entries = std::filesystem::directory_iterator(temp_.Path());
        return static_cast<size_t>(std::distance(begin(entries), end(entries)));
    }

    test::TempFolder temp_;
    DiskFileSystem files_;
};

TEST_F(FileOutputStreamTest, ScrambledTextOfAnyLengthIsStoredScrambledAndReadsBack) {
    const std::string line(3000, 'q');
    std::unique_ptr<OutputStream> stream = files_.OpenForWrite("s.bin", WriteScrambled);
    ASSERT_NE(stream, nullptr);
    stream->PutString("AB");
    EXPECT_EQ(stream->Printf("<%s>", line.c_str()), 3002);
    ASSERT_TRUE(stream->Close());
    EXPECT_EQ(temp_.ReadFile("s.bin").substr(0, 2), "\x41\x18");
    std::unique_ptr<File> file = files_.Open("s.bin", OpenScrambled);
    ASSERT_NE(file, nullptr);
    std::string text(file->GetSize(), '\0');
    file->Read(text.data(), static_cast<uint32_t>(text.size()));
    EXPECT_EQ(text, "AB<" + line + ">");
}

TEST_F(FileOutputStreamTest, TargetKeepsItsOldContentUntilCloseAndItsPermissionBits) {
    const std::string path = temp_.WriteFile("t.txt", "old");
    chmod(path.c_str(), 0640);
    {
        FileOutputStream stream;
        ASSERT_TRUE(stream.Open(path.c_str(), 0));
        stream.Printf("%d%s", 42, "new");
        EXPECT_EQ(stream.Tell(), 5u);
        stream.Flush();
        EXPECT_EQ(temp_.ReadFile("t.txt"), "old");
        EXPECT_TRUE(stream.Close());
    }
    EXPECT_EQ(temp_.ReadFile("t.txt"), "42new");
    EXPECT_EQ(CountEntries(), 1u);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    // Destroying an open stream writes the file.
    {
        FileOutputStream stream;
        ASSERT_TRUE(stream.Open(path.c_str(), 0));
        stream.PutChar('x');
    }
    EXPECT_EQ(temp_.ReadFile("t.txt"), "x");
}

// A link stays a link and the file it names gets the bytes, created when it is not there yet;
// a link whose folder is missing fails and stays as it was.
TEST_F(FileOutputStreamTest, WritingThroughALinkWritesTheFileItNames) {
    struct Case {
        const char* link;
        const char* target;  // as the link holds it
        const char* written; // relative to the temporary folder
        bool opens;
    };
    temp_.WriteFile("real.txt", "old");
    std::filesystem::create_directory(temp_.Join("sub"));
    const Case cases[] = {
        {"existing", "real.txt", "real.txt", true},
        {"dangling", "sub/new.txt", "sub/new.txt", true},
        {"chained", "dangling", "sub/new.txt", true},
        {"nowhere", "missing/x.txt", nullptr, false},
        {"loop", "loop", nullptr, false},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.link);
        std::filesystem::create_symlink(each.target, temp_.Join(each.link));
        FileOutputStream stream;
        ASSERT_EQ(stream.Open(temp_.Join(each.link).c_str(), 0), each.opens);
        if (!each.opens) {
            continue;
        }
        stream.PutString(each.link);
        ASSERT_TRUE(stream.Close());
        EXPECT_TRUE(std::filesystem::is_symlink(temp_.Join(each.link)));
        EXPECT_EQ(temp_.ReadFile(each.written), each.link);
    }
}

TEST_F(FileOutputStreamTest, TemporariesOfKilledSavesGoWithTheNextSave) {
    pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);
    const std::string dead = ".t.txt." + std::to_string(child) + "-3.tmp";
    const std::string live = ".t.txt." + std::to_string(getpid()) + "-99.tmp";
    for (const std::string& name : {dead, live, std::string(".notes.tmp")}) {
        temp_.WriteFile(name, "left over");
    }
    FileOutputStream stream;
    ASSERT_TRUE(stream.Open(temp_.Join("t.txt").c_str(), 0));
    ASSERT_TRUE(stream.Close());
    EXPECT_FALSE(std::filesystem::exists(temp_.Join(dead)));
    EXPECT_TRUE(std::filesystem::exists(temp_.Join(live)));
    EXPECT_TRUE(std::filesystem::exists(temp_.Join(".notes.tmp")));
}

// The file-size limit makes the disk refuse bytes for root too, like a full disk; the reason is
// kept for the log line.
TEST_F(FileOutputStreamTest, FailedWriteLeavesTheOldFileWholeAndSaysWhy) {
    const std::string path = temp_.WriteFile("t.txt", "old content");
    FileOutputStream stream;
    ASSERT_TRUE(stream.Open(path.c_str(), 0));
    const std::string big(200000, 'z');
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    stream.Write(big.data(), static_cast<uint32_t>(big.size()));
    const bool closed = stream.Close();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(closed);
    EXPECT_STREQ(LastFileFailure(), "File too large");
    EXPECT_EQ(temp_.ReadFile("t.txt"), "old content");
    EXPECT_EQ(CountEntries(), 1u);
}

} // namespace
} // namespace quarn

namespace quarn {
namespace {

// What a save into a read-only folder says, learnt in a child process: as root, permission bits
// stop no write, so there the folder is made read-only by a read-only mount of its own, in a
// mount namespace of the child's. "skip" when the system allows neither.
std::string ReasonOfASaveIntoAReadOnlyFolder(const std::string& folder) {
    int channel[2];
    if (pipe(channel) != 0) {
        return "skip: no pipe";
    }
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        std::string reason;
        if (geteuid() != 0) {
            chmod(folder.c_str(), 0555);
        } else if (unshare(CLONE_NEWNS) != 0 ||
                   mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                   mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
                   mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                         nullptr) != 0) {
            reason = "skip: no mount namespace";
        }
        if (reason.empty()) {
            FileOutputStream stream;
            reason = stream.Open((folder + "/save.txt").c_str(), 0) ? "opened" : LastFileFailure();
        }
        const ssize_t written = write(channel[1], reason.data(), reason.size());
        _exit(written == static_cast<ssize_t>(reason.size()) ? 0 : 1);
    }
    close(channel[1]);
    std::string reason;
    char part[256];
    for (ssize_t got; (got = read(channel[0], part, sizeof part)) > 0;) {
        reason.append(part, static_cast<size_t>(got));
    }
    close(channel[0]);
    waitpid(child, nullptr, 0);
    chmod(folder.c_str(), 0755);
    return reason;
}

TEST(FileOutputStreamFailureTest, ASaveIntoAReadOnlyFolderSaysWhy) {
    test::TempFolder temp;
    const std::string reason = ReasonOfASaveIntoAReadOnlyFolder(temp.Path());
    if (reason.starts_with("skip")) {
        GTEST_SKIP() << reason;
    }
    EXPECT_EQ(reason, geteuid() != 0 ? "Permission denied" : "Read-only file system");
}

} // namespace
} // namespace quarn
