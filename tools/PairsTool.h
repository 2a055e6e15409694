#pragma once

#include <string>

namespace quarn {

// quarn-tool's "pairs" command: "SCENE" loads the scene, files its collision volumes into its
// spaces as a physics world does and prints each space's candidate pairs of one step. Returns
// 0 when done and 1 when it failed (`reason` says why).
int RunPairsTool(char** arguments, std::string& reason);

} // namespace quarn
