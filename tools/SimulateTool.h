#pragma once

#include <string>

namespace quarn {

// quarn-tool's "simulate" command: "SCENE --steps N [--every K] [--print NAME]... [--events]"
// loads the scene as the player opens one and runs N steps of its first physics world,
// printing the named bodies' state every K steps and, with --events, each event dispatched.
// Returns 0 when done, 1 when it failed (`reason` says why) and 2 for bad usage.
int RunSimulateTool(char** arguments, std::string& reason);

} // namespace quarn
