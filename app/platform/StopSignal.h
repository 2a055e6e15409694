#pragma once

namespace quarn {

// SIGTERM and SIGINT ask the program to end, the same way. From the first of them on,
// StopRequested() is true: the main loop closes the window as the user would (the editor then
// asks nothing), and a scene load ends the process at its next object. Whatever else holds the
// main thread (a script that runs for minutes, a huge image, a dialog), the process ends by
// itself StopGraceSeconds after the signal, with the status a close gives (0). Nothing it
// writes is left in part: files are written to a temporary that replaces the file only once
// whole, and a temporary left by an end in mid-write is removed by the next save beside it.
inline constexpr double StopGraceSeconds = 0.5;

// Installs the handlers and starts the thread that ends a process which does not end by
// itself; once per process, before start-up, so that a signal during start-up counts too.
void WatchStopSignals();
bool StopRequested();
// How a process the watch ends goes: with `status` instead of 0, `words` (when given) run first
// on the watch's own thread, while the main thread may still hold any lock (stdio's too).
void SetStopEnding(int status, void (*words)());

} // namespace quarn
