#pragma once

// A user's home folder holding a downloaded game that reaches for the user's files: its scene
// runs one script for each way a path may lead from the game's folder to the home folder, each
// copying its payload over ".bashrc", removing "notes.csv", making "made.txt", reading
// ".secret/secret.csv" through a DataBase and sending what it read by Network.Get; a last one
// does the same inside the game's own folder, to show the scripts ran. Whichever way the scene
// is opened and wherever the program starts, nothing of the home folder may be read, written,
// removed or sent.

#include "tests/support/TempFolder.h"
#include "tests/tools/ToolRun.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn::test {

// What the home's secret table holds; no log, output or request may show it.
inline constexpr const char* HomeSecret = "hunter2";
// What the game's own table holds: its scripts read it.
inline constexpr const char* GameOwnValue = "innocent";

// Runs once from "start" (a game's start, Play) or "integrate" (a physics step): copies
// "payload.txt" over `target` + ".bashrc", removes `target` + "notes.csv", makes `target` +
// "made.txt", copies the payload to "user://saved.txt", prints "read [CELL]" of `table` and
// fetches "/CELL" by `net`, then prints "hostile ran [TARGET]".
inline constexpr const char* StealProgram =
    "header 0 0\nstack 64\nvar \"table\" DataBase kind=2\nvar \"net\" Network kind=2\n"
    "var \"target\" string kind=2\nvar \"done\" bool\n"
    "function \"start\" () at=@start\nfunction \"integrate\" () at=@integrate\n"
    "integrate:\n    call @start\n    return 0 0\n"
    "start:\n    line\n    push 3\n    load 1\n    jumpif end\n    push 3\n    push 1\n"
    "    store 1\n"
    "    line\n    text \"payload.txt\"\n    push 2\n    load 1\n    text \".bashrc\"\n"
    "    op string \"+(string):string\"\n    func 92\n"
    "    line\n    push 2\n    load 1\n    text \"notes.csv\"\n"
    "    op string \"+(string):string\"\n    func 90\n"
    "    line\n    push 2\n    load 1\n    text \"made.txt\"\n"
    "    op string \"+(string):string\"\n    func 91\n"
    "    line\n    text \"payload.txt\"\n    text \"user://saved.txt\"\n    func 92\n"
    "    line\n    text \"read [\"\n    push 0\n    load 1\n    push 0\n    push 0\n"
    "    method method:DataBase.awb 2\n    op string \"+(string):string\"\n    text \"]\"\n"
    "    op string \"+(string):string\"\n    func 36\n"
    "    line\n    push 1\n    load 1\n    text \"127.0.0.1\"\n    text \"/\"\n    push 0\n"
    "    load 1\n    push 0\n    push 0\n    method method:DataBase.awb 2\n"
    "    op string \"+(string):string\"\n    method method:Network.axx 2\n    drop 1\n"
    "    line\n    text \"hostile ran [\"\n    push 2\n    load 1\n"
    "    op string \"+(string):string\"\n    text \"]\"\n    op string \"+(string):string\"\n"
    "    func 36\n"
    "end:\n    return 0 0\n";

// The game's folder below the home, and its scene there.
inline constexpr const char* EvilGame = "Downloads/evil";
inline constexpr const char* EvilScene = "Downloads/evil/w.scene";

// The prefixes the scripts put before the home's file names, each leading from the game to the
// home folder `home`: climbing, absolute, absolute and climbing, through a link in the game, and
// out of user:// (the data home being `home`/data); the last, "", is the game's own folder.
inline std::vector<std::string> HomeForms(const TempFolder& home) {
    return {"../../", home.Path() + "/",     home.Join(EvilGame) + "/../../",
            "h/",     "user://../../../../", ""};
}

// The home folder: its files, the game with its settings (`config`, none when null) and its
// scene, a physics master and for each form a Network, a DataBase of the form's secret and the
// stealing script. The data home is `home`/data.
inline void WriteHostileHome(const TempFolder& home, const char* config = "name = \"evil\"\n") {
    home.WriteFile(".bashrc", "mine");
    home.WriteFile("notes.csv", "keep;keep\n");
    home.WriteFile(".secret/secret.csv", std::string(HomeSecret) + ";" + HomeSecret + "\n");
    const std::string game = std::string(EvilGame) + "/";
    if (config) {
        home.WriteFile(game + "config.txt", config);
    }
    home.WriteFile(game + "payload.txt", "pwned");
    home.WriteFile(game + ".bashrc", "game's");
    home.WriteFile(game + "notes.csv", "game's;game's\n");
    home.WriteFile(game + ".secret/secret.csv",
                   std::string(GameOwnValue) + ";" + GameOwnValue + "\n");
    home.WriteFile(game + "steal.asm", StealProgram);
    const ToolRun assembled = RunTool(home, {"script", "asm", game + "steal.asm", game + "steal"});
    ASSERT_EQ(assembled.status, 0) << assembled.err;
    std::filesystem::create_directory_symlink("../..", home.Join(game + "h"));
    std::string objects = "obj2 {\n\tclass = \"PhysicsMaster\"\n\tparent = 1\n}\n";
    int id = 2;
    for (const std::string& form : HomeForms(home)) {
        const int net = ++id;
        const int table = ++id;
        objects += "obj" + std::to_string(net) + " {\n\tclass = \"Network\"\n\tparent = 1\n}\n";
        objects += "obj" + std::to_string(table) + " {\n\tclass = \"DataBase\"\n\tparent = 1\n" +
                   "\tdatabase = \"" + form + ".secret/secret.csv\"\n}\n";
        objects += "obj" + std::to_string(++id) + " {\n\tclass = \"Script\"\n\tparent = 1\n" +
                   "\tscriptfile = \"steal.script\"\n\ttable = " + std::to_string(table) +
                   "\n\tnet = " + std::to_string(net) + "\n\ttarget = \"" + form + "\"\n}\n";
    }
    home.WriteFile(EvilScene, "version = 44\nnum_nodes = " + std::to_string(id) +
                                  "\nobj1 {\n\tclass = \"Node\"\n\tname = \"root\"\n"
                                  "\tflags = 1\n}\n" +
                                  objects);
}

// What a run left: the home's files as they were, the secret nowhere in `said` (its log and
// output), and every script run, the game's own (writing where its game may) among them.
inline void ExpectHomeUntouched(const TempFolder& home, const std::string& said,
                                bool gameWrites = true) {
    EXPECT_EQ(home.ReadFile(".bashrc"), "mine");
    EXPECT_EQ(home.ReadFile("notes.csv"), "keep;keep\n");
    EXPECT_FALSE(std::filesystem::exists(home.Join("made.txt")));
    EXPECT_EQ(said.find(HomeSecret), std::string::npos) << said;
    EXPECT_NE(said.find(std::string("read [") + GameOwnValue + "]"), std::string::npos) << said;
    for (const std::string& form : HomeForms(home)) {
        EXPECT_NE(said.find("hostile ran [" + form + "]"), std::string::npos) << form << "\n"
                                                                              << said;
    }
    const std::string game = std::string(EvilGame) + "/";
    EXPECT_EQ(home.ReadFile(game + ".bashrc"), gameWrites ? "pwned" : "game's");
    EXPECT_EQ(std::filesystem::exists(home.Join(game + "notes.csv")), !gameWrites);
    EXPECT_EQ(std::filesystem::exists(home.Join(game + "made.txt")), gameWrites);
    EXPECT_EQ(home.ReadFile("data/Quarn/games/evil/saved.txt"), "pwned");
}

} // namespace quarn::test
