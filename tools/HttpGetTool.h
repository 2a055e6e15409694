#pragma once

// quarn-tool's "http-get" command: runs a Network node's GET and prints the page.

#include <string>

namespace quarn {

// "http-get HOST PATH [--port N]" (the arguments after "http-get", null-terminated). Answers
// the exit status: 0 done, 1 failed with `reason` the one line to print, 2 for bad usage.
int RunHttpGetTool(char** arguments, std::string& reason);

} // namespace quarn
