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
};

// Runs the built tool in `folder` with the environment's settings, its user folder in a scratch
// folder, and collects what it printed. No argument holds a single quote.
inline ToolRun RunTool(const TempFolder& folder, const std::vector<std::string>& arguments,
                       const std::string& environment = "") {
    TempFolder scratch;
    std::string command = "cd '" + folder.Path() + "' && " + environment + " XDG_DATA_HOME='" +
                          scratch.Path() + "' '" + QUARN_TOOL + "'";
    for (const std::string& argument : arguments) {
        command += " '" + argument + "'";
    }
    const int status = std::system(
        (command + " >'" + scratch.Join("out") + "' 2>'" + scratch.Join("err") + "'").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, scratch.ReadFile("out"),
            scratch.ReadFile("err")};
}

} // namespace quarn::test
