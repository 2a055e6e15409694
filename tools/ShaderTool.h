#pragma once

// quarn-tool's "shader" command, apart from the tool's other commands as it has its own.

#include <string>

namespace quarn {

// "shader asm IN OUT", "shader dis FILE" or "shader syntax" (the arguments after "shader",
// null-terminated). Answers the exit status: 0 done, 1 failed, 2 bad usage; for 1 `reason` is
// the one line to print.
int RunShaderTool(char** arguments, std::string& reason);

} // namespace quarn
