#pragma once

// A downloaded game that reaches for the user's files: its start scene names, in each way a
// path may lead out, a table, a picture and a script lying outside its folder, and runs a
// script of its own that reads each table and opens its file itself. The editor, the player
// and the tools that run a game's frames must reach none of them.

#include "TestPaths.h"
#include "core/filesystem/FileSystem.h"
#include "tests/support/TempFolder.h"
#include "tests/tools/ToolRun.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace quarn::test {

// Prints the record count of its `table`, then the handle OpenRead gives for its `path`.
inline constexpr const char* PeekProgram = "header 0 0\nstack 32\n"
                                           "var \"table\" DataBase kind=2\n"
                                           "var \"path\" string kind=2\n"
                                           "function \"update\" (float, int) at=@update\n"
                                           "function \"integrate\" () at=@integrate\n"
                                           "update:\n    call @integrate\n    return 2 0\n"
                                           "integrate:\n    line\n    push 0\n    load 1\n"
                                           "    method method:DataBase.avu 0\n    func 29\n"
                                           "    func 36\n    line\n    push 1\n    load 1\n"
                                           "    push 0\n    func 97\n    func 29\n    func 36\n"
                                           "    return 0 0\n";
// Lies outside the game and says so should it ever run.
inline constexpr const char* OutsideProgram = "header 0 0\nstack 32\n"
                                              "function \"update\" (float, int) at=@update\n"
                                              "update:\n    line\n    text \"outside ran\"\n"
                                              "    func 36\n    return 2 0\n";
// What the outside table holds; no log or output may show it.
inline constexpr const char* OutsideSecret = "hunter2";

// The three ways the scene names a file outside: "~" is the test's folder, `away` a link in the
// game to the outside folder.
struct OutsideForm {
    const char* name;
    const char* path; // without its extension
};
inline constexpr OutsideForm OutsideForms[] = {
    {"absolute", "~/outside/secret"},
    {"climbing", "../outside/secret"},
    {"link", "away/secret"},
};

inline std::string OutsidePath(const OutsideForm& form, const TempFolder& folder) {
    const std::string path = form.path;
    return path.starts_with("~") ? folder.Path() + path.substr(1) : path;
}

inline std::string Lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// FOLDER/game with `config` and main.scene (a root, a physics master, and for each form a
// table, a picture, a script outside and the peek script over the table), FOLDER/outside.
inline void WriteHostileGame(const TempFolder& folder, const std::string& config) {
    std::ifstream picture(QUARN_TEST_DATA "/images/bits24.bmp", std::ios::binary);
    folder.WriteFile("outside/secret.bmp", std::string(std::istreambuf_iterator<char>(picture),
                                                       std::istreambuf_iterator<char>()));
    folder.WriteFile("outside/secret.csv", std::string(OutsideSecret) + ";SECRET\n");
    folder.WriteFile("outside/secret.asm", OutsideProgram);
    folder.WriteFile("game/peek.asm", PeekProgram);
    folder.WriteFile("game/config.txt", config);
    for (const char* program : {"game/peek", "outside/secret"}) {
        const ToolRun run =
            RunTool(folder, {"script", "asm", std::string(program) + ".asm", program});
        ASSERT_EQ(run.status, 0) << run.err;
    }
    std::filesystem::create_directory_symlink("../outside", folder.Join("game/away"));
    std::string objects = "obj2 {\n\tclass = \"PhysicsMaster\"\n\tparent = 1\n}\n";
    int id = 2;
    for (const OutsideForm& form : OutsideForms) {
        const std::string path = OutsidePath(form, folder);
        const auto object = [&](const char* className, const std::string& lines) {
            objects += "obj" + std::to_string(++id) + " {\n\tclass = \"" + className +
                       "\"\n\tname = \"" + form.name + "\"\n\tparent = 1\n" + lines + "}\n";
        };
        const int table = id + 1;
        object("DataBase", "\tdatabase = \"" + path + ".csv\"\n");
        object("Sprite", "\ttexture = \"" + path + ".bmp\"\n");
        object("Script", "\tscriptfile = \"" + path + ".script\"\n");
        object("Script", "\tscriptfile = \"peek.script\"\n\ttable = " + std::to_string(table) +
                             "\n\tpath = \"" + path + ".csv\"\n");
    }
    folder.WriteFile("game/main.scene",
                     "version = 44\nnum_nodes = " + std::to_string(id) +
                         "\nobj1 {\n\tclass = \"Node\"\n\tname = \"root\"\n\tflags = 1\n}\n" +
                         objects);
}

// What a run of the game said: every outside file it names left unloaded with the player's
// reason (resources are named in lower case), each open of its scripts refused, nothing of the
// outside read or run.
inline void ExpectNothingReachedOutside(const std::string& said, const TempFolder& folder) {
    EXPECT_EQ(said.find("outside ran"), std::string::npos) << said;
    EXPECT_EQ(said.find(OutsideSecret), std::string::npos) << said;
    for (const OutsideForm& form : OutsideForms) {
        const std::string path = OutsidePath(form, folder);
        for (const char* extension : {".csv", ".bmp", ".script"}) {
            EXPECT_NE(Lowered(said).find(Lowered("Missing resource: \"" + path + extension +
                                                 "\" (" + OutsideGameReason + ")")),
                      std::string::npos)
                << form.name << extension << "\n"
                << said;
        }
        EXPECT_NE(said.find("OpenRead refused \"" + path + ".csv\": " + OutsideGameReason),
                  std::string::npos)
            << form.name << "\n"
            << said;
    }
}

} // namespace quarn::test
