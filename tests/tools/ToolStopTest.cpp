#include "TestPaths.h"
#include "tests/tools/ToolRun.h"

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::RunToolUntilSignal;
using test::ToolRun;

// A stopped tool ends within half a second of the signal; the bound leaves room for a busy
// machine, where one that does not end takes two minutes.
constexpr double SecondsToEnd = 3.0;

// A game whose start scene runs the script program `name` of the test data: "spin" prints
// "spinning" and never ends its frame, "steps" prints a line every frame.
void WriteScriptGame(test::TempFolder& folder, const std::string& name) {
    for (const char* extension : {".bin", ".sym"}) {
        std::ifstream program(std::string(QUARN_TEST_DATA "/scripts/") + name + extension,
                              std::ios::binary);
        folder.WriteFile("game/" + name + extension,
                         std::string(std::istreambuf_iterator<char>(program), {}));
    }
    folder.WriteFile("game/level.scene", "version = 44\nnum_nodes = 2\nobj1 {\n\tclass = "
                                         "\"Node\"\n\tflags = 1\n}\nobj2 {\n\tclass = \"Script\"\n"
                                         "\tparent = 1\n\tflags = 1\n\tscriptfile = \"" +
                                             name + ".script\"\n}\n");
    folder.WriteFile("game/config.txt", "autorun = \"level.scene\"\n");
}

// SIGTERM and SIGINT stop the tools that run a scene as they stop the player, inside a frame
// that never ends too, but as a failure that says how far the run came, and with no picture
// that would pass for the last frame's.
TEST(ToolStop, AStopSignalEndsTheRunAsAFailureSayingHowManyFramesRan) {
    const struct {
        const char* program;
        std::vector<std::string> arguments;
        const char* signal;
        std::string prefix; // of the one line on stderr
        std::string suffix;
    } cases[] = {
        {"spin",
         {"render", "game/level.scene", "--frames", "100", "--out", "shot.png"},
         "TERM",
         "quarn-tool: stopped by a signal during frame 1 of 100 (0 ran whole); shot.png is not "
         "written\n",
         ""},
        {"spin",
         {"render", "game/level.scene", "--frames", "100", "--out", "shot.png"},
         "INT",
         "quarn-tool: stopped by a signal during frame 1 of 100 (0 ran whole); shot.png is not "
         "written\n",
         ""},
        {"steps",
         {"render", "game/level.scene", "--frames", "100000", "--out", "shot.png"},
         "TERM",
         "quarn-tool: stopped by a signal after ",
         " of 100000 frames; shot.png is not written\n"},
        {"spin",
         {"editor-shot", "game", "shot.png", "--frames", "50"},
         "TERM",
         "quarn-tool: stopped by a signal during frame 1 of 50 (0 ran whole); shot.png is not "
         "written\n",
         ""},
    };
    for (const auto& c : cases) {
        test::TempFolder folder;
        WriteScriptGame(folder, c.program);
        const std::string what = c.arguments[0] + " " + c.program + " " + c.signal;
        ToolRun run = RunToolUntilSignal(folder, c.arguments, "\n", c.signal);
        EXPECT_EQ(run.status, 1) << what << "\n" << run.err;
        EXPECT_LT(run.secondsAfterSignal, SecondsToEnd) << what;
        const size_t stopped = run.err.rfind("quarn-tool: stopped");
        const std::string line = stopped == std::string::npos ? run.err : run.err.substr(stopped);
        EXPECT_TRUE(line.starts_with(c.prefix)) << what << "\n" << run.err;
        EXPECT_TRUE(line.ends_with(c.suffix)) << what << "\n" << run.err;
        EXPECT_FALSE(std::filesystem::exists(folder.Join("shot.png"))) << what;
    }
}

// Steps of a world are counted as a scene's frames are.
TEST(ToolStop, AStoppedSimulationSaysHowManyStepsRan) {
    test::TempFolder folder;
    folder.WriteFile("fall.scene", "version = 44\nnum_nodes = 3\nobj1 {\n\tclass = \"Node\"\n}\n"
                                   "obj2 {\n\tclass = \"PhysicsMaster\"\n\tparent = 1\n}\n"
                                   "obj3 {\n\tclass = \"RigidBody\"\n\tname = \"body\"\n"
                                   "\tparent = 1\n\tprev = 2\n}\n");
    ToolRun run = RunToolUntilSignal(
        folder, {"simulate", "fall.scene", "--steps", "1000000000", "--print", "body"}, "step 1 ",
        "TERM");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_LT(run.secondsAfterSignal, SecondsToEnd);
    ASSERT_NE(run.out.rfind("step "), std::string::npos) << run.out;
    const std::string last = run.out.substr(run.out.rfind("step ") + 5);
    const std::string steps = last.substr(0, last.find(' '));
    EXPECT_EQ(run.err, "quarn-tool: stopped by a signal after " + steps + " of 1000000000 steps\n");
}

// A pack stopped late, in its copy to OUT (once OUT's temporary shows beside it), fails saying
// so and leaves OUT as it was, with no temporary behind: each stop signal alike.
TEST(ToolStop, AStoppedPackLeavesOutAsItWasAndNoFileBehind) {
    std::mt19937 random(7);
    std::string noise(24 << 20, '\0');
    for (char& byte : noise) {
        byte = static_cast<char>(random());
    }
    for (const char* signal : {"TERM", "HUP"}) {
        test::TempFolder folder;
        folder.WriteFile("game/noise.bin", noise);
        folder.WriteFile("out.zoo", "old");
        test::TempFolder scratch;
        const std::string command =
            "cd '" + folder.Path() + "' && env --default-signal=" + signal + " XDG_DATA_HOME='" +
            scratch.Path() + "' timeout -k 10 120 '" + QUARN_TOOL + "' pack game out.zoo 2>'" +
            scratch.Join("err") + "' & tool=$!; for i in $(seq 12000); do ls -a '" + folder.Path() +
            "' | grep -q '^\\.out\\.zoo\\..*\\.tmp$' && break; sleep 0.01; done; kill -" + signal +
            " $tool; wait $tool";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << signal << ": " << status;
        EXPECT_EQ(scratch.ReadFile("err"),
                  "quarn-tool: stopped by a signal; out.zoo is left as it was\n")
            << signal;
        EXPECT_EQ(folder.ReadFile("out.zoo"), "old") << signal;
        for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
            EXPECT_FALSE(entry.path().filename().string().ends_with(".tmp"))
                << signal << ": " << entry.path();
        }
    }
}

// Runs the tool in `folder` and sends it `signal` (at its default, as a shell's background job
// would not have it) as soon as it has its handler, which /proc tells: whatever the command is
// doing by then. A tool that does not end within a minute is killed, failing the test.
ToolRun RunToolStoppedOnceWatching(const test::TempFolder& folder,
                                   const std::vector<std::string>& arguments, int signal) {
    test::TempFolder scratch;
    const std::string name = std::string(sigabbrev_np(signal));
    std::string command = "cd '" + folder.Path() + "' && env --default-signal=" + name +
                          " XDG_DATA_HOME='" + scratch.Path() + "' '" + QUARN_TOOL + "'";
    for (const std::string& argument : arguments) {
        command += " '" + argument + "'";
    }
    command += " 2>'" + scratch.Join("err") + "' & tool=$!; for i in $(seq 100000); do " +
               "mask=$(awk '/^SigCgt/ {print $2}' /proc/$tool/status 2>/dev/null); " +
               "[ -n \"$mask\" ] && [ $(( 0x$mask >> " + std::to_string(signal - 1) +
               " & 1 )) = 1 ] && break; done; kill -" + name +
               " $tool; for i in $(seq 600); do kill -0 $tool 2>/dev/null || break; sleep 0.1; "
               "done; kill -KILL $tool 2>/dev/null; wait $tool";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", scratch.ReadFile("err")};
}

// A command that writes a file, stopped by any stop signal wherever it is (reading its input,
// its temporary open, about to put it in place), fails saying so every time and leaves its file
// as it was, with no temporary beside it.
TEST(ToolStop, AStoppedCommandSaysSoAndLeavesItsFileAsItWasWithNoTemporary) {
    test::TempFolder folder;
    std::string scene = "version = 44\nnum_nodes = 20000\nobj1 {\n\tclass = \"Node\"\n}\n";
    for (int id = 2; id <= 20000; ++id) {
        scene += "obj" + std::to_string(id) + " {\n\tclass = \"Pivot\"\n\tparent = 1\n}\n";
    }
    folder.WriteFile("big.scene", scene);
    std::mt19937 random(11);
    std::string noise(8 << 20, '\0');
    for (char& byte : noise) {
        byte = static_cast<char>(random());
    }
    folder.WriteFile("game/noise.bin", noise);
    const std::vector<std::string> commands[] = {{"scene", "big.scene", "out.scene"},
                                                 {"pack", "game", "out.zoo"}};
    for (const auto& arguments : commands) {
        for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
            const std::string& out = arguments[2];
            folder.WriteFile(out, "old");
            const ToolRun run = RunToolStoppedOnceWatching(folder, arguments, signal);
            const std::string what = arguments[0] + " " + sigabbrev_np(signal);
            EXPECT_EQ(run.status, 1) << what << "\n" << run.err;
            EXPECT_EQ(run.err, "quarn-tool: stopped by a signal; " + out + " is left as it was\n")
                << what;
            EXPECT_EQ(folder.ReadFile(out), "old") << what;
            for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
                EXPECT_FALSE(entry.path().filename().string().ends_with(".tmp"))
                    << what << ": " << entry.path();
            }
        }
    }
}

} // namespace
} // namespace quarn
