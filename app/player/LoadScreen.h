#pragma once

#include <cstdint>

namespace quarn {

// While the engine starts and while a scene loads nothing else draws: each report of progress
// (0..1) draws and presents one whole frame. Its look comes from the configuration's
// "loadscreen_" keys. Nothing is drawn without a render device or inside a frame already
// begun (a scene loaded by a script during an update).
void ShowLoadScreen(float progress, const char* text);

// The scene reader's progress callback; the depth of nested loads is not shown. A load's first
// report (0) and its last (1) are drawn, and between them one report each quarter second at
// most, however many objects the scene holds. A stop signal (StopRequested) ends the process
// at the next report.
void ShowLoadProgress(int32_t depth, float progress, const char* text);

} // namespace quarn
