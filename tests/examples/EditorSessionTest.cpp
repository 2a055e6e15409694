#include "TestPaths.h"
#include "tests/app/player/PlayerRun.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

// The README's editor session as a user runs it: the committed input script, in a copy of the
// folder the build lays out (a game without a start scene, level.scene and pic.bmp), with a
// window of 240 x 340 as the README allows.
TEST(EditorSessionExample, TheInputScriptRunsInTheShippedFolder) {
    test::TempFolder folder;
    for (const auto& file : std::filesystem::directory_iterator(QUARN_EXAMPLES "/editor-session")) {
        std::filesystem::copy_file(file.path(), folder.Join(file.path().filename()));
    }
    folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"240,340\"\n");
    const test::PlayerExit run = test::RunPlayerIn(
        folder, "",
        std::string(test::Headless) + " QUARN_INPUT='" QUARN_TEST_DATA "/input/editor-session.txt'",
        "--editor");
    EXPECT_EQ(run.status, 0) << run.log;
    for (const char* line : {"Scene '~/level.scene' loaded\n", "Play...\n", "Stop...\n",
                             "Screenshot saved as ./Screenshots/screenshot0002.bmp\n",
                             "Scene saved as '~/level.scene'\n"}) {
        EXPECT_NE(run.log.find(line), std::string::npos) << line << run.log;
    }
    EXPECT_EQ(run.log.find("Input script line"), std::string::npos) << run.log;
    // The saved scene holds the sprite the node menu added, showing pic.bmp.
    EXPECT_NE(folder.ReadFile("level.scene").find("texture = \"pic.bmp\""), std::string::npos)
        << folder.ReadFile("level.scene");
}

} // namespace
} // namespace quarn
