#pragma once

#include <string>

namespace quarn {

// quarn-tool's "editor-shot" command: "FOLDER OUT.png [--size WxH] [--frames N] [--input FILE]"
// runs the editor headless in FOLDER for N frames (1 unless given), the window WxH pixels with
// its menu bar at start-up (the View menu's sizes change it later), input played from FILE as
// QUARN_INPUT plays it, and writes the last image the window showed as OUT.png, also when the
// input ends the run. Returns 0 when done, 1 when it failed (`reason` says why; also after an
// input step that did nothing, the picture written all the same) and 2 for bad usage.
int RunEditorShotTool(char** arguments, std::string& reason);

// The editor's menu commands as input scripts name them, made from the menu bar the editor
// loads: a line "  cmd:ID  MENU > ITEM" each, in menu order; the recent files share one line.
std::string ListEditorCommands();

} // namespace quarn
