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
    double secondsAfterSignal = -1.0; // from the signal to the end; -1 when none was sent
};

inline constexpr const char* Headless = "SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=null QUARN_LOG=1";

// Runs the player in `folder` with the environment's settings and the arguments; with
// `endAfter` it is sent `signal` (SIGTERM or SIGINT, which a shell's background job would
// ignore, so the player starts with it at its default) once its log holds that text. A player
// still running after two minutes is stopped, and killed when it does not stop: a hang fails
// the test.
inline PlayerExit RunPlayerIn(const TempFolder& folder, const std::string& endAfter = "",
                              const std::string& environment = Headless,
                              const std::string& arguments = "",
                              const std::string& signal = "TERM") {
    TempFolder scratch;
    std::ostringstream script;
    script << "cd '" << folder.Path() << "' && env --default-signal=" << signal << " "
           << environment << " QUARN_DIALOGS=script XDG_DATA_HOME='" << folder.Join("data")
           << "' timeout -k 10 120 '" QUARN_PLAYER "' " << arguments << " 2>'"
           << scratch.Join("log") << "' >'" << scratch.Join("out") << "' & player=$!; ";
    if (!endAfter.empty()) {
        script << "for i in $(seq 6000); do grep -qsF '" << endAfter << "' '" << scratch.Join("log")
               << "' && break; sleep 0.02; done; sent=$(date +%s%N); kill -" << signal
               << " $player; ";
    }
    script << "wait $player; status=$?; [ -z \"$sent\" ] || echo $(($(date +%s%N) - sent)) >'"
           << scratch.Join("ended") << "'; exit $status";
    const int status = std::system(script.str().c_str());
    const std::string ended = scratch.ReadFile("ended");
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Tilde(scratch.ReadFile("log"), folder),
            scratch.ReadFile("out"), ended.empty() ? -1.0 : std::stod(ended) / 1e9};
}

} // namespace quarn::test
