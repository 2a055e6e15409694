#pragma once

// The player started by quarn-tool's commands that run a scene: as quarn starts (settings,
// window, render device, classes), but without a display, sound card or dialogs.

#include "core/math/Vector.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

enum class HeadlessStart {
    Started,
    NoPlayer, // start-up failed: StartUpError() says why
    NoScene,  // the player started, but the scene did not load
};

// Starts the player on SCENE in place of the configuration's "autorun" (relative to the
// current folder, or a res:// path), as its own game (SceneGame): the nearest folder at or
// above it holding a "config.txt", else its own folder, never the current folder for being
// current. In a current folder holding a packed game ("data.zoo") a relative SCENE lies in the
// archive, as quarn finds its "autorun" and every file a scene names (on disk only when the
// archive lacks it). Each frame steps the game by
// `step` seconds, not by the clock, and particles take fixed seeds, so a run repeats exactly.
// A `size` above 0 is the window's size. Log lines go to the sink installed before.
HeadlessStart StartHeadlessPlayer(const std::string& scene, float step, Int2 size);

// Runs up to `frames` frames: fewer when the scene's root is disabled or a stop signal came
// (StopRequested()). Each counts as a step of WatchToolStopSignals.
void RunHeadlessFrames(int32_t frames);

// From here on the stop signals stop the command as a failure that says so, "stopped by a
// signal" followed by `lost` when given ("out.scene is left as it was"): what it writes is left
// as it was, with no temporary behind, however far it came. Every command of the tool watches.
void WatchToolStop(std::string lost);
// Says once on stderr why the command stopped (ToolStopReason): the command failing on the
// stop, or the watch ending a command that holds on, whichever comes first.
void SayToolStopped(bool cut = false);
// From here on the stop signals stop the tool as they stop the player, but never as a success:
// between two of its `planned` frames (or steps, as `unit` names them) the run ends and the
// command fails with ToolStopReason(); one that holds the process StopGraceSeconds after the
// signal is cut short, the process ending with that line and ExitFailed. `lost` says what the
// stop costs ("shot.png is not written"), or is empty. Called before the scene starts.
void WatchToolStopSignals(const char* unit, int32_t planned, std::string lost);
// One more frame or step ran whole.
void CountToolStep();
// "stopped by a signal after 3 of 100 frames; shot.png is not written"; `cut` says the step
// after the last counted was cut short. A command counting no steps: "stopped by a signal" and
// what it loses.
std::string ToolStopReason(bool cut = false);

// A path the tool's user gave, as the player must see it: relative to the current folder.
std::string FromCurrentFolder(const std::string& path);

// The lines every start of the player logs: news of its road, not warnings.
bool IsStartUpNews(const std::string& line);

// Why the start scene did not load, from every line logged since the player started: the
// loader's own reason (an old version, a header it cannot read) that came before the player's
// "could not be loaded", else that line; "" when nothing was logged.
std::string SceneLoadFailure(const std::vector<std::string>& lines);

} // namespace quarn
