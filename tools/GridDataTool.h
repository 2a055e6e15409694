#pragma once

// quarn-tool's "griddata" command: prints a grid data ("GR") file as GridData loads it.

#include <string>

namespace quarn {

// "griddata FILE" (the arguments after "griddata", null-terminated). Answers the exit status:
// 0 done, 1 failed with `reason` the one line to print.
int RunGridDataTool(char** arguments, std::string& reason);

} // namespace quarn
