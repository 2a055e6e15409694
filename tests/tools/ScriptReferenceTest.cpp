#include "TestPaths.h"
#include "tests/support/TempFolder.h"
#include "tests/tools/ToolRun.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace quarn {
namespace {

using test::RunTool;
using test::ToolRun;

std::string SourceFile(const std::string& relative) {
    std::ifstream file(std::string(QUARN_SOURCE_DIR) + "/" + relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// The page is generated from the registry: an engine change that moves a class, a method or a
// function shows as a difference here, and one the notes do not describe as a warning.
TEST(ScriptReference, TheCommittedPageIsWhatTheToolPrintsAndDescribesEveryName) {
    test::TempFolder folder;
    ToolRun run = RunTool(folder, {"script", "reference"});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "") << "describe these in tools/ScriptReferenceNotes.cpp";
    EXPECT_TRUE(run.out == SourceFile("docs/scripting.md"))
        << "docs/scripting.md is stale: write it again with quarn-tool script reference";
}

// The worked program a user starts from assembles, its method found where the page says.
TEST(ScriptReference, ItsWorkedProgramAssemblesAndCallsTheMethodThePageNames) {
    test::TempFolder folder;
    const std::string page = RunTool(folder, {"script", "reference"}).out;
    const size_t start = page.find("```\n; mover:");
    ASSERT_NE(start, std::string::npos);
    const size_t end = page.find("```\n", start + 4);
    ASSERT_NE(end, std::string::npos);
    folder.WriteFile("mover.asm", page.substr(start + 4, end - start - 4));
    ToolRun assembled = RunTool(folder, {"script", "asm", "mover.asm", "mover"});
    ASSERT_EQ(assembled.status, 0) << assembled.err;
    // IsDown is the KeyboardInterface's 28th method, after Entity's and Node's 25.
    const std::string row = "| 27 | `arp` | IsDown | `(int):bool` |";
    EXPECT_NE(page.find(row), std::string::npos);
    ToolRun printed = RunTool(folder, {"script", "dis", "mover.script"});
    EXPECT_NE(printed.out.find("    method 27 1 "), std::string::npos) << printed.out;
}

} // namespace
} // namespace quarn
