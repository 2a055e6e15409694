#include "core/filesystem/ScriptFileAccess.h"

#include "core/debug/Log.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/filesystem/FileSystem.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/OpenWays.h"
#include "tests/support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

namespace fs = std::filesystem;

// A game folder and a user folder side by side, with a folder outside both.
class ScriptFileAccessTestBase : public ::testing::Test {
protected:
    void SetUp() override {
        temp_.WriteFile("game/a.txt", "a");
        temp_.WriteFile("game/sub/b.txt", "b");
        temp_.WriteFile("user/save.txt", "s");
        temp_.WriteFile("outside/secret.txt", "x");
        files_.SetBaseFolder(temp_.Join("game").c_str());
        files_.SetUserFolder(temp_.Join("user/").c_str());
    }
    void Link(const std::string& target, const std::string& link) {
        fs::create_symlink(target, temp_.Join(link));
    }

    test::TempFolder temp_;
    DiskFileSystem files_;
};

class ScriptFileAccessTest : public test::WithOpenWays<ScriptFileAccessTestBase> {};
QUARN_BOTH_OPEN_WAYS(ScriptFileAccessTest);

TEST_P(ScriptFileAccessTest, PathsStayInsideTheGameTheUserFolderAndTheBuiltInFiles) {
    Link(temp_.Join("outside"), "game/out");            // a link leading out
    Link("sub", "game/in");                             // a link staying inside
    Link(temp_.Join("outside"), "game/Upper");          // found only without case
    Link(temp_.Join("outside/new.txt"), "game/dangle"); // a write would create its target
    Link("loop2", "game/loop1");
    Link("loop1", "game/loop2");
    Link("../outside", "user/away");
    const struct {
        std::string path;
        bool inside;
    } cases[] = {
        {"a.txt", true},
        {"sub/../a.txt", true},
        {"missing/deeper/new.txt", true},
        {"sub\\b.txt", true},
        {temp_.Join("game/sub/b.txt"), true},
        {"user://save.txt", true},
        {"USER://new/deeper.txt", true},
        {"res://config.txt", true},
        {"in/b.txt", true},
        {"../outside/secret.txt", false},
        {"sub/../../outside/secret.txt", false},
        {"..\\outside\\secret.txt", false},
        {"..", false},
        {temp_.Join("outside/secret.txt"), false},
        {"/etc/passwd", false},
        {"C:/Windows/win.ini", false},
        {"http://example.com/a.txt", false},
        {"user://../outside/secret.txt", false},
        {"user://../game/a.txt", false},
        {"user://away/secret.txt", false},
        {"out/secret.txt", false},
        {"upper/secret.txt", false},
        {"dangle", false},
        {"loop1/x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsInsideGame(files_, c.path.c_str()), c.inside) << c.path;
    }
}

TEST_P(ScriptFileAccessTest, NativePathsAreJudgedWhereTheyLie) {
    EXPECT_TRUE(IsNativeInsideGame(files_, temp_.Join("game/a.txt").c_str()));
    EXPECT_TRUE(IsNativeInsideGame(files_, temp_.Join("user/save.txt").c_str()));
    EXPECT_FALSE(IsNativeInsideGame(files_, temp_.Join("game/../outside").c_str()));
    EXPECT_FALSE(IsNativeInsideGame(files_, "/"));
}

TEST_P(ScriptFileAccessTest, AnArchiveRootKeepsPathsInsideTheArchive) {
    temp_.WriteFile("game/data.zoo", "PK");
    files_.SetBaseFolder(temp_.Join("game/data.zoo/").c_str());
    EXPECT_TRUE(IsInsideGame(files_, "levels/one.scene"));
    EXPECT_FALSE(IsInsideGame(files_, "../a.txt"));
    EXPECT_TRUE(IsInsideGame(files_, "user://save.txt"));
    files_.SetBaseFolder("res://");
    EXPECT_TRUE(IsInsideGame(files_, "config.txt"));
    EXPECT_FALSE(IsInsideGame(files_, temp_.Join("game/a.txt").c_str()));
}

TEST_P(ScriptFileAccessTest, ARefusalIsLoggedOnceWithTheFunctionAndThePath) {
    FileSystem* previous = GetFileSystem();
    SetFileSystem(&files_);
    test::CapturingLogSink log;
    EXPECT_TRUE(ScriptMayReach("OpenRead", "a.txt"));
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_FALSE(ScriptMayReach("OpenRead", "../outside/secret.txt"));
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_NE(log.Lines()[0].text.find("OpenRead"), std::string::npos);
    EXPECT_NE(log.Lines()[0].text.find("\"../outside/secret.txt\""), std::string::npos);
    SetFileSystem(nullptr);
    EXPECT_FALSE(ScriptMayReach("OpenRead", "a.txt"));
    SetFileSystem(previous);
}

// A path of any length leaves the line room for the reason: its middle gives way instead.
TEST_P(ScriptFileAccessTest, ARefusalOfALongPathStillSaysWhy) {
    FileSystem* previous = GetFileSystem();
    SetFileSystem(&files_);
    for (const size_t length : {size_t{1000}, size_t{4090}, size_t{5000}, size_t{100000}}) {
        const std::string path = "../outside/" + std::string(length, 'x') + "/secret.txt";
        test::CapturingLogSink log;
        EXPECT_FALSE(ScriptMayReach("OpenRead", path.c_str()));
        ASSERT_EQ(log.Lines().size(), 1u);
        const std::string& line = log.Lines()[0].text;
        EXPECT_TRUE(line.starts_with("OpenRead refused \"../outside/xxx")) << length;
        EXPECT_TRUE(line.ends_with("xxx/secret.txt\": " + std::string(OutsideGameReason)))
            << length;
        const bool shortened = path.size() > LoggedPathLength;
        EXPECT_EQ(line.find(" characters left out]") != std::string::npos, shortened) << length;
    }
    SetFileSystem(previous);
}

} // namespace
} // namespace quarn
