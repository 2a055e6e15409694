#pragma once

#include <string>

namespace quarn {

// quarn-tool's "lightmap" command: "SCENE [--bake] [--spacing D] [--save] [--atlas PATH]"
// starts the player headless on SCENE, runs one frame and runs the editor's lightmap commands
// on the whole scene, printing what they log. Returns 0 when done, 1 when it failed (`reason`
// says why) and 2 for bad usage.
int RunLightMapTool(char** arguments, std::string& reason);

} // namespace quarn
