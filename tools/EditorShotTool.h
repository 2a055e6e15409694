#pragma once

#include <string>

namespace quarn {

// quarn-tool's "editor-shot" command: "FOLDER OUT.png [--size WxH] [--frames N] [--input FILE]"
// runs the editor headless in FOLDER for N frames (1 unless given), the window WxH pixels with
// its menu bar, input played from FILE as QUARN_INPUT plays it, and writes the last image the
// window showed as OUT.png, also when the input ends the run. Returns 0 when done, 1 when it
// failed (`reason` says why) and 2 for bad usage.
int RunEditorShotTool(char** arguments, std::string& reason);

} // namespace quarn
