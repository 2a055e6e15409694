#pragma once

#include <sys/types.h>

namespace quarn {

// SIGTERM, SIGINT, SIGHUP and SIGQUIT ask the program to end, the same way. From the first of
// them on, StopRequested() is true: the main loop closes the window as the user would (the
// editor then asks nothing), and a scene load ends the process at its next object. Whatever
// else holds the main thread (a script that runs for minutes, a huge image, a dialog), the
// process ends by itself StopGraceSeconds after the signal, with the status a close gives (0).
// Nothing it writes is left in part: files are written to a temporary that replaces the file
// only once whole, no write replaces its file once the signal came (EndWrites), and the watch
// removes the temporaries of the writes it cuts short (one that a harder end left is removed by
// the next save beside it).
inline constexpr double StopGraceSeconds = 0.5;

// Installs the handlers and starts the thread that ends a process which does not end by
// itself, before start-up, so that a signal during start-up counts too. Later calls change
// nothing.
void WatchStopSignals();
bool StopRequested();
// How a process the watch ends goes: with `status` instead of 0, `words` (when given) run first
// on the watch's own thread, while the main thread may still hold any lock (stdio's too).
void SetStopEnding(int status, void (*words)());

// Held while a window-system message box is shown. The box runs in a process forked for it,
// which would inherit the handlers above (and so ignore a stop signal) and keeps the program's
// display connection (and so its window) open: a process forked meanwhile takes the signals'
// default actions and is killed when the program ends.
class ForkedBoxScope {
public:
    ForkedBoxScope();
    ~ForkedBoxScope();
    ForkedBoxScope(const ForkedBoxScope&) = delete;
    ForkedBoxScope& operator=(const ForkedBoxScope&) = delete;
};

// The process of an open dialog (an outside chooser), ended at once by a stop signal so that
// the dialog answers "cancelled" and the program closes as it would without one. One at a time,
// as dialogs are modal. Forgotten before the process is waited for, so that its id cannot be
// another process's by the time a signal comes.
void EndDialogProcessOnStop(pid_t process);
void ForgetDialogProcess();

} // namespace quarn
