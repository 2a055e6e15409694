#pragma once

#include <string>

namespace quarn {

// quarn-tool's "contacts" command: "SCENE A B [--max N]" loads the scene and prints the
// contacts of the collision volumes named A and B as the narrow phase finds them. Returns 0
// when done, 1 when it failed (`reason` says why) and 2 for bad usage.
int RunContactsTool(char** arguments, std::string& reason);

} // namespace quarn
