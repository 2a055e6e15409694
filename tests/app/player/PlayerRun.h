#pragma once

// The built player run as a user runs it: in a folder of its own, without a display, sound card
// or anyone to answer a dialog.

#include "TestPaths.h"
#include "tests/support/TempFolder.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace quarn::test {

struct PlayerExit {
    int status = -1; // the exit status; -1 when the player did not exit normally
    std::string log; // the test's folder written as "~"
    std::string out; // what it printed on standard output
};

inline constexpr const char* Headless = "SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=null QUARN_LOG=1";

// Runs the player in `folder` with the environment's settings and the arguments; with
// `endAfter` it is sent SIGTERM once its log holds that text. A player still running after two
// minutes is stopped: a hang fails the test.
inline PlayerExit RunPlayerIn(const TempFolder& folder, const std::string& endAfter = "",
                              const std::string& environment = Headless,
                              const std::string& arguments = "") {
    TempFolder scratch;
    std::ostringstream script;
    script << "cd '" << folder.Path() << "' && env " << environment
           << " QUARN_DIALOGS=script XDG_DATA_HOME='" << folder.Join("data")
           << "' timeout 120 '" QUARN_PLAYER "' " << arguments << " 2>'" << scratch.Join("log")
           << "' >'" << scratch.Join("out") << "' & player=$!; ";
    if (!endAfter.empty()) {
        script << "for i in $(seq 1200); do grep -qF '" << endAfter << "' '" << scratch.Join("log")
               << "' && break; sleep 0.1; done; kill -TERM $player; ";
    }
    script << "wait $player";
    const int status = std::system(script.str().c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Tilde(scratch.ReadFile("log"), folder),
            scratch.ReadFile("out")};
}

} // namespace quarn::test
