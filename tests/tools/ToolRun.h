#pragma once

// Runs the built quarn-tool the way a developer runs it, as a child process.

#include "TestPaths.h"
#include "tests/support/TempFolder.h"

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace quarn::test {

// A closed cube of side 2 about the origin, its faces wound outward, for scenes that name a
// mesh.
inline constexpr const char* CubeObj =
    "v -1 -1 -1\nv 1 -1 -1\nv -1 1 -1\nv 1 1 -1\nv -1 -1 1\nv 1 -1 1\nv -1 1 1\nv 1 1 1\n"
    "f 1 3 2\nf 2 3 4\nf 5 6 7\nf 6 8 7\nf 1 2 5\nf 2 6 5\nf 3 7 4\nf 4 7 8\nf 1 5 3\n"
    "f 3 5 7\nf 2 4 6\nf 4 8 6\n";

struct ToolRun {
    int status = -1; // the exit status; -1 when the tool did not exit normally
    std::string out;
    std::string err;
    double secondsAfterSignal = -1.0; // from the signal to the end; -1 when none was sent
};

// Runs the built tool in the folder `path` with the environment's settings, its user folder in
// `dataHome` (a scratch folder when empty), and collects what it printed. No argument holds a
// single quote.
inline ToolRun RunToolIn(const std::string& path, const std::vector<std::string>& arguments,
                         const std::string& environment = "", const std::string& dataHome = "") {
    TempFolder scratch;
    std::string command = "cd '" + path + "' && " + environment + " XDG_DATA_HOME='" +
                          (dataHome.empty() ? scratch.Path() : dataHome) + "' '" + QUARN_TOOL + "'";
    for (const std::string& argument : arguments) {
        command += " '" + argument + "'";
    }
    const int status = std::system(
        (command + " >'" + scratch.Join("out") + "' 2>'" + scratch.Join("err") + "'").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, scratch.ReadFile("out"),
            scratch.ReadFile("err")};
}

inline ToolRun RunTool(const TempFolder& folder, const std::vector<std::string>& arguments,
                       const std::string& environment = "") {
    return RunToolIn(folder.Path(), arguments, environment);
}

// RunTool, but the tool is sent `signal` ("TERM" or "INT", at its default as a shell's
// background job would not have it) once its standard output holds `endAfter`. A tool still
// running after two minutes is stopped, and killed when it does not stop: a hang fails the test.
inline ToolRun RunToolUntilSignal(const TempFolder& folder,
                                  const std::vector<std::string>& arguments,
                                  const std::string& endAfter, const std::string& signal) {
    TempFolder scratch;
    std::string command = "cd '" + folder.Path() + "' && env --default-signal=" + signal +
                          " XDG_DATA_HOME='" + scratch.Path() + "' timeout -k 10 120 '" +
                          QUARN_TOOL + "'";
    for (const std::string& argument : arguments) {
        command += " '" + argument + "'";
    }
    command += " >'" + scratch.Join("out") + "' 2>'" + scratch.Join("err") + "' & tool=$!; " +
               "for i in $(seq 6000); do grep -qsF '" + endAfter + "' '" + scratch.Join("out") +
               "' && break; sleep 0.02; done; sent=$(date +%s%N); kill -" + signal +
               " $tool; wait $tool; status=$?; echo $(($(date +%s%N) - sent)) >'" +
               scratch.Join("ended") + "'; exit $status";
    const int status = std::system(command.c_str());
    std::string ended = "0";
    ended += scratch.ReadFile("ended");
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, scratch.ReadFile("out"),
            scratch.ReadFile("err"), std::stod(ended) / 1e9};
}

} // namespace quarn::test
