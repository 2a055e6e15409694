#include "tools/ScriptReference.h"

#include "TestPaths.h"
#include "app/ClassRegistration.h"
#include "app/input/JoystickDevice.h"
#include "resources/Texture.h"
#include "script/machine/ScriptCommands.h"
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

// The commands' rows come from the machine's own list, numbered as the machine numbers them.
TEST(ScriptReference, ListsEveryCommandUnderTheMachinesNumber) {
    test::TempFolder folder;
    const std::string page = RunTool(folder, {"script", "reference"}).out;
    for (uint32_t c = 0; c < script_command::Count; ++c) {
        const std::string row =
            "| " + std::to_string(c) + " | `" + script_command::Mnemonics[c] + "` |";
        EXPECT_NE(page.find(row), std::string::npos) << row;
    }
}

// Each pad button's row names it as the device does and says what it is on the pad.
TEST(ScriptReference, ListsEveryPadButtonUnderItsNumberAndName) {
    test::TempFolder folder;
    const std::string page = RunTool(folder, {"script", "reference"}).out;
    for (int32_t button = 0; button < PadButtonCount; ++button) {
        const std::string row = "| " + std::to_string(button) + " | " + GetPadButtonName(button) +
                                " | " + GetPadButtonNotes()[static_cast<size_t>(button)] + " |";
        EXPECT_NE(page.find(row), std::string::npos) << row;
    }
    EXPECT_NE(page.find("| 16 | LT | the left shoulder button |"), std::string::npos);
}

// A method registered before others moves the generated names after it onto other methods:
// notes keyed by the old names then fail the page instead of describing the wrong method.
TEST(ScriptReference, NotesMovedOntoAnotherMethodFailTheReference) {
    // As the tool registers them.
    Texture::RegisterClass();
    RegisterAllClasses();
    ScriptReferenceProblems clean;
    WriteScriptReference(clean);
    EXPECT_TRUE(clean.errors.empty()) << clean.errors.front();

    // As if a method were registered before Texture's first: each of its notes now keyed by the
    // name of the method before it.
    std::vector<ScriptCallNote> notes(GetMethodNotes().begin(), GetMethodNotes().end());
    std::vector<std::string> keys;
    std::vector<size_t> texture;
    for (size_t i = 0; i < notes.size(); ++i) {
        if (std::string(notes[i].key).starts_with("Texture.")) {
            texture.push_back(i);
            keys.push_back(notes[i].key);
        }
    }
    ASSERT_GT(texture.size(), 2u);
    for (size_t k = texture.size() - 1; k > 0; --k) {
        notes[texture[k]].key = keys[k - 1].c_str();
    }
    notes.erase(notes.begin() + static_cast<std::ptrdiff_t>(texture[0]));
    ScriptReferenceProblems moved;
    WriteScriptReference(moved, notes);
    ASSERT_FALSE(moved.errors.empty());
    EXPECT_EQ(moved.errors.front(), "the note \"Texture.aaj\" (Fill) describes (int), but "
                                     "Texture.aaj is (int2, int)");

    test::TempFolder folder;
    ToolRun run = RunTool(folder, {"script", "reference"});
    EXPECT_EQ(run.status, 0) << run.err;
}

// A note kept for a method no longer registered names nothing: it fails the page.
TEST(ScriptReference, ANoteOfNoRegisteredMethodFailsTheReference) {
    Texture::RegisterClass();
    RegisterAllClasses();
    std::vector<ScriptCallNote> notes(GetMethodNotes().begin(), GetMethodNotes().end());
    notes.push_back({"Texture.zzz", "()", "", "Gone."});
    ScriptReferenceProblems problems;
    WriteScriptReference(problems, notes);
    EXPECT_EQ(problems.errors,
              std::vector<std::string>{"the note \"Texture.zzz\" names nothing registered"});
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
