#pragma once

namespace quarn {

// The editor's undo history: installed at editor start-up, it records a step for every
// "addundolabel" the editing operations announce. The player installs none.
void InstallUndoHistory();
// Records from now on; the observer there before (the selection's) is still told every signal.
void FollowUndoLabels();
void RemoveUndoHistory();

} // namespace quarn
